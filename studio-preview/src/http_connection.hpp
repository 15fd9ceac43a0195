#pragma once

#include "http_date.hpp"
#include "routes.hpp"

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/span_body.hpp>
#include <boost/beast/http/string_body.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace studio {

// Limits that keep one slow or hostile client from holding resources or the graceful stop.
inline constexpr std::size_t max_request_head = 16 * 1024;
inline constexpr std::size_t max_request_body = 64 * 1024;
inline constexpr auto request_head_timeout = std::chrono::seconds(10);
inline constexpr auto response_write_timeout = std::chrono::seconds(10);

// One accepted connection: reads requests, routes them and writes the answers, with keep-alive,
// until the client closes, an error ends it or the server's drain closes it. All its work runs on
// its own strand.
//
// A connection is idle while it waits for the first byte of a request (including a fresh
// connection that never sent anything) and busy from that byte until its response is written.
// stop() closes an idle connection at once and lets a busy one finish its response first.
class HttpConnection : public std::enable_shared_from_this<HttpConnection> {
public:
    HttpConnection(boost::asio::ip::tcp::socket socket, std::shared_ptr<const Router> router,
                   std::shared_ptr<DateCache> dates, std::function<void()> on_closed);
    ~HttpConnection();

    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;

    void start();
    void stop();

private:
    using ResponseMessage = boost::beast::http::response<boost::beast::http::span_body<const char>>;

    void wait_for_request();
    void on_first_bytes(boost::beast::error_code ec, std::size_t n);
    void on_read(boost::beast::error_code ec);
    void write(unsigned version, bool keep_alive, bool head_only, Response routed);
    void on_write(boost::beast::error_code ec, bool keep_alive);
    void fail_with(unsigned status);
    void close();
    void linger_close();
    void discard_until_closed();

    boost::beast::tcp_stream stream_;
    boost::beast::flat_buffer buffer_;
    std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser_;
    Response routed_;
    std::optional<ResponseMessage> response_;
    std::shared_ptr<const Router> router_;
    std::shared_ptr<DateCache> dates_;
    std::function<void()> on_closed_;
    bool busy_ = false;
    bool stopping_ = false;
};

} // namespace studio
