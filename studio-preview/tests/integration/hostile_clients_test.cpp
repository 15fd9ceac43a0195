// What any local program reaching the port can do: send oversized, malformed or ambiguous
// requests however their bytes are cut, hold many connections, trickle bytes, exhaust file
// descriptors, send tricky paths, hammer the heartbeat. Each case is bounded in count and time.

#include "fixture.hpp"

#include <algorithm>
#include <atomic>
#include <cstdio>
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

constexpr std::size_t head_limit = 16 * 1024;
constexpr std::size_t body_limit = 64 * 1024;
const std::string ping = "GET /__studio/ping HTTP/1.1\r\nHost: x\r\n\r\n";
const std::string chunked_ping =
    "GET /__studio/ping HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n";
// What a request with an ambiguous length would smuggle in if its body were taken as a request.
const std::string smuggled = "GET /app.js HTTP/1.1\r\nHost: x\r\n\r\n";

struct Hostile {
    std::string what;
    std::string bytes;
    int status;                     // the answer; 0 for a close without one
    std::vector<std::size_t> marks; // offsets to cut near (see itest::segmentations)
};

// A ping whose head is exactly `size` bytes, padded with one field.
std::string head_of_size(std::size_t size) {
    const std::string start = "GET /__studio/ping HTTP/1.1\r\nHost: x\r\nX-Fill: ";
    return start + std::string(size - start.size() - 4, 'a') + "\r\n\r\n";
}

std::string head_of_short_lines(int lines) {
    std::string head = "GET / HTTP/1.1\r\nHost: x\r\n";
    for (int i = 0; i < lines; ++i) {
        head += "X-A: b\r\n";
    }
    return head + "\r\n";
}

std::string ping_with_body(std::size_t size) {
    return "GET /__studio/ping HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(size) +
           "\r\n\r\n" + std::string(size, 'b');
}

// A chunked ping whose body takes exactly `as_sent` bytes on the wire, chunk framing included: two
// small chunks, one that fills it up and the last chunk. Marked where each size line starts and
// ends and where the body limit falls.
Hostile chunked_ping_of(std::string what, std::size_t as_sent, int status) {
    const std::string small = "3\r\nabc\r\n5;ext=1\r\nhello\r\n";
    const std::string last = "0\r\n\r\n";
    const auto fill = as_sent - small.size() - last.size() - 8; // four hex digits and two CRLFs
    char size_line[16];
    std::snprintf(size_line, sizeof size_line, "%zx\r\n", fill);
    const auto bytes = chunked_ping + small + size_line + std::string(fill, 'c') + "\r\n" + last;
    const auto body = chunked_ping.size();
    return {std::move(what),
            bytes,
            status,
            {body, body + 3, body + 8, body + 17, body + small.size(), body + small.size() + 6,
             bytes.size() - last.size(), body + body_limit}};
}

} // namespace

// Every hostile request of the table, in every segmentation, on a fresh connection: a refusal is
// answered once and closes the connection (nothing after it is answered), an accepted request
// leaves the connection serving, and other clients are not disturbed.
TEST_F(LauncherTest, HostileRequestsGetTheSameAnswerHoweverTheirBytesArrive) {
    const auto ping_head = ping_with_body(0).size();
    const std::vector<Hostile> table = {
        {"a head of exactly 16 KiB", head_of_size(head_limit), 204, {head_limit}},
        {"a head one byte over 16 KiB", head_of_size(head_limit + 1), 431, {head_limit}},
        {"a 17 KiB field", head_of_size(17 * 1024), 431, {head_limit}},
        {"3,000 short header lines (24 KB)", head_of_short_lines(3000), 431, {head_limit}},
        {"100,000 short header lines (800 KB)", head_of_short_lines(100000), 431, {}},
        {"a body of exactly 64 KiB", ping_with_body(body_limit), 204, {ping_head + body_limit}},
        {"a body one byte over 64 KiB", ping_with_body(body_limit + 1), 413, {ping_head}},
        {"a small body on GET", ping_with_body(5), 204, {ping_head}},
        chunked_ping_of("a chunked body of 64 KiB as sent", body_limit, 204),
        chunked_ping_of("a chunked body one byte over 64 KiB as sent", body_limit + 1, 413),
        {"a chunk size line that never ends",
         chunked_ping + "1;ext=" + std::string(70000, 'e'),
         413,
         {chunked_ping.size() + body_limit}},
        {"a trailer that never ends",
         chunked_ping + "0\r\nX-T: " + std::string(70000, 't'),
         413,
         {chunked_ping.size() + body_limit}},
        {"no protocol", "HELLO\r\n\r\n", 400, {}},
        {"HTTP/9", "GET / HTTP/9\r\n\r\n", 400, {}},
        {"no version", "GET /\r\n\r\n", 400, {}},
        {"a field without a colon", "GET / HTTP/1.1\r\nBad Header\r\n\r\n", 400, {}},
        {"a length that is no number", "GET / HTTP/1.1\r\nContent-Length: x\r\n\r\n", 400, {}},
        {"the HTTP/2 preface",
         std::string("PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n") + std::string(9, '\0'),
         0,
         {}},
        {"a length and chunked",
         "GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\nTransfer-Encoding: "
         "chunked\r\n\r\n0\r\n\r\n" +
             smuggled,
         400,
         {}},
        {"chunked and a length",
         "GET / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\nContent-Length: "
         "5\r\n\r\n0\r\n\r\n" +
             smuggled,
         400,
         {}},
        {"two different lengths",
         "GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\nContent-Length: " +
             std::to_string(smuggled.size()) + "\r\n\r\n" + smuggled,
         400,
         {}},
        {"a coding after chunked",
         "GET / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked, gzip\r\n\r\n" + smuggled,
         400,
         {}},
        {"a coding without chunked and a length",
         "GET / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: gzip\r\nContent-Length: " +
             std::to_string(smuggled.size()) + "\r\n\r\n" + smuggled,
         400,
         {}},
    };

    RawConnection bystander(port);
    bystander.send(ping);
    ASSERT_TRUE(bystander.read_answer());

    for (const auto& hostile : table) {
        for (const auto& cut : itest::segmentations(hostile.bytes, hostile.marks)) {
            SCOPED_TRACE(hostile.what + ", " + cut.name);
            RawConnection c(port);
            ASSERT_TRUE(c.connected());
            c.send(hostile.bytes, cut);
            if (hostile.status == 0) {
                EXPECT_TRUE(c.closed_by_peer(20s));
                continue;
            }
            const auto a = c.read_answer(false, 20s);
            ASSERT_TRUE(a);
            EXPECT_EQ(a->status, hostile.status);
            if (hostile.status >= 400) {
                EXPECT_EQ(a->get("connection"), "close");
                EXPECT_TRUE(c.closed_by_peer(20s)) << "answered more, or kept the connection";
            } else {
                c.send(ping);
                const auto next = c.read_answer(false, 20s);
                ASSERT_TRUE(next) << "the connection did not carry on";
                EXPECT_EQ(next->status, 204);
            }
        }
    }

    bystander.send(ping);
    const auto after = bystander.read_answer();
    ASSERT_TRUE(after);
    EXPECT_EQ(after->status, 204);
}

