// Connection handling: keep-alive, HTTP/1.0, long targets and answers larger than the socket takes.
// Refused requests (malformed, oversized, HTTP/2, ambiguous lengths) are in
// hostile_clients_test.cpp, tried in every way their bytes can arrive.

#include "fixture.hpp"

#include <algorithm>
#include <fstream>

using itest::LauncherTest;
using itest::RawConnection;
using namespace std::chrono_literals;

TEST_F(LauncherTest, KeepAliveServesManyRequestsOnOneConnection) {
    RawConnection c(port);
    ASSERT_TRUE(c.connected());
    for (int i = 0; i < 20; ++i) {
        c.send("GET /app.js HTTP/1.1\r\nHost: x\r\n\r\n");
        const auto a = c.read_answer();
        ASSERT_TRUE(a) << "request " << i;
        EXPECT_EQ(a->status, 200);
        EXPECT_EQ(a->version, 11);
        EXPECT_NE(a->get("connection"), "close");
    }
    // Pipelined requests are answered in order.
    c.send("GET /__studio/ping HTTP/1.1\r\nHost: x\r\n\r\nGET /nothing HTTP/1.1\r\nHost: x\r\n\r\n"
           "GET /style.css HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(c.read_answer()->status, 204);
    EXPECT_EQ(c.read_answer()->status, 404);
    EXPECT_EQ(c.read_answer()->status, 200);
    // Asking for close is honoured.
    c.send("GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    const auto last = c.read_answer();
    ASSERT_TRUE(last);
    EXPECT_EQ(last->get("connection"), "close");
    EXPECT_TRUE(c.closed_by_peer());
}

TEST_F(LauncherTest, Http10ClosesUnlessAskedToKeepAlive) {
    RawConnection plain(port);
    plain.send("GET /style.css HTTP/1.0\r\n\r\n");
    const auto a = plain.read_answer();
    ASSERT_TRUE(a);
    EXPECT_EQ(a->status, 200);
    EXPECT_EQ(a->version, 10);
    EXPECT_EQ(a->body, itest::web_file("style.css"));
    EXPECT_TRUE(plain.closed_by_peer());

    RawConnection kept(port);
    kept.send("GET /__studio/ping HTTP/1.0\r\nConnection: keep-alive\r\n\r\n");
    const auto first = kept.read_answer();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->status, 204);
    EXPECT_EQ(first->get("connection"), "keep-alive");
    kept.send("GET /tevolark-logo.svg HTTP/1.0\r\nConnection: keep-alive\r\n\r\n");
    const auto second = kept.read_answer();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->status, 200);
}

TEST_F(LauncherTest, LongTargetsAreAnsweredNotCrashed) {
    const auto a = itest::fetch(port, "GET", "/" + std::string(10 * 1024, 'x'));
    ASSERT_TRUE(a);
    EXPECT_EQ(a->status, 404);
    const auto b = itest::fetch(port, "GET", "/" + std::string(10 * 1024, 'x') + "/y");
    ASSERT_TRUE(b);
    EXPECT_EQ(b->status, 404);
}

TEST_F(LauncherTest, AnswersLargerThanTheSocketTakesAtOnceArriveWholeAndInOrder) {
    // Forty pipelined requests for the script ask for megabytes at once: most of it has to wait
    // until this client reads, and the requests after it wait their turn.
    RawConnection c(port);
    ASSERT_TRUE(c.connected());
    std::string requests;
    for (int i = 0; i < 40; ++i) {
        requests += i % 2 == 0 ? "GET /app.js HTTP/1.1\r\nHost: x\r\n\r\n"
                               : "GET /__studio/ping HTTP/1.1\r\nHost: x\r\n\r\n";
    }
    requests += "HEAD / HTTP/1.1\r\nHost: x\r\n\r\n";
    c.send(requests);
    const auto script = itest::web_file("app.js");
    for (int i = 0; i < 40; ++i) {
        const auto a = c.read_answer(false, std::chrono::seconds(20));
        ASSERT_TRUE(a) << "answer " << i;
        if (i % 2 == 0) {
            EXPECT_EQ(a->status, 200) << i;
            EXPECT_TRUE(a->body == script) << "answer " << i << " is not the script, byte for byte";
        } else {
            EXPECT_EQ(a->status, 204) << i;
        }
    }
    const auto head = c.read_answer(true);
    ASSERT_TRUE(head);
    EXPECT_EQ(head->status, 200);
    EXPECT_EQ(head->get("content-length"),
              std::to_string(itest::web_file("index.html").size() + 53));
}

namespace {

// The largest send buffer the system lets a TCP socket grow to.
std::size_t largest_send_buffer() {
    std::ifstream in("/proc/sys/net/ipv4/tcp_wmem");
    std::size_t low = 0, initial = 0, largest = 0;
    in >> low >> initial >> largest;
    return std::max<std::size_t>(largest, 4 * 1024 * 1024);
}

// Enough copies of a GET that their answers overflow the launcher's send buffer twice over: the
// launcher cannot hand them all to the system and has to wait for the client to read.
std::string overflowing(const std::string& target, std::size_t body_size) {
    const auto copies = 2 * largest_send_buffer() / body_size + 1;
    std::string requests;
    for (std::size_t i = 0; i < copies; ++i) {
        requests += "GET " + target + " HTTP/1.1\r\nHost: x\r\n\r\n";
    }
    return requests;
}

} // namespace

