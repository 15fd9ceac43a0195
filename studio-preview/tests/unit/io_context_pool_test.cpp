// The worker threads: one context per thread, work stays on its context's thread, and the pool's
// threads end once released contexts run out of work.

#include "io_context_pool.hpp"

#include <atomic>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace asio = boost::asio;

TEST(IoContextPool, EachContextRunsOnOneThreadOfItsOwn) {
    studio::IoContextPool pool(3);
    ASSERT_EQ(pool.size(), 3u);
    std::mutex mutex;
    std::vector<std::set<std::thread::id>> seen(pool.size());
    for (int round = 0; round < 50; ++round) {
        for (std::size_t i = 0; i < pool.size(); ++i) {
            asio::post(pool.context(i), [&, i] {
                std::lock_guard lock(mutex);
                seen[i].insert(std::this_thread::get_id());
            });
        }
    }
    pool.release();
    pool.join();
    std::set<std::thread::id> all;
    for (const auto& ids : seen) {
        ASSERT_EQ(ids.size(), 1u) << "a context's work ran on more than one thread";
        all.insert(*ids.begin());
    }
    EXPECT_EQ(all.size(), pool.size()) << "two contexts shared a thread";
    EXPECT_EQ(all.count(std::this_thread::get_id()), 0u);
}

TEST(IoContextPool, ReleasedThreadsEndOnlyWhenTheirWorkIsDone) {
    studio::IoContextPool pool(2);
    std::atomic<int> done{0};
    // A chain of work that posts more work: the thread must not end in between.
    std::function<void(int)> step = [&](int left) {
        if (left == 0) {
            ++done;
            return;
        }
        asio::post(pool.context(1), [&, left] { step(left - 1); });
    };
    asio::post(pool.context(1), [&] { step(1000); });
    asio::steady_timer timer(pool.context(0), std::chrono::milliseconds(20));
    timer.async_wait([&](boost::system::error_code ec) {
        if (!ec) {
            ++done;
        }
    });
    pool.release();
    pool.join();
    EXPECT_EQ(done, 2);
}

TEST(IoContextPool, AtLeastOneThread) {
    studio::IoContextPool pool(0);
    EXPECT_EQ(pool.size(), 1u);
}
