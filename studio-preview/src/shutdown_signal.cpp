#include "shutdown_signal.hpp"

#include "platform/platform.hpp"

#include <boost/asio/post.hpp>

namespace studio {

ShutdownSignal::ShutdownSignal(boost::asio::any_io_executor executor,
                               std::shared_ptr<HeartbeatState> state)
    : executor_(std::move(executor)), timer_(executor_), state_(std::move(state)) {}

ShutdownSignal::~ShutdownSignal() = default;

void ShutdownSignal::start(std::function<void()> on_fire) {
    on_fire_ = std::move(on_fire);
    // Registered here, on the caller's thread, so that Ctrl-C is heard from the moment serving
    // starts. An interrupt may already be handled on the executor before this call returns, so
    // the registration is handed over to the executor rather than stored from this thread.
    auto interrupt = platform::watch_interrupt(executor_, [weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->fire();
        }
    });
    boost::asio::post(executor_, [self = shared_from_this(),
                                  interrupt = std::move(interrupt)]() mutable {
        if (!interrupt) {
            // Without a way to hear Ctrl-C the launcher stops as if it had been pressed.
            self->fire();
            return;
        }
        if (self->fired_) {
            return; // Ctrl-C came first; dropping the registration restores the default handling
        }
        self->interrupt_ = std::move(interrupt);
        self->check();
    });
}

void ShutdownSignal::check() {
    if (fired_) {
        return;
    }
    const auto elapsed = SteadyClock::now() - state_->started();
    if (watchdog_gives_up(elapsed, state_->snapshot())) {
        platform::write_stdout_line(watchdog_exit_line);
        fire();
        return;
    }
    // A periodic timer: each deadline is a whole period after the previous one.
    if (timer_.expiry() == SteadyClock::time_point{}) {
        timer_.expires_after(watchdog_period);
    } else {
        timer_.expires_at(timer_.expiry() + watchdog_period);
    }
    timer_.async_wait([weak = weak_from_this()](boost::system::error_code ec) {
        if (ec) {
            return;
        }
        if (auto self = weak.lock()) {
            self->check();
        }
    });
}

void ShutdownSignal::fire() {
    if (fired_) {
        return;
    }
    fired_ = true;
    timer_.cancel();
    // From now on a further Ctrl-C gets the system's default handling.
    interrupt_.reset();
    state_.reset();
    if (on_fire_) {
        auto f = std::move(on_fire_);
        f();
    }
}

} // namespace studio