TEST_F(LauncherTest, AClientThatReadsSlowlyGetsEveryAnswerWholeAndInOrder) {
    // The client's window is a few KiB, it reads 512 bytes at a time, and it asks for more than
    // the launcher's socket can hold: the launcher's writes go partial and it has to wait for the
    // socket again and again. A HEAD between the GETs must send no body byte.
    const struct {
        std::string target;
        std::string file;
    } cases[] = {{"/app.js", "app.js"},
                 {"/style.css", "style.css"},
                 {"/index%2Ehtml", "index.html"},
                 {"/quillcan-icon.png", "quillcan-icon.png"}};
    for (const auto& c : cases) {
        const auto file = itest::web_file(c.file);
        const auto gets = overflowing(c.target, file.size());
        const auto count =
            gets.size() / ("GET " + c.target + " HTTP/1.1\r\nHost: x\r\n\r\n").size();
        RawConnection slow(port, itest::SlowReading{});
        ASSERT_TRUE(slow.connected());
        // Last an empty answer that is not a ping: a ping would start the heartbeat watch, which
        // ends the launcher 15 s later, sooner than a slow run of the remaining cases.
        slow.send(gets + "HEAD " + c.target + " HTTP/1.1\r\nHost: x\r\n\r\n" + gets +
                  "GET /nothing HTTP/1.1\r\nHost: x\r\n\r\n");
        for (std::size_t i = 0; i < 2 * count + 1; ++i) {
            const bool head = i == count;
            const auto a = slow.read_answer(head, 20s);
            ASSERT_TRUE(a) << c.target << " answer " << i;
            ASSERT_EQ(a->status, 200) << c.target << " answer " << i;
            if (head) {
                EXPECT_EQ(a->get("content-length"), std::to_string(file.size())) << c.target;
            } else {
                ASSERT_TRUE(a->body == file) << c.target << " answer " << i << " is not the file";
            }
        }
        const auto last = slow.read_answer(false, 20s);
        ASSERT_TRUE(last) << c.target << ": a body was longer than its length";
        EXPECT_EQ(last->status, 404) << c.target;
    }
}

TEST_F(LauncherTest, ClientsGoneInTheMiddleOfABodyLeaveNothingBehind) {
    // Each client asks for the script more often than the launcher's socket holds and goes away
    // while the launcher is waiting to send the rest: before reading anything, after reading the
    // head and the first bytes of the body, or not at all until the launcher is asked to stop.
    const bool own_process = !itest::LauncherProcess::under_compatibility_layer();
    // Counted once the launcher serves: it opens what it needs for that after its banner. Not with
    // a ping: that would start the 15 s heartbeat watch, which a slow run of this test outlasts.
    ASSERT_TRUE(itest::fetch(port, "GET", "/"));
    // Sockets only: the launcher may open other descriptors of its own while it serves.
    const auto sockets = itest::open_descriptors(launcher->pid(), "socket:");
    const auto many = overflowing("/app.js", itest::web_file("app.js").size());
    const auto started_sending = [&](const RawConnection& c) {
        return itest::wait_until(
            [&] {
                const auto queued = itest::send_queue(port, c.local_port());
                return queued && *queued > 0;
            },
            20s);
    };
    for (const bool read_head : {false, true}) {
        for (int i = 0; i < 4; ++i) {
            RawConnection c(port, itest::SlowReading{});
            ASSERT_TRUE(c.connected());
            c.send(many);
            ASSERT_TRUE(started_sending(c)) << "read_head " << read_head;
            if (read_head) {
                const auto head = c.read_answer(true, 20s);
                ASSERT_TRUE(head);
                EXPECT_EQ(head->status, 200);
            }
        } // closed with unread bytes: the launcher's next write fails
    }
    const auto a = itest::fetch(port, "GET", "/app.js");
    ASSERT_TRUE(a) << "the launcher stopped serving";
    EXPECT_EQ(a->status, 200);
    EXPECT_TRUE(a->body == itest::web_file("app.js"));
    if (own_process) {
        EXPECT_TRUE(itest::wait_until(
            [&] { return itest::open_descriptors(launcher->pid(), "socket:") <= sockets; }, 20s))
            << "connections of clients that went away are still open";
    }

    // A client that never reads holds the stop no longer than the write timeout.
    RawConnection stalled(port, itest::SlowReading{});
    ASSERT_TRUE(stalled.connected());
    stalled.send(many);
    ASSERT_TRUE(started_sending(stalled));
    if (!own_process) {
        return; // no Ctrl-C to send through the compatibility layer
    }
    launcher->send_signal(SIGINT);
    const auto status = launcher->wait_exit(30s);
    ASSERT_TRUE(status) << "a client in the middle of a body held the stop";
    EXPECT_EQ(*status, 0);
    EXPECT_EQ(launcher->stderr_text(), "");
}
