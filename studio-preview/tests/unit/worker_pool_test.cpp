// The worker threads: one context per thread, work stays on its worker's thread, and the drain
// closes every worker's connections and ends the threads once their work is done.

#include "http_connection.hpp"
#include "worker_pool.hpp"

#include <atomic>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <sys/socket.h>
#include <thread>
#include <vector>

namespace asio = boost::asio;

TEST(WorkerPool, EachContextRunsOnOneThreadOfItsOwn) {
    studio::WorkerPool pool(3);
    ASSERT_EQ(pool.size(), 3u);
    std::mutex mutex;
    std::vector<std::set<std::thread::id>> seen(pool.size());
    for (int round = 0; round < 50; ++round) {
        for (std::size_t i = 0; i < pool.size(); ++i) {
            asio::post(pool[i].context, [&, i] {
                std::lock_guard lock(mutex);
                seen[i].insert(std::this_thread::get_id());
            });
        }
    }
    pool.drain();
    pool.join();
    std::set<std::thread::id> all;
    for (const auto& ids : seen) {
        ASSERT_EQ(ids.size(), 1u) << "a context's work ran on more than one thread";
        all.insert(*ids.begin());
    }
    EXPECT_EQ(all.size(), pool.size()) << "two contexts shared a thread";
    EXPECT_EQ(all.count(std::this_thread::get_id()), 0u);
}

TEST(WorkerPool, DrainedThreadsEndOnlyWhenTheirWorkIsDone) {
    studio::WorkerPool pool(2);
    std::atomic<int> done{0};
    // A chain of work that posts more work: the thread must not end in between.
    std::function<void(int)> step = [&](int left) {
        if (left == 0) {
            ++done;
            return;
        }
        asio::post(pool[1].context, [&, left] { step(left - 1); });
    };
    asio::post(pool[1].context, [&] { step(1000); });
    asio::steady_timer timer(pool[0].context, std::chrono::milliseconds(20));
    timer.async_wait([&](boost::system::error_code ec) {
        if (!ec) {
            ++done;
        }
    });
    pool.drain();
    pool.join();
    EXPECT_EQ(done, 2);
}

TEST(WorkerPool, TheDrainClosesEveryWorkersIdleConnections) {
    studio::WorkerPool pool(2);
    const auto router = std::make_shared<const studio::Router>(
        studio::HeartbeatState::create(studio::SteadyClock::now()));
    std::vector<asio::ip::tcp::socket> clients;
    for (std::size_t i = 0; i < pool.size(); ++i) {
        auto& worker = pool[i];
        int ends[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
        clients.emplace_back(worker.context, asio::ip::tcp::v4(), ends[0]);
        auto connection = std::make_shared<studio::HttpConnection>(
            asio::ip::tcp::socket(worker.context, asio::ip::tcp::v4(), ends[1]), router,
            worker.dates);
        asio::post(worker.context, [&worker, connection] { worker.connections.start(connection); });
    }
    pool.drain();
    pool.join(); // returns only once every connection has closed
    for (std::size_t i = 0; i < pool.size(); ++i) {
        EXPECT_EQ(pool[i].connections.open_count(), 0u) << "worker " << i;
        std::array<char, 1> one{};
        boost::system::error_code ec;
        clients[i].read_some(asio::buffer(one), ec);
        EXPECT_EQ(ec, asio::error::eof) << "closed by the server, worker " << i;
    }
}

TEST(WorkerPool, AtLeastOneThread) {
    studio::WorkerPool pool(0);
    EXPECT_EQ(pool.size(), 1u);
}
