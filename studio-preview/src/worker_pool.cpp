#include "worker_pool.hpp"

#include <algorithm>
#include <boost/asio/post.hpp>

namespace studio {

WorkerPool::WorkerPool(std::size_t threads) {
    threads = std::max<std::size_t>(1, threads);
    workers_.reserve(threads);
    for (std::size_t i = 0; i < threads; ++i) {
        workers_.push_back(std::make_unique<Worker>());
    }
    // Threads start only once every worker exists, so none of them sees a half-built pool.
    try {
        for (auto& w : workers_) {
            w->thread = std::thread([&context = w->context] { context.run(); });
        }
    } catch (...) {
        // The threads already running must end before the pool goes, or the process aborts.
        stop();
        throw;
    }
}

WorkerPool::~WorkerPool() {
    stop();
}

void WorkerPool::stop() {
    for (auto& w : workers_) {
        w->context.stop();
    }
    join();
}

void WorkerPool::drain() {
    for (auto& w : workers_) {
        boost::asio::post(w->context, [&connections = w->connections] { connections.stop_all(); });
        w->guard.reset();
    }
}

void WorkerPool::join() {
    for (auto& w : workers_) {
        if (w->thread.joinable()) {
            w->thread.join();
        }
    }
}

} // namespace studio
