#include "heartbeat.hpp"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using studio::HeartbeatState;
using studio::watchdog_gives_up;

namespace {
HeartbeatState::Snapshot never() {
    return {false, 0};
}
HeartbeatState::Snapshot pinged_at(std::uint64_t ms) {
    return {true, ms};
}
} // namespace

TEST(WatchdogDecision, WaitsNinetySecondsForTheFirstPing) {
    EXPECT_FALSE(watchdog_gives_up(0s, never()));
    EXPECT_FALSE(watchdog_gives_up(85s, never()));
    EXPECT_FALSE(watchdog_gives_up(90s, never())) << "exactly 90 s is not more than 90 s";
    EXPECT_TRUE(watchdog_gives_up(90s + 1ns, never()));
    EXPECT_TRUE(watchdog_gives_up(95s, never()));
}

TEST(WatchdogDecision, AllowsFifteenSecondsOfSilenceAfterAPing) {
    // One ping at 10 s, then checks every 5 s: the first check after 25 s gives up.
    EXPECT_FALSE(watchdog_gives_up(15s, pinged_at(10'000)));
    EXPECT_FALSE(watchdog_gives_up(20s, pinged_at(10'000)));
    EXPECT_FALSE(watchdog_gives_up(25s, pinged_at(10'000))) << "exactly 15 s of silence";
    EXPECT_TRUE(watchdog_gives_up(25s + 1ms, pinged_at(10'000)));
    EXPECT_TRUE(watchdog_gives_up(30s, pinged_at(10'000)));
}

TEST(WatchdogDecision, APingLongAfterStartUpKeepsItAliveBeyondTheFirstGrace) {
    EXPECT_FALSE(watchdog_gives_up(200s, pinged_at(190'000)));
    EXPECT_TRUE(watchdog_gives_up(206s, pinged_at(190'000)));
}

TEST(WatchdogDecision, ElapsedBelowTheRecordedPingCountsAsNoSilence) {
    EXPECT_FALSE(watchdog_gives_up(9s, pinged_at(10'000)));
    EXPECT_FALSE(watchdog_gives_up(0s, pinged_at(std::uint64_t{1} << 62)));
}

TEST(HeartbeatState, StartsUnpingedAndRecordsWholeMillisecondsRoundedDown) {
    const auto t0 = studio::SteadyClock::now();
    HeartbeatState state(t0);
    EXPECT_EQ(state.started(), t0);
    EXPECT_FALSE(state.snapshot().pinged);
    EXPECT_EQ(state.snapshot().last_ping_ms, 0u);

    state.mark_ping(t0 + 1234ms + 999us);
    EXPECT_TRUE(state.snapshot().pinged);
    EXPECT_EQ(state.snapshot().last_ping_ms, 1234u);

    state.mark_ping(t0 + 10s);
    EXPECT_EQ(state.snapshot().last_ping_ms, 10'000u);

    // A clock reading before the start cannot make the time wrap around.
    state.mark_ping(t0 - 5s);
    EXPECT_TRUE(state.snapshot().pinged);
    EXPECT_EQ(state.snapshot().last_ping_ms, 0u);
}

TEST(HeartbeatState, ReadersNeverSeeTheFlagWithoutItsTime) {
    // Every ping is at least 1 s after the start, so a reader that sees the flag must see a time
    // of at least 1000 ms.
    for (int round = 0; round < 50; ++round) {
        const auto t0 = studio::SteadyClock::now();
        HeartbeatState state(t0);
        std::atomic<bool> go{false};
        std::atomic<int> bad{0};
        std::vector<std::thread> threads;
        for (int w = 0; w < 4; ++w) {
            threads.emplace_back([&, w] {
                while (!go.load()) {
                }
                for (int i = 0; i < 200; ++i) {
                    state.mark_ping(t0 + 1s + std::chrono::milliseconds(w * 1000 + i));
                }
            });
        }
        threads.emplace_back([&] {
            while (!go.load()) {
            }
            for (int i = 0; i < 2000; ++i) {
                const auto s = state.snapshot();
                if (s.pinged && s.last_ping_ms < 1000) {
                    ++bad;
                }
            }
        });
        go = true;
        for (auto& t : threads) {
            t.join();
        }
        ASSERT_EQ(bad.load(), 0);
        const auto last = state.snapshot().last_ping_ms;
        EXPECT_GE(last, 1000u);
        EXPECT_LT(last, 5200u);
    }
}
