#pragma once

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <cstddef>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace studio {

// The worker threads: one io_context per thread, each run by its own thread only. Work given to
// a context stays on that thread, so what it touches needs no strand and no lock.
class IoContextPool {
public:
    // Starts `threads` threads (at least one). Each context is kept running by a work guard until
    // release().
    explicit IoContextPool(std::size_t threads);
    ~IoContextPool();

    IoContextPool(const IoContextPool&) = delete;
    IoContextPool& operator=(const IoContextPool&) = delete;

    std::size_t size() const noexcept { return workers_.size(); }
    boost::asio::io_context& context(std::size_t i) { return workers_[i]->context; }

    // From now on each thread ends as soon as its context has run out of work.
    void release();
    // Waits for every thread to end.
    void join();
    // Abandons whatever work is left and waits for the threads.
    void stop();

private:
    struct Worker {
        boost::asio::io_context context{1};
        std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>>
            guard{context.get_executor()};
        std::thread thread;
    };
    std::vector<std::unique_ptr<Worker>> workers_;
};

} // namespace studio
