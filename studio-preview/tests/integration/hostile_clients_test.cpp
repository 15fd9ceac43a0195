// What any local program reaching the port can do: hold many connections, trickle bytes, exhaust
// file descriptors, send tricky paths, hammer the heartbeat. Each case is bounded in count and
// time.

#include "fixture.hpp"

#include <atomic>
#include <sys/resource.h>
#include <thread>
#include <vector>

using itest::LauncherProcess;
using itest::LauncherTest;
using itest::LaunchSettings;
using itest::RawConnection;
using namespace std::chrono_literals;

namespace {

// Lets this test process (and the launcher it starts) hold a few thousand sockets.
void raise_open_file_limit() {
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 8192);
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

} // namespace

TEST(HostileClients, SlowClientsNeitherBlockOthersNorHoldTheStopPastTheHeadTimeout) {
    raise_open_file_limit();
    LauncherProcess launcher;
    ASSERT_TRUE(launcher.wait_for_stdout_lines(2, 20s));
    const auto port = launcher.port();

    const std::string request = "GET /app.js HTTP/1.1\r\nHost: x\r\n\r\n";
    std::vector<std::unique_ptr<RawConnection>> slow;
    for (int i = 0; i < 200; ++i) {
        slow.push_back(std::make_unique<RawConnection>(port));
        ASSERT_TRUE(slow.back()->connected());
    }
    std::atomic<bool> trickling{true};
    std::thread trickle([&] {
        for (std::size_t sent = 0; trickling && sent < request.size(); ++sent) {
            for (auto& c : slow) {
                c->send(request.substr(sent, 1));
            }
            for (int i = 0; i < 10 && trickling; ++i) {
                std::this_thread::sleep_for(100ms);
            }
        }
    });

    std::this_thread::sleep_for(1500ms);
    for (int i = 0; i < 20; ++i) {
        const auto started = std::chrono::steady_clock::now();
        const auto a = itest::fetch(port, "GET", "/style.css");
        ASSERT_TRUE(a) << "a normal client was not served among slow ones";
        EXPECT_EQ(a->status, 200);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
    }

    if (LauncherProcess::under_compatibility_layer() || itest::sanitized_build) {
        trickling = false;
        trickle.join();
        GTEST_SKIP() << "the timed stop needs Ctrl-C delivered to a launcher running at full speed "
                        "(not through a compatibility layer or a sanitizer)";
    }
    const auto stop_requested = std::chrono::steady_clock::now();
    launcher.send_signal(SIGINT);
    const auto status = launcher.wait_exit(20s);
    const auto took = std::chrono::steady_clock::now() - stop_requested;
    trickling = false;
    trickle.join();
    ASSERT_TRUE(status) << "slow clients held the stop";
    EXPECT_EQ(*status, 0);
    EXPECT_LT(took, 12s) << "the stop lasted longer than the request-head timeout";
}

TEST(HostileClients, AThousandKeepAliveConnectionsAreServed) {
    raise_open_file_limit();
    LauncherProcess launcher;
    ASSERT_TRUE(launcher.wait_for_stdout_lines(2, 20s));
    const auto port = launcher.port();

    std::vector<std::unique_ptr<RawConnection>> connections;
    for (int i = 0; i < 1000; ++i) {
        connections.push_back(std::make_unique<RawConnection>(port));
        ASSERT_TRUE(connections.back()->connected()) << i;
    }
    for (int round = 0; round < 2; ++round) {
        for (auto& c : connections) {
            c->send("GET /__studio/ping HTTP/1.1\r\nHost: x\r\n\r\n");
        }
        int served = 0;
        for (auto& c : connections) {
            const auto a = c->read_answer(false, 10s);
            served += a && a->status == 204;
        }
        EXPECT_EQ(served, 1000) << "round " << round;
    }
}

TEST(HostileClients, RunningOutOfFileDescriptorsIsSurvived) {
    if (LauncherProcess::under_compatibility_layer()) {
        GTEST_SKIP() << "the descriptor limit is set through setrlimit, only on this platform";
    }
    if (itest::sanitized_build) {
        GTEST_SKIP() << "a sanitizer runtime needs descriptors of its own, so a tight limit "
                        "measures the sanitizer rather than the launcher";
    }
    LaunchSettings settings;
    settings.max_open_files = 48;
    LauncherProcess launcher(settings);
    ASSERT_TRUE(launcher.wait_for_stdout_lines(2, 20s));
    const auto port = launcher.port();

    {
        // More connections than the launcher may hold; the extra ones wait in the listen queue.
        std::vector<std::unique_ptr<RawConnection>> hog;
        for (int i = 0; i < 100; ++i) {
            hog.push_back(std::make_unique<RawConnection>(port));
        }
        std::this_thread::sleep_for(1500ms);
        EXPECT_TRUE(launcher.running());
    }
    // Once they are gone, serving resumes (the accept loop retries after its pause).
    std::optional<itest::HttpAnswer> a;
    for (int i = 0; i < 50 && !(a && a->status == 200); ++i) {
        a = itest::fetch(port, "GET", "/");
        if (!a) {
            std::this_thread::sleep_for(200ms);
        }
    }
    ASSERT_TRUE(a) << "serving did not resume";
    EXPECT_EQ(a->status, 200);
    EXPECT_TRUE(launcher.running());
}

