// Raw bytes, one or more HTTP/1.x requests, through a real connection: the bytes are written to a
// connected socket whose other end is served by the launcher's connection code with the real
// router. Every answer must be a well-formed response; a close without an answer is fine.
//
// The same bytes are served twice, once written whole and once in pieces, each piece read by the
// connection before the next is written, and both must get the same answers: the pieces must not
// change what is accepted. Only the Date field and the refusal that ends an output may differ: a
// refused request can break more than one rule, and which one the parser meets first depends on
// how far it got; and given an unfinished head in pieces, the parser looks at its lines only once
// the end of the head has come, so a malformed request that the input leaves unfinished may be
// refused when whole and only closed (at the end of the input) when cut.
//
// The input says where to cut: a first byte below 0x20 is the number of cut bytes that follow it,
// each the size of the next piece less one, the last one repeated; a request starts with a letter,
// so an input without such a header (as most seeds) is cut into 64 even pieces (single bytes when
// it is shorter). After 2,048 pieces the rest goes in one, so that every input is served in well
// under the head timeout.
//
// The two ends are a socket pair rather than a loopback TCP connection: tens of thousands of
// inputs a minute would otherwise run out of ephemeral ports (closed TCP connections linger).

#include "http_connection.hpp"
#include "http_parser.hpp"

#include <algorithm>
#include <array>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/http/string_body.hpp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <vector>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

namespace {

struct World {
    asio::io_context io;
    std::shared_ptr<const studio::Router> router = std::make_shared<const studio::Router>(
        studio::HeartbeatState::create(studio::SteadyClock::now()));
    studio::DateCache dates;
    studio::ConnectionManager connections;
};

World& world() {
    static World w;
    return w;
}

[[noreturn]] void fail(const char* why, std::string_view output) {
    std::fprintf(stderr, "%s\n%.*s\n", why, static_cast<int>(output.size()), output.data());
    std::abort();
}

// Checks that output is a sequence of complete responses and returns them as compared between
// the two runs: without the Date field and without a refusal at the end. Answers to HEAD carry a
// length but no body; a body is taken only when what follows it is another response or nothing.
std::vector<std::string> answers(std::string_view output) {
    std::vector<std::string> found;
    std::string_view rest = output;
    while (!rest.empty()) {
        http::response_parser<http::string_body> with_body;
        with_body.eager(true);
        beast::error_code ec;
        const auto used = with_body.put(asio::buffer(rest.data(), rest.size()), ec);
        if (ec && ec != http::error::need_more) {
            fail(("malformed answer: " + ec.message()).c_str(), output);
        }
        if (!with_body.is_header_done()) {
            fail("malformed answer: incomplete head", output);
        }
        const auto& res = with_body.get();
        const unsigned status = res.result_int();
        if (status != 200 && status != 204 && status != 400 && status != 404 && status != 405 &&
            status != 413 && status != 431 && status != 505) {
            fail("malformed answer: unexpected status", output);
        }
        if (res[http::field::date].empty()) {
            fail("malformed answer: no date", output);
        }
        if (status != 204 && res[http::field::content_length].empty()) {
            fail("malformed answer: no content-length", output);
        }
        // The head alone: where does it end?
        const auto head_end = rest.find("\r\n\r\n");
        if (head_end == std::string_view::npos) {
            fail("malformed answer: no end of head", output);
        }
        const auto after_head = rest.substr(head_end + 4);
        const bool body_complete = with_body.is_done() && !ec;
        const auto after_body = body_complete ? rest.substr(used) : std::string_view();
        std::string_view answer;
        if (body_complete && (after_body.empty() || after_body.substr(0, 7) == "HTTP/1.")) {
            answer = rest.substr(0, used);
            rest = after_body;
        } else if (after_head.empty() || after_head.substr(0, 7) == "HTTP/1.") {
            answer = rest.substr(0, head_end + 4); // an answer to HEAD
            rest = after_head;
        } else {
            fail("malformed answer: body does not match its length", output);
        }
        const bool refusal = (status == 400 || status == 413 || status == 431 || status == 505) &&
                             res[http::field::connection] == "close" && res.body().empty();
        if (refusal) {
            if (!rest.empty()) {
                fail("malformed answer: more after a refusal", output);
            }
            break;
        }
        std::string compared(answer.substr(0, answer.find("\r\n")));
        for (const auto& field : res) {
            if (field.name() != http::field::date) {
                compared +=
                    "\n" + std::string(field.name_string()) + ": " + std::string(field.value());
            }
        }
        compared += "\n\n" + std::string(answer.substr(answer.find("\r\n\r\n") + 4));
        found.push_back(std::move(compared));
    }
    return found;
}

constexpr std::size_t max_pieces = 2048;

// Where the input says to cut its bytes, and the bytes.
struct CutInput {
    std::vector<std::size_t> piece_sizes; // the last one repeats; empty: whole
    std::string_view bytes;
};

CutInput cut_input(const std::uint8_t* data, std::size_t size) {
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    if (size == 0 || data[0] >= 0x20) {
        return {{std::max<std::size_t>(1, (size + 63) / 64)}, all};
    }
    const std::size_t count = std::min<std::size_t>(data[0], size - 1);
    CutInput cut{{}, all.substr(1 + count)};
    for (std::size_t i = 0; i < count; ++i) {
        cut.piece_sizes.push_back(std::size_t{data[1 + i]} + 1);
    }
    return cut;
}

// Everything the connection sends back for these pieces of the input, each written and read by
// the connection before the next; then the client closes its sending side.
std::string serve(std::string_view bytes, const std::vector<std::size_t>& piece_sizes) {
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

    w.connections.start(
        std::make_shared<studio::HttpConnection>(std::move(server), w.router, w.dates));

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
    read_more();
    std::size_t at = 0;
    for (std::size_t i = 0; at < bytes.size(); ++i) {
        const auto left = bytes.size() - at;
        const auto size = piece_sizes.empty() || i + 1 == max_pieces
                              ? left
                              : std::min(left, piece_sizes[std::min(i, piece_sizes.size() - 1)]);
        bool written = false;
        beast::error_code write_error;
        asio::async_write(client, asio::buffer(bytes.substr(at, size)),
                          [&](beast::error_code e, std::size_t) {
                              written = true;
                              write_error = e;
                          });
        // A context that ran out of work stops and has to be restarted before it runs again.
        while (!written) {
            w.io.restart();
            w.io.run_one();
        }
        w.io.restart();
        while (w.io.poll() > 0) {
        }
        at += size;
        if (write_error) {
            break; // the connection has closed
        }
    }
    beast::error_code ignored;
    client.shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
    w.io.restart();
    w.io.run();
    if (w.connections.open_count() != 0) {
        fail("the connection was left open with nothing to wait for", output);
    }
    return output;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = cut_input(data, size);
    const auto whole = serve(input.bytes, {});
    const auto in_pieces = serve(input.bytes, input.piece_sizes);
    if (answers(whole) != answers(in_pieces)) {
        fail("the pieces changed the answers; whole:", whole + "\nin pieces:\n" + in_pieces);
    }
    return 0;
}
