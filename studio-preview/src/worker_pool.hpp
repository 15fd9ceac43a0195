#pragma once

#include "connection_manager.hpp"
#include "http_date.hpp"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <cstddef>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace studio {

// One worker thread and what it alone touches: its io_context, the connections it serves and its
// date field. Work given to the context stays on this thread, so none of it needs a strand or a
// lock.
struct Worker {
    boost::asio::io_context context{1};
    ConnectionManager connections;
    DateCache dates;
    // Keeps the thread running while the context has nothing to do, until the drain.
    std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> guard{
        context.get_executor()};
    std::thread thread;
};

// The worker threads, each running its own worker's context.
class WorkerPool {
public:
    // Starts `threads` workers (at least one).
    explicit WorkerPool(std::size_t threads);
    // Abandons whatever work is left and waits for the threads.
    ~WorkerPool();

    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    std::size_t size() const noexcept { return workers_.size(); }
    Worker& operator[](std::size_t i) { return *workers_[i]; }

    // Tells every worker to close its connections (idle ones at once, busy ones after their
    // answer) and to end once its context has nothing left to do.
    void drain();
    // Waits for every thread to end.
    void join();

private:
    void stop();

    std::vector<std::unique_ptr<Worker>> workers_;
};

} // namespace studio
