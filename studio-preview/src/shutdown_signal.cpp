#include "shutdown_signal.hpp"

#include "platform/platform.hpp"

#include <boost/asio/dispatch.hpp>

namespace studio {

ShutdownSignal::ShutdownSignal(boost::asio::any_io_executor workers,
                               std::shared_ptr<HeartbeatState> state)
    : strand_(boost::asio::make_strand(workers)), timer_(strand_), state_(std::move(state)) {}

ShutdownSignal::~ShutdownSignal() = default;

void ShutdownSignal::start(std::function<void()> on_fire) {
    // Registered here, on the caller's thread, so that Ctrl-C is heard from the moment serving
    // starts; nothing else touches this object before start() returns.
    on_fire_ = std::move(on_fire);
    interrupt_ = platform::watch_interrupt(strand_, [weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->fire();
        }
    });
    boost::asio::dispatch(strand_, [self = shared_from_this()] {
        if (!self->interrupt_) {
            // Without a way to hear Ctrl-C the launcher stops as if it had been pressed.
            self->fire();
            return;
        }
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
