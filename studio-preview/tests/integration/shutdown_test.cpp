// The graceful stop: idle connections close at once, a request in flight is finished first, new
// connections are refused.

#include "fixture.hpp"

using itest::LauncherTest;
using itest::RawConnection;
using namespace std::chrono_literals;

TEST_F(LauncherTest, IdleAndUnusedConnectionsDoNotHoldTheStop) {
    SKIP_UNLESS_SIGNALS_REACH_THE_LAUNCHER();
    RawConnection used(port);
    used.send("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_TRUE(used.read_answer());
    // A browser's speculative connection: opened, never written to.
    RawConnection speculative(port);
    ASSERT_TRUE(speculative.connected());
    ASSERT_TRUE(itest::wait_until([&] { return itest::receive_queue(port, 0) == 0u; }, 20s))
        << "the launcher did not accept the connection";

    // Shorter than any timeout that could end them.
    launcher->send_signal(SIGINT);
    const auto status = launcher->wait_exit(9s);
    ASSERT_TRUE(status) << "the drain waited for idle connections";
    EXPECT_EQ(*status, 0);
    EXPECT_TRUE(used.closed_by_peer(1s));
    EXPECT_TRUE(speculative.closed_by_peer(1s));
}

TEST_F(LauncherTest, ARequestInFlightIsFinishedBeforeTheStop) {
    SKIP_UNLESS_SIGNALS_REACH_THE_LAUNCHER();
    RawConnection c(port);
    c.send("GET /app.js HTTP/1.1\r\nHost: x\r\n");
    ASSERT_TRUE(
        itest::wait_until([&] { return itest::receive_queue(port, c.local_port()) == 0u; }, 20s))
        << "the launcher did not read the request's first bytes";
    launcher->send_signal(SIGINT);
    // The stop has begun once new connections are refused.
    EXPECT_TRUE(itest::wait_until([&] { return !RawConnection(port).connected(); }, 20s))
        << "a new connection after the signal must be refused";
    EXPECT_TRUE(launcher->running()) << "stopped before the request in flight was answered";

    c.send("\r\n");
    const auto a = c.read_answer();
    ASSERT_TRUE(a);
    EXPECT_EQ(a->status, 200);
    EXPECT_EQ(a->body, itest::web_file("app.js"));
    EXPECT_EQ(a->get("connection"), "close");
    EXPECT_TRUE(c.closed_by_peer());

    const auto status = launcher->wait_exit(20s);
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, 0);
    EXPECT_EQ(launcher->stdout_lines().size(), 2u) << "Ctrl-C prints nothing";
    EXPECT_EQ(launcher->stderr_text(), "");
}

TEST_F(LauncherTest, CtrlCAndTerminationEndSilentlyWithStatusZero) {
    SKIP_UNLESS_SIGNALS_REACH_THE_LAUNCHER();
    ASSERT_TRUE(itest::fetch(port, "GET", "/__studio/ping"));
    launcher->send_signal(SIGINT);
    auto status = launcher->wait_exit(20s);
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, 0);
    EXPECT_EQ(launcher->stdout_lines().size(), 2u);
    EXPECT_EQ(launcher->stderr_text(), "");

    start();
    // Signals are listened for once serving has started, which an answer proves.
    ASSERT_TRUE(itest::fetch(port, "GET", "/__studio/ping"));
    launcher->send_signal(SIGTERM);
    status = launcher->wait_exit(20s);
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, 0);
    EXPECT_EQ(launcher->stdout_lines().size(), 2u);
    EXPECT_EQ(launcher->stderr_text(), "");
}

TEST_F(LauncherTest, FifteenSecondsOfSilenceAfterAPingEndTheLauncher) {
    const auto ping = itest::fetch(port, "GET", "/__studio/ping");
    ASSERT_TRUE(ping);
    ASSERT_EQ(ping->status, 204);
    const auto pinged_at = std::chrono::steady_clock::now();

    const auto status = launcher->wait_exit(40s);
    const auto silence = std::chrono::steady_clock::now() - pinged_at;
    ASSERT_TRUE(status) << "still running 40 s after the only ping";
    EXPECT_EQ(*status, 0);
    EXPECT_GT(silence, 15s);
    EXPECT_LT(silence, 22s);
    const auto lines = launcher->stdout_lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2], "No open preview tab \xE2\x80\x94 exiting.");
    EXPECT_EQ(launcher->stderr_text(), "");
}