TEST(HostileClients, ManyRequestsDoNotGrowResidentMemory) {
    if (LauncherProcess::under_compatibility_layer()) {
        GTEST_SKIP() << "resident memory is read from /proc, only on this platform";
    }
    if (itest::sanitized_build) {
        GTEST_SKIP()
            << "a sanitized launcher keeps freed memory in quarantine and shadow memory, so "
               "its resident size says nothing about leaks (LeakSanitizer covers them)";
    }
    LauncherProcess launcher;
    ASSERT_TRUE(launcher.wait_for_stdout_lines(2, 20s));
    const auto port = launcher.port();

    const std::string batch = [] {
        std::string b;
        for (int i = 0; i < 25; ++i) {
            b += "GET /__studio/ping HTTP/1.1\r\nHost: x\r\n\r\n"
                 "GET /nothing-here HTTP/1.1\r\nHost: x\r\n\r\n"
                 "HEAD /app.js HTTP/1.1\r\nHost: x\r\n\r\n"
                 "POST /style.css HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n";
        }
        return b;
    }(); // 100 requests
    auto run = [&](int batches) {
        for (int i = 0; i < batches; ++i) {
            RawConnection c(port); // a fresh connection every 100 requests
            c.send(batch);
            for (int r = 0; r < 100; ++r) {
                const bool head = r % 4 == 2;
                ASSERT_TRUE(c.read_answer(head)) << "batch " << i << " answer " << r;
            }
        }
    };
    run(10); // 1,000 requests
    const auto after_thousand = itest::resident_kib(launcher.pid());
    run(990); // 100,000 in all
    const auto after_all = itest::resident_kib(launcher.pid());
    ASSERT_GT(after_thousand, 0u);
    EXPECT_LE(after_all, after_thousand + 2048)
        << "resident memory grew from " << after_thousand << " KiB to " << after_all << " KiB";
}

TEST_F(LauncherTest, PathTricksNeverReachOutsideTheBundle) {
    const std::string tricks[] = {"/..%2F..%2Fetc%2Fpasswd",
                                  "/%2e%2e",
                                  "/%2e%2e%2f%2e%2e%2fetc%2fpasswd",
                                  "/app.js%00",
                                  "/app.js%00.png",
                                  "/..\\..\\etc\\passwd",
                                  "/%5C..%5Cetc%5Cpasswd",
                                  "/.%2Fapp.js",
                                  "/%C0%AE%C0%AE",
                                  "/%C0%AF",
                                  "/%E0%80%AF",
                                  "/%ED%A0%80",
                                  "/%F8%88%80%80%80",
                                  "/%C3%28",
                                  "/" + std::string(10 * 1024, 'a'),
                                  "/%2F" + std::string(10 * 1024, 'b'),
                                  "/etc/passwd",
                                  "//etc/passwd",
                                  "/./app.js",
                                  "/../app.js"};
    for (const auto& target : tricks) {
        const auto a = itest::fetch(port, "GET", target);
        ASSERT_TRUE(a) << target.substr(0, 60);
        EXPECT_TRUE(a->status == 400 || a->status == 404)
            << target.substr(0, 60) << " answered " << a->status;
        EXPECT_EQ(a->body.find("root:"), std::string::npos);
    }
}

TEST_F(LauncherTest, APingStormFromManyThreadsIsAnsweredAndKeepsTheLauncherAlive) {
    std::atomic<int> answered{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            RawConnection c(port);
            for (int i = 0; i < 250; ++i) {
                c.send("GET /__studio/ping HTTP/1.1\r\nHost: x\r\n\r\n");
                const auto a = c.read_answer();
                if (a && a->status == 204) {
                    ++answered;
                }
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(answered.load(), 2000);
    EXPECT_TRUE(launcher->running());
    // The record is intact: a further ping is still answered and the launcher carries on.
    EXPECT_EQ(itest::fetch(port, "GET", "/__studio/ping")->status, 204);
}

TEST_F(LauncherTest, ListensOnIpv4LoopbackOnly) {
    if (LauncherProcess::under_compatibility_layer()) {
        GTEST_SKIP() << "listening sockets are read from /proc, only on this platform";
    }
    const auto sockets = itest::listening_sockets_of(launcher->pid());
    ASSERT_EQ(sockets.size(), 1u);
    EXPECT_EQ(sockets[0].table, "tcp") << "nothing may listen on IPv6";
    EXPECT_EQ(sockets[0].address, "0100007F") << "only 127.0.0.1";
    EXPECT_EQ(sockets[0].port, port);
}
