#include "raw_http.hpp"

#include "http_parser.hpp"

#include <algorithm>
#include <boost/asio/connect.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <poll.h>
#include <random>
#include <thread>

namespace itest {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

RawConnection::RawConnection(std::uint16_t port) : socket_(io_) {
    boost::system::error_code ec;
    socket_.connect({asio::ip::address_v4::loopback(), port}, ec);
    connected_ = !ec;
}

RawConnection::RawConnection(std::uint16_t port, SlowReading slow)
    : socket_(io_), buffer_(slow.read_size) {
    boost::system::error_code ec;
    // Set before connecting, so that the window offered to the launcher is small from the start.
    socket_.open(asio::ip::tcp::v4(), ec);
    if (!ec) {
        socket_.set_option(asio::socket_base::receive_buffer_size(slow.receive_buffer), ec);
    }
    if (!ec) {
        socket_.connect({asio::ip::address_v4::loopback(), port}, ec);
    }
    connected_ = !ec;
}

std::vector<Segmentation> segmentations(std::string_view bytes,
                                        const std::vector<std::size_t>& marks) {
    using std::chrono::microseconds;
    const auto n = bytes.size();
    std::vector<Segmentation> all;
    all.push_back({"whole", {{n, {}}}});

    // Cuts at the given offsets, with the same pause after each piece.
    const auto cut_at = [n](std::string name, std::vector<std::size_t> cuts, microseconds pause) {
        Segmentation s{std::move(name), {}};
        std::size_t from = 0;
        cuts.push_back(n);
        for (const auto cut : cuts) {
            if (cut > from && cut <= n) {
                s.pieces.push_back({cut - from, pause});
                from = cut;
            }
        }
        return s;
    };

    std::vector<std::size_t> even;
    const auto step = std::max<std::size_t>(1, (n + 511) / 512);
    for (std::size_t at = step; at < n; at += step) {
        even.push_back(at);
    }
    all.push_back(
        cut_at(step == 1 ? "bytes" : "pieces of " + std::to_string(step), even, microseconds(20)));

    // A generator whose sequence is the same everywhere, used without a distribution (whose
    // results are not).
    std::minstd_rand random(20);
    Segmentation scattered{"random pieces", {}};
    for (std::size_t left = n; left > 0;) {
        const auto size =
            std::min<std::size_t>(left, 1 + random() % std::max<std::size_t>(1, n / 8));
        scattered.pieces.push_back({size, microseconds(random() % 500)});
        left -= size;
    }
    all.push_back(std::move(scattered));

    std::vector<std::size_t> past_line_ends;
    for (auto at = bytes.find('\n'); at != std::string_view::npos; at = bytes.find('\n', at + 1)) {
        past_line_ends.push_back(at + 2);
    }
    all.push_back(cut_at("one byte past each line end", past_line_ends, microseconds(20)));

    for (const auto mark : marks) {
        for (auto cut = mark > 2 ? mark - 2 : 1; cut <= mark + 2; ++cut) {
            if (cut < n) {
                all.push_back(cut_at("cut at " + std::to_string(cut), {cut}, microseconds(1000)));
            }
        }
    }
    return all;
}

std::uint16_t RawConnection::local_port() const {
    boost::system::error_code ec;
    return socket_.local_endpoint(ec).port();
}

void RawConnection::send(const std::string& bytes) {
    boost::system::error_code ec;
    asio::write(socket_, asio::buffer(bytes), ec);
}

void RawConnection::send(std::string_view bytes, const Segmentation& segmentation) {
    boost::system::error_code ec;
    socket_.set_option(asio::ip::tcp::no_delay(true), ec);
    std::size_t at = 0;
    for (const auto& piece : segmentation.pieces) {
        pollfd answered{socket_.native_handle(), POLLIN, 0};
        if (at > 0 && ::poll(&answered, 1, 0) > 0) {
            return;
        }
        asio::write(socket_, asio::buffer(bytes.substr(at, piece.size)), ec);
        if (ec) {
            return;
        }
        at += piece.size;
        if (piece.pause.count() > 0 && at < bytes.size()) {
            std::this_thread::sleep_for(piece.pause);
        }
    }
}

namespace {
// Runs one asynchronous operation on io with a deadline; false on timeout (the socket is then
// cancelled).
template <class Start>
bool run_with_deadline(asio::io_context& io, asio::ip::tcp::socket& socket,
                       std::chrono::milliseconds timeout, Start start) {
    bool done = false;
    start(done);
    io.restart();
    io.run_for(timeout);
    if (!done) {
        boost::system::error_code ec;
        socket.cancel(ec);
        io.restart();
        io.run();
    }
    return done;
}
} // namespace

std::optional<HttpAnswer> RawConnection::read_answer(bool head_request,
                                                     std::chrono::milliseconds timeout) {
    http::response_parser<http::string_body> parser;
    parser.body_limit(16 * 1024 * 1024);
    if (head_request) {
        parser.skip(true);
    }
    boost::system::error_code result;
    const bool finished = run_with_deadline(io_, socket_, timeout, [&](bool& done) {
        http::async_read(socket_, buffer_, parser, [&](boost::system::error_code ec, std::size_t) {
            result = ec;
            done = true;
        });
    });
    if (!finished || result) {
        return std::nullopt;
    }
    const auto& res = parser.get();
    HttpAnswer answer;
    answer.status = static_cast<int>(res.result_int());
    answer.version = static_cast<int>(res.version());
    for (const auto& field : res) {
        std::string name(field.name_string());
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        answer.headers[name] = std::string(field.value());
    }
    answer.body = res.body();
    return answer;
}

bool RawConnection::closed_by_peer(std::chrono::milliseconds timeout) {
    if (buffer_.size() > 0) {
        return false;
    }
    char byte = 0;
    boost::system::error_code result;
    std::size_t got = 0;
    const bool finished = run_with_deadline(io_, socket_, timeout, [&](bool& done) {
        socket_.async_read_some(asio::buffer(&byte, 1),
                                [&](boost::system::error_code ec, std::size_t n) {
                                    result = ec;
                                    got = n;
                                    done = true;
                                });
    });
    return finished && got == 0 && result;
}

std::string RawConnection::read_all(std::chrono::milliseconds timeout) {
    std::string out(static_cast<const char*>(buffer_.data().data()), buffer_.size());
    buffer_.consume(buffer_.size());
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return out;
        }
        char chunk[4096];
        boost::system::error_code result;
        std::size_t got = 0;
        const bool finished = run_with_deadline(io_, socket_, left, [&](bool& done) {
            socket_.async_read_some(asio::buffer(chunk),
                                    [&](boost::system::error_code ec, std::size_t n) {
                                        result = ec;
                                        got = n;
                                        done = true;
                                    });
        });
        out.append(chunk, got);
        if (!finished || result) {
            return out;
        }
    }
}

std::optional<HttpAnswer> fetch(std::uint16_t port, const std::string& method,
                                const std::string& target) {
    RawConnection c(port);
    if (!c.connected()) {
        return std::nullopt;
    }
    c.send(method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    return c.read_answer(method == "HEAD");
}

} // namespace itest
