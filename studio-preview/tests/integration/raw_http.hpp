#pragma once

// A deliberately plain HTTP client for the tests: it writes exactly the bytes a test gives it and
// parses what comes back, so malformed requests, pipelining and half-sent heads can be tried.

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace itest {

// One way of cutting a client's bytes into the writes that carry them: each piece is written on
// its own, then the client pauses before the next.
struct Piece {
    std::size_t size = 0;
    std::chrono::microseconds pause{0};
};
struct Segmentation {
    std::string name;
    std::vector<Piece> pieces; // their sizes add up to the whole input
};

// Every segmentation a hostile input is tried in: whole; one byte at a time (512 even pieces for
// a larger input); pseudo-random pieces with pseudo-random pauses from a fixed seed; one byte past
// every line end (so that a parser taking whole lines finds one complete line in each read); and,
// for each mark (an offset where a limit is reached or a chunk size line starts or ends), two
// pieces cut at every offset within two bytes of it.
std::vector<Segmentation> segmentations(std::string_view bytes,
                                        const std::vector<std::size_t>& marks = {});

struct HttpAnswer {
    int status = 0;
    int version = 0;
    std::map<std::string, std::string> headers; // lower-case names
    std::string body;

    bool has(const std::string& name) const { return headers.count(name) > 0; }
    std::string get(const std::string& name) const {
        const auto it = headers.find(name);
        return it == headers.end() ? std::string() : it->second;
    }
};

// A client that takes answers slowly: a small receive buffer, so that the launcher's socket fills
// and its writes go partial, and reads of a few bytes at a time.
struct SlowReading {
    int receive_buffer = 4096;
    std::size_t read_size = 512;
};

class RawConnection {
public:
    explicit RawConnection(std::uint16_t port);
    RawConnection(std::uint16_t port, SlowReading slow);

    bool connected() const { return connected_; }
    std::uint16_t local_port() const;
    void send(const std::string& bytes);
    // Writes the bytes in the segmentation's pieces. It stops early once the server has answered
    // or closed, as a client does that reads while it writes.
    void send(std::string_view bytes, const Segmentation& segmentation);
    // Reads one response; head_request leaves the body out. Nothing on error, timeout or close.
    std::optional<HttpAnswer>
    read_answer(bool head_request = false,
                std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // True when the server closed the connection (end of stream or reset) within the timeout.
    bool closed_by_peer(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Everything received until the server closes (or the timeout passes).
    std::string read_all(std::chrono::milliseconds timeout = std::chrono::seconds(5));

private:
    boost::asio::io_context io_;
    boost::asio::ip::tcp::socket socket_;
    boost::beast::flat_buffer buffer_;
    bool connected_ = false;
};

// One request on a fresh connection: "GET /x HTTP/1.1" with a host header and Connection: close.
std::optional<HttpAnswer> fetch(std::uint16_t port, const std::string& method,
                                const std::string& target);

} // namespace itest
