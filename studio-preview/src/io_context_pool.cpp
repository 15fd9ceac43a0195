#include "io_context_pool.hpp"

#include <algorithm>

namespace studio {

IoContextPool::IoContextPool(std::size_t threads) {
    threads = std::max<std::size_t>(1, threads);
    workers_.reserve(threads);
    for (std::size_t i = 0; i < threads; ++i) {
        workers_.push_back(std::make_unique<Worker>());
    }
    // Threads start only once every context exists, so none of them sees a half-built pool.
    for (auto& w : workers_) {
        w->thread = std::thread([&context = w->context] { context.run(); });
    }
}

IoContextPool::~IoContextPool() {
    stop();
}

void IoContextPool::release() {
    for (auto& w : workers_) {
        w->guard.reset();
    }
}

void IoContextPool::join() {
    for (auto& w : workers_) {
        if (w->thread.joinable()) {
            w->thread.join();
        }
    }
}

void IoContextPool::stop() {
    release();
    for (auto& w : workers_) {
        w->context.stop();
    }
    join();
}

} // namespace studio
