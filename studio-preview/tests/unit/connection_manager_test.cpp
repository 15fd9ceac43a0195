// One context's connections, their drain and their idle timeout, over socket pairs on one
// io_context and no other thread, so every step is run to completion before it is checked.

#include "connection_manager.hpp"
#include "http_connection.hpp"
#include "http_parser.hpp"
#include "routes.hpp"

#include <array>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/http/string_body.hpp>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <vector>

namespace asio = boost::asio;

class ConnectionManagerTest : public ::testing::Test {
protected:
    // A connection served by the manager; returns the client's end. A send buffer size other than
    // 0 limits what the server's end takes at once.
    asio::ip::tcp::socket
    open(std::chrono::steady_clock::duration idle_timeout = studio::idle_connection_timeout,
         int send_buffer = 0) {
        int ends[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
        if (send_buffer > 0) {
            EXPECT_EQ(
                ::setsockopt(ends[1], SOL_SOCKET, SO_SNDBUF, &send_buffer, sizeof send_buffer), 0);
        }
        asio::ip::tcp::socket client(io), server(io);
        client.assign(asio::ip::tcp::v4(), ends[0]);
        server.assign(asio::ip::tcp::v4(), ends[1]);
        manager.start(std::make_shared<studio::HttpConnection>(std::move(server), router, dates,
                                                               idle_timeout));
        return client;
    }

    // Everything the server sends until it closes its end.
    std::string read_to_end(asio::ip::tcp::socket& client) {
        std::string out;
        boost::system::error_code ec;
        std::array<char, 4096> chunk{};
        for (;;) {
            io.poll();
            const auto n = client.read_some(asio::buffer(chunk), ec);
            out.append(chunk.data(), n);
            if (ec) {
                break;
            }
        }
        return out;
    }

    void settle() {
        io.restart();
        io.poll();
    }

    asio::io_context io;
    std::shared_ptr<const studio::Router> router = std::make_shared<const studio::Router>(
        studio::HeartbeatState::create(studio::SteadyClock::now()));
    studio::DateCache dates;
    studio::ConnectionManager manager;
};

TEST_F(ConnectionManagerTest, KeepsOpenConnectionsUntilTheyClose) {
    auto a = open();
    auto b = open();
    settle();
    EXPECT_EQ(manager.open_count(), 2u);
    a.close();
    settle();
    EXPECT_EQ(manager.open_count(), 1u) << "a connection leaves when its client goes";
    asio::write(
        b, asio::buffer(std::string("GET /__studio/ping HTTP/1.1\r\nConnection: close\r\n\r\n")));
    settle();
    EXPECT_EQ(manager.open_count(), 0u) << "and when it has answered a last request";
    EXPECT_NE(read_to_end(b).find("HTTP/1.1 204 No Content\r\n"), std::string::npos);
}

TEST_F(ConnectionManagerTest, StopAllClosesIdleConnectionsAndTheContextRunsOutOfWork) {
    std::vector<asio::ip::tcp::socket> clients;
    for (int i = 0; i < 5; ++i) {
        clients.push_back(open());
    }
    // One of them has been served once and is waiting for its next request.
    asio::write(clients[0], asio::buffer(std::string("GET /style.css HTTP/1.1\r\n\r\n")));
    settle();
    ASSERT_EQ(manager.open_count(), 5u);
    manager.stop_all();
    EXPECT_EQ(manager.open_count(), 0u);
    io.restart();
    io.run(); // returns only when no connection has anything pending
    for (auto& c : clients) {
        boost::system::error_code ec;
        std::array<char, 1> one{};
        c.non_blocking(true);
        while (!ec) {
            c.read_some(asio::buffer(one), ec); // drains the answer of the served one
        }
        EXPECT_NE(ec, asio::error::would_block) << "closed by the server, not just quiet";
    }
}

TEST_F(ConnectionManagerTest, ABusyConnectionFinishesItsAnswerBeforeItCloses) {
    auto c = open();
    settle();
    // Half a request: the connection is busy from its first byte.
    asio::write(c, asio::buffer(std::string("GET /app.js HTTP/1.1\r\nHo")));
    settle();
    manager.stop_all();
    EXPECT_EQ(manager.open_count(), 1u) << "still reading its request";
    asio::write(c, asio::buffer(std::string("st: x\r\n\r\n")));
    const auto answer = read_to_end(c);
    EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer.substr(0, 200);
    EXPECT_NE(answer.find("Connection: close\r\n"), std::string::npos);
    EXPECT_EQ(manager.open_count(), 0u);
}

TEST_F(ConnectionManagerTest, AnswersTheSocketCannotTakeAtOnceArriveWholeAndInOrder) {
    // The server's end takes a few KiB at a time: every answer but the ping is written partly at
    // once and the rest as the client reads, in small reads.
    auto c = open(studio::idle_connection_timeout, 8 * 1024);
    settle();
    const std::string requests[] = {
        "GET /app.js HTTP/1.1\r\n\r\n",  "GET /__studio/ping HTTP/1.1\r\n\r\n",
        "HEAD /app.js HTTP/1.1\r\n\r\n", "GET /style.css HTTP/1.1\r\n\r\n",
        "GET / HTTP/1.0\r\n\r\n",
    };
    std::string pipelined;
    for (const auto& r : requests) {
        pipelined += r;
    }
    asio::write(c, asio::buffer(pipelined));
    const auto bytes = read_to_end(c);
    EXPECT_EQ(manager.open_count(), 0u);

    const auto& router = *this->router;
    const struct {
        const char* target;
        bool head;
    } expected[] = {{"/app.js", false},
                    {"/__studio/ping", false},
                    {"/app.js", true},
                    {"/style.css", false},
                    {"/", false}};
    std::string_view rest = bytes;
    for (const auto& e : expected) {
        SCOPED_TRACE(e.target);
        boost::beast::http::response_parser<boost::beast::http::string_body> parser;
        parser.skip(e.head);
        boost::beast::error_code ec;
        std::size_t used = 0;
        while (!ec && !parser.is_done() && used < rest.size()) {
            used += parser.put(asio::buffer(rest.data() + used, rest.size() - used), ec);
        }
        ASSERT_FALSE(ec) << ec.message();
        ASSERT_TRUE(parser.is_done()) << "answer cut short";
        rest.remove_prefix(used);
        const auto& want = router.handle(studio::Method::get, e.target);
        EXPECT_EQ(parser.get().result_int(), want.status);
        EXPECT_TRUE(parser.get().body() == (e.head ? std::string_view() : want.body()))
            << "the body differs";
    }
    EXPECT_EQ(rest, "") << "nothing after the last answer";
}

TEST_F(ConnectionManagerTest, AConnectionStartedAfterTheDrainIsClosedAtOnce) {
    manager.stop_all();
    auto c = open();
    EXPECT_EQ(manager.open_count(), 0u);
    EXPECT_EQ(read_to_end(c), "");
}

TEST_F(ConnectionManagerTest, AChunkedBodyThatStopsBetweenChunksWaitsForTheRest) {
    auto c = open();
    settle();
    // The buffer ends right after a chunk's size line: the connection must wait for the chunk
    // (a parser asked again with nothing new would spin the worker thread for ever).
    asio::write(c, asio::buffer(std::string("GET /style.css HTTP/1.1\r\nTransfer-Encoding: "
                                            "chunked\r\n\r\n3\r\nabc\r\n5\r\n")));
    settle();
    EXPECT_EQ(manager.open_count(), 1u);
    asio::write(c, asio::buffer(std::string("hello\r\n0\r\n\r\n")));
    c.shutdown(asio::ip::tcp::socket::shutdown_send);
    const auto answer = read_to_end(c);
    EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer.substr(0, 200);
}

TEST_F(ConnectionManagerTest, AConnectionSilentForTheIdleTimeoutIsClosedAndABusyOneIsNot) {
    using clock = std::chrono::steady_clock;
    const auto idle = std::chrono::milliseconds(500);
    // Each client's end, read until the server closes it; when that happened.
    struct Watched {
        explicit Watched(asio::ip::tcp::socket s) : socket(std::move(s)) {}
        asio::ip::tcp::socket socket;
        std::string received;
        std::optional<clock::time_point> closed_at;
        std::array<char, 4096> chunk{};
        void watch() {
            socket.async_read_some(asio::buffer(chunk),
                                   [this](boost::system::error_code ec, std::size_t n) {
                                       received.append(chunk.data(), n);
                                       if (ec) {
                                           closed_at = clock::now();
                                       } else {
                                           watch();
                                       }
                                   });
        }
    };
    const auto run_until = [&](auto done) {
        io.restart();
        const auto bound = clock::now() + std::chrono::seconds(20);
        while (!done() && clock::now() < bound) {
            io.run_one_for(std::chrono::milliseconds(50));
        }
        return done();
    };

    // Opened first, so that its idle check comes due before the others'.
    Watched busy{open(idle)};
    asio::write(busy.socket, asio::buffer(std::string("GET /app.js HTTP/1.1\r\nHo")));
    const auto opened = clock::now();
    Watched fresh{open(idle)};
    Watched used{open(idle)};
    for (auto* w : {&busy, &fresh, &used}) {
        w->watch();
    }
    // A little silence before the request, so that closing counted from the opening would show.
    run_until([&] { return clock::now() - opened >= idle / 5; });
    const auto requested = clock::now();
    asio::write(used.socket, asio::buffer(std::string("GET /__studio/ping HTTP/1.1\r\n\r\n")));

    ASSERT_TRUE(run_until([&] { return fresh.closed_at && used.closed_at; }));
    EXPECT_FALSE(busy.closed_at) << "a connection reading a request is not idle";
    EXPECT_EQ(fresh.received, "");
    EXPECT_GE(*fresh.closed_at - opened, idle);
    if (used.received.empty()) {
        // The machine stalled past the timeout before the request went out: closed while idle.
        EXPECT_GE(*used.closed_at - opened, idle);
    } else {
        EXPECT_EQ(used.received.rfind("HTTP/1.1 204 No Content\r\n", 0), 0u) << used.received;
        EXPECT_GE(*used.closed_at - requested, idle) << "the silence counts from the last answer";
    }

    // The busy one finishes its request and is then idle like the others.
    asio::write(busy.socket, asio::buffer(std::string("st: x\r\n\r\n")));
    const auto finished = clock::now();
    ASSERT_TRUE(run_until([&] { return busy.closed_at.has_value(); }));
    EXPECT_EQ(busy.received.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    EXPECT_GE(*busy.closed_at - finished, idle);
    EXPECT_EQ(manager.open_count(), 0u);
}
