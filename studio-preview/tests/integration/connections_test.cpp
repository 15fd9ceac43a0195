// Connection handling: keep-alive, HTTP/1.0, HTTP/2 refusal and malformed or oversized requests.

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

TEST_F(LauncherTest, Http2PrefaceIsClosedWithoutAnyResponse) {
    RawConnection c(port);
    c.send(std::string("PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n") + std::string(9, '\0'));
    EXPECT_EQ(c.read_all(std::chrono::seconds(5)), "");
    // and the server is still fine
    const auto a = itest::fetch(port, "GET", "/app.js");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->status, 200);
}

TEST_F(LauncherTest, MalformedRequestIsRejectedAndClosedWithoutHarmingOthers) {
    RawConnection good(port);
    good.send("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_TRUE(good.read_answer());

    for (const char* junk :
         {"HELLO\r\n\r\n", "GET / HTTP/9\r\n\r\n", "GET /\r\n\r\n",
          "GET / HTTP/1.1\r\nBad Header\r\n\r\n", "GET / HTTP/1.1\r\nContent-Length: x\r\n\r\n"}) {
        RawConnection bad(port);
        bad.send(junk);
        const auto a = bad.read_answer();
        ASSERT_TRUE(a) << junk;
        EXPECT_GE(a->status, 400) << junk;
        EXPECT_LT(a->status, 600) << junk;
        EXPECT_TRUE(bad.closed_by_peer()) << junk;
    }
    // The connection opened before the junk still works.
    good.send("GET /__studio/ping HTTP/1.1\r\nHost: x\r\n\r\n");
    const auto a = good.read_answer();
    ASSERT_TRUE(a);
    EXPECT_EQ(a->status, 204);
}

TEST_F(LauncherTest, OversizedHeadsAndBodiesAreRefused) {
    RawConnection big_head(port);
    big_head.send("GET / HTTP/1.1\r\nHost: x\r\nX-Fill: " + std::string(17 * 1024, 'a') +
                  "\r\n\r\n");
    const auto head = big_head.read_answer();
    ASSERT_TRUE(head);
    EXPECT_EQ(head->status, 431);
    EXPECT_TRUE(big_head.closed_by_peer());

    RawConnection big_body(port);
    big_body.send("GET /app.js HTTP/1.1\r\nHost: x\r\nContent-Length: 70000\r\n\r\n" +
                  std::string(70000, 'b'));
    const auto body = big_body.read_answer();
    ASSERT_TRUE(body);
    EXPECT_EQ(body->status, 413);

    // A small body on GET is read and ignored; the connection carries on.
    RawConnection small(port);
    small.send("GET /__studio/ping HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nhelloGET "
               "/style.css HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(small.read_answer()->status, 204);
    const auto next = small.read_answer();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->status, 200);
    EXPECT_EQ(next->get("content-type"), "text/css");
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