// An unfinished request is closed once the head timeout has passed from its first byte, however
// it was cut; the segmentations wait side by side.
TEST_F(LauncherTest, AnUnfinishedRequestIsClosedAfterTheHeadTimeoutHoweverItArrives) {
    const auto with_body = ping_with_body(10);
    const std::string unfinished[] = {"GET /app.js HTTP/1.1\r\nHost: x\r\n",
                                      with_body.substr(0, with_body.size() - 4)};
    struct Waiting {
        std::string what;
        std::unique_ptr<RawConnection> connection;
        std::chrono::steady_clock::time_point first_byte;
    };
    std::vector<Waiting> waiting;
    for (const auto& bytes : unfinished) {
        for (const auto& cut : itest::segmentations(bytes)) {
            Waiting w{bytes.substr(0, 20) + "..., " + cut.name,
                      std::make_unique<RawConnection>(port), std::chrono::steady_clock::now()};
            w.connection->send(bytes, cut);
            waiting.push_back(std::move(w));
        }
    }
    for (auto& w : waiting) {
        EXPECT_TRUE(w.connection->closed_by_peer(40s)) << w.what;
        EXPECT_GE(std::chrono::steady_clock::now() - w.first_byte, 10s)
            << w.what << ": closed before the head timeout";
    }
}

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
    std::atomic<std::size_t> bytes_sent{0};
    std::thread trickle([&] {
        for (std::size_t sent = 0; trickling && sent < request.size(); ++sent) {
            for (auto& c : slow) {
                c->send(request.substr(sent, 1));
            }
            bytes_sent = sent + 1;
            for (int i = 0; i < 10 && trickling; ++i) {
                std::this_thread::sleep_for(100ms);
            }
        }
    });
    // Every slow connection has been accepted and its first byte read: all are busy now. (The
    // trickle goes on, so they need not all be read up at the same moment.)
    std::vector<bool> read_once(slow.size(), false);
    ASSERT_TRUE(itest::wait_until(
        [&] {
            if (bytes_sent == 0) {
                return false;
            }
            const auto queues = itest::receive_queues(port);
            for (std::size_t i = 0; i < slow.size(); ++i) {
                const auto it = queues.find(slow[i]->local_port());
                read_once[i] = read_once[i] || it == queues.end() || it->second == 0;
            }
            return std::find(read_once.begin(), read_once.end(), false) == read_once.end();
        },
        20s))
        << "the launcher did not read the slow clients' first bytes";
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
        // It holds all the descriptors it may while the rest wait to be accepted.
        EXPECT_TRUE(itest::wait_until(
            [&] {
                return itest::open_descriptors(launcher.pid()) >= *settings.max_open_files &&
                       itest::receive_queue(port, 0) > 0u;
            },
            20s));
        EXPECT_TRUE(launcher.running());
    }
    // Once they are gone, serving resumes (the accept loop retries after its pause).
    std::optional<itest::HttpAnswer> a;
    EXPECT_TRUE(itest::wait_until(
        [&] {
            a = itest::fetch(port, "GET", "/");
            return a && a->status == 200;
        },
        30s));
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
