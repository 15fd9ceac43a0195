#include "heartbeat.hpp"

#include "platform/platform.hpp"

#include <boost/asio/dispatch.hpp>

namespace studio {

void HeartbeatState::mark_ping(SteadyClock::time_point now) noexcept {
    const auto elapsed = now - started_;
    const auto ms =
        elapsed.count() > 0
            ? static_cast<std::uint64_t>(
                  std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count())
            : 0;
    // Time first, flag second: the release on the flag publishes the time along with it.
    last_ping_ms_.store(ms, std::memory_order_release);
    pinged_.store(true, std::memory_order_release);
}

HeartbeatState::Snapshot HeartbeatState::snapshot() const noexcept {
    Snapshot s;
    s.pinged = pinged_.load(std::memory_order_acquire);
    s.last_ping_ms = last_ping_ms_.load(std::memory_order_acquire);
    return s;
}

bool watchdog_gives_up(SteadyClock::duration elapsed, HeartbeatState::Snapshot state) noexcept {
    if (!state.pinged) {
        return elapsed > first_ping_grace;
    }
    // A recorded time beyond what the clock can express lies in the future: no silence yet.
    constexpr auto max_ms = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::duration::max())
            .count());
    if (state.last_ping_ms >= max_ms) {
        return false;
    }
    const auto last_ping = std::chrono::duration_cast<SteadyClock::duration>(
        std::chrono::milliseconds(static_cast<std::int64_t>(state.last_ping_ms)));
    if (elapsed < last_ping) {
        return false;
    }
    return elapsed - last_ping > silence_allowed;
}

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
