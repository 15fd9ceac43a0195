#pragma once

#include "connection_manager.hpp"
#include "http_date.hpp"
#include "http_parser.hpp"
#include "routes.hpp"

#include <array>
#include <boost/asio/buffer.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/string_body.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace studio {

// Limits that keep one slow or hostile client from holding resources or the graceful stop.
inline constexpr std::size_t max_request_head = 16 * 1024;
inline constexpr std::size_t max_request_body = 64 * 1024;
inline constexpr auto request_head_timeout = std::chrono::seconds(10);
inline constexpr auto response_write_timeout = std::chrono::seconds(10);
inline constexpr auto refusal_linger = std::chrono::seconds(1);
// How long a connection may stay silent between requests before it is closed.
inline constexpr auto idle_connection_timeout = std::chrono::seconds(60);

// The pieces of one answer as written, in order: status line and fields, the connection field if
// any, the date field with the blank line, and the body (left out for HEAD). Empty pieces are
// dropped.
struct AnswerPieces {
    std::array<boost::asio::const_buffer, 5> parts{};
    std::size_t count = 0;
};
AnswerPieces answer_pieces(const Response& response, unsigned version, bool keep_alive,
                           bool head_only, std::string_view date_field);

// The status to answer a request with that the parser refused, or nothing when the connection is
// to be closed without an answer (the client went away, or sent too little in time).
std::optional<unsigned> refusal_status(const boost::beast::error_code& ec);

// One accepted connection: reads requests, has Beast parse them, answers them from the router's
// ready-made answers with keep-alive, until the client closes, an error ends it or the drain stops
// it. It lives on one io_context for its whole life and is only ever touched from that context's
// thread, so it needs no strand and no lock.
//
// A connection is idle while it waits for the first byte of a request (including a fresh
// connection that never sent anything) and busy from that byte until its answer is written.
// stop() closes an idle connection at once and lets a busy one finish its answer first; an idle
// connection also closes by itself after idle_timeout of silence.
//
// An answer is first written at once, without waiting: a whole request in one read, answered in one
// gather write, arms no timer and queues nothing. Only a request that comes in pieces arms the
// head timeout, and only an answer the socket cannot take at once is written in the background
// with the write timeout. The idle timeout is one wait that is moved on only when it comes due.
//
// The head and body limits are counted here, across reads: Beast takes a head line by line as its
// lines arrive and holds its own limit only against the bytes of one call, so a head that comes in
// pieces could otherwise grow without bound.
class HttpConnection : public std::enable_shared_from_this<HttpConnection> {
public:
    HttpConnection(boost::asio::ip::tcp::socket socket, std::shared_ptr<const Router> router,
                   DateCache& dates,
                   std::chrono::steady_clock::duration idle_timeout = idle_connection_timeout);

    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;

    // Begins reading. The manager holds the connection under handle and is told when it closes.
    void start(ConnectionManager& manager, ConnectionManager::Handle handle);
    void stop();

private:
    // What happens once an answer is out: wait for the next request, close, or close after
    // swallowing what the client still sends.
    enum class AfterWrite { carry_on, close, linger };
    // How far an answer got at once: all of it, the rest queued to be written as the client
    // reads, or nothing more because the connection has closed on an error.
    enum class Sent { whole, queued, closed };

    void read_more();
    void wait_for_more();
    void on_read(const boost::beast::error_code& ec, std::size_t n);
    void serve_buffered();
    std::optional<unsigned> over_limit(bool waiting) const;
    Sent answer(const Response& response, unsigned version, bool keep_alive, bool head_only,
                AfterWrite after);
    Sent send(std::span<const boost::asio::const_buffer> buffers);
    void on_written(const boost::beast::error_code& ec);
    void after_written();
    void refuse(unsigned status);
    void close();
    void linger_close();
    void discard_until_closed();
    void arm_deadline(std::chrono::steady_clock::duration d);
    void disarm_deadline();
    void watch_idle(std::chrono::steady_clock::time_point due);

    boost::asio::ip::tcp::socket socket_;
    boost::asio::steady_timer deadline_;
    boost::beast::flat_buffer buffer_;
    std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser_;
    // What the parser took of the request being read: its head, and its body as sent (chunk
    // framing and trailer included).
    std::size_t head_taken_ = 0;
    std::size_t body_taken_ = 0;
    std::shared_ptr<const Router> router_;
    DateCache& dates_;
    ConnectionManager* manager_ = nullptr;
    ConnectionManager::Handle handle_{};

    // The answer being written; its pieces point into the router's answers and date_field_.
    AnswerPieces pieces_;
    std::array<char, 64> date_field_{};
    AfterWrite after_write_ = AfterWrite::carry_on;

    boost::asio::steady_timer idle_timer_;
    std::chrono::steady_clock::duration idle_timeout_;
    std::chrono::steady_clock::time_point idle_since_;

    std::uint64_t deadline_generation_ = 0;
    bool deadline_armed_ = false;
    bool busy_ = false;
    bool stopping_ = false;
    bool closed_ = false;
};

} // namespace studio
