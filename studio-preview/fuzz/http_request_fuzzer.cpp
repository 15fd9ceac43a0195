// Raw bytes, one or more HTTP/1.x requests, through a real connection: the bytes are written to a
// connected socket whose other end is served by the launcher's connection code with the real
// router. Every answer must be a well-formed response; a close without an answer is fine.
//
// The two ends are a socket pair rather than a loopback TCP connection: tens of thousands of
// inputs a minute would otherwise run out of ephemeral ports (closed TCP connections linger).

#include "http_connection.hpp"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <sys/socket.h>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

namespace {

struct World {
    asio::io_context io;
    std::shared_ptr<const studio::Router> router = std::make_shared<const studio::Router>(
        studio::HeartbeatState::create(studio::SteadyClock::now()));
    studio::DateCache dates;
};

World& world() {
    static World w;
    return w;
}

[[noreturn]] void fail(const char* why, std::string_view output) {
    std::fprintf(stderr, "malformed answer: %s\n%.*s\n", why, static_cast<int>(output.size()),
                 output.data());
    std::abort();
}

// Checks that output is a sequence of complete responses. Answers to HEAD carry a length but no
// body; a body is taken only when what follows it is another response or nothing.
void check_answers(std::string_view output) {
    std::string_view rest = output;
    while (!rest.empty()) {
        http::response_parser<http::string_body> with_body;
        with_body.eager(true);
        beast::error_code ec;
        const auto used = with_body.put(asio::buffer(rest.data(), rest.size()), ec);
        if (ec && ec != http::error::need_more) {
            fail(ec.message().c_str(), output);
        }
        if (!with_body.is_header_done()) {
            fail("incomplete head", output);
        }
        const auto& res = with_body.get();
        const unsigned status = res.result_int();
        if (status != 200 && status != 204 && status != 400 && status != 404 && status != 405 &&
            status != 413 && status != 431 && status != 505) {
            fail("unexpected status", output);
        }
        if (res[http::field::date].empty()) {
            fail("no date", output);
        }
        if (status != 204 && res[http::field::content_length].empty()) {
            fail("no content-length", output);
        }
        // The head alone: where does it end?
        const auto head_end = rest.find("\r\n\r\n");
        if (head_end == std::string_view::npos) {
            fail("no end of head", output);
        }
        const auto after_head = rest.substr(head_end + 4);
        const bool body_complete = with_body.is_done() && !ec;
        const auto after_body = body_complete ? rest.substr(used) : std::string_view();
        if (body_complete && (after_body.empty() || after_body.substr(0, 7) == "HTTP/1.")) {
            rest = after_body;
        } else if (after_head.empty() || after_head.substr(0, 7) == "HTTP/1.") {
            rest = after_head; // an answer to HEAD
        } else {
            fail("body does not match its length", output);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto& w = world();
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        std::perror("socketpair");
        std::abort();
    }
    asio::ip::tcp::socket client(w.io);
    client.assign(asio::ip::tcp::v4(), ends[0]);
    asio::ip::tcp::socket server(w.io);
    server.assign(asio::ip::tcp::v4(), ends[1]);

    auto connection =
        std::make_shared<studio::HttpConnection>(std::move(server), w.router, w.dates);
    connection->start();
    connection.reset();

    const std::string input(reinterpret_cast<const char*>(data), size);
    std::string output;
    std::array<char, 8192> chunk{};
    std::function<void()> read_more = [&] {
        client.async_read_some(asio::buffer(chunk), [&](beast::error_code ec, std::size_t n) {
            output.append(chunk.data(), n);
            if (!ec) {
                read_more();
            }
        });
    };
    asio::async_write(client, asio::buffer(input), [&](beast::error_code, std::size_t) {
        beast::error_code ignored;
        client.shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
    });
    read_more();
    w.io.restart();
    w.io.run();

    check_answers(output);
    return 0;
}
