#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string_view>

namespace studio {

using SteadyClock = std::chrono::steady_clock;

// How the watchdog decides that nobody is looking at the page any more.
inline constexpr auto watchdog_period = std::chrono::seconds(5);
inline constexpr auto first_ping_grace = std::chrono::seconds(90);
inline constexpr auto silence_allowed = std::chrono::seconds(15);

inline constexpr std::string_view watchdog_exit_line = "No open preview tab \xE2\x80\x94 exiting.";

// The heartbeat record shared by the ping route (the only writer) and the watchdog (the reader).
// Both fields are lock-free atomics; the time is published before the flag so that a reader that
// sees pinged == true also sees the time written with it.
class HeartbeatState {
public:
    struct Snapshot {
        bool pinged = false;
        std::uint64_t last_ping_ms = 0;
    };

    explicit HeartbeatState(SteadyClock::time_point started) noexcept : started_(started) {}

    static std::shared_ptr<HeartbeatState> create(SteadyClock::time_point now) {
        return std::make_shared<HeartbeatState>(now);
    }

    SteadyClock::time_point started() const noexcept { return started_; }

    // Records a ping at `now`: whole milliseconds since `started`, rounded down. Never blocks.
    void mark_ping(SteadyClock::time_point now) noexcept;

    Snapshot snapshot() const noexcept;

private:
    const SteadyClock::time_point started_;
    std::atomic<std::uint64_t> last_ping_ms_{0};
    std::atomic<bool> pinged_{false};
};

// The watchdog's decision at one check, as a pure function of the time since start-up and the
// record: more than 15 s of silence after a ping, or more than 90 s without any ping. A check
// that finds elapsed below the recorded ping (written between the clock reading and the check)
// counts as no silence at all.
bool watchdog_gives_up(SteadyClock::duration elapsed, HeartbeatState::Snapshot state) noexcept;

} // namespace studio
