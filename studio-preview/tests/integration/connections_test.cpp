// Connection handling: keep-alive, HTTP/1.0, long targets and answers larger than the socket takes.
// Refused requests (malformed, oversized, HTTP/2, ambiguous lengths) are in
// hostile_clients_test.cpp, tried in every way their bytes can arrive.

#include "fixture.hpp"

using itest::LauncherTest;
using itest::RawConnection;

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
