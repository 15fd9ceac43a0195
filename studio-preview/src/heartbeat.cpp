#include "heartbeat.hpp"

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

} // namespace studio
