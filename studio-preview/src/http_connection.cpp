#include "http_connection.hpp"

#include <array>
#include <boost/asio/dispatch.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>

namespace studio {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

namespace {

Method method_of(http::verb verb) {
    switch (verb) {
    case http::verb::get:
        return Method::get;
    case http::verb::head:
        return Method::head;
    default:
        return Method::other;
    }
}

// The first line of the HTTP/2 connection preface.
constexpr std::string_view http2_preface = "PRI * HTTP/2.0\r\n";

bool starts_with_http2_preface(const beast::flat_buffer& buffer) {
    const std::string_view data(static_cast<const char*>(buffer.data().data()), buffer.size());
    return data.substr(0, http2_preface.size()) == http2_preface;
}

} // namespace

HttpConnection::HttpConnection(asio::ip::tcp::socket socket, std::shared_ptr<const Router> router,
                               std::shared_ptr<DateCache> dates, std::function<void()> on_closed)
    : stream_(std::move(socket)), router_(std::move(router)), dates_(std::move(dates)),
      on_closed_(std::move(on_closed)) {}

HttpConnection::~HttpConnection() {
    beast::error_code ec;
    stream_.socket().close(ec);
    if (on_closed_) {
        on_closed_();
    }
}

void HttpConnection::start() {
    asio::dispatch(stream_.get_executor(),
                   [self = shared_from_this()] { self->wait_for_request(); });
}

void HttpConnection::stop() {
    asio::dispatch(stream_.get_executor(), [self = shared_from_this()] {
        self->stopping_ = true;
        if (!self->busy_) {
            self->close();
        }
    });
}

void HttpConnection::wait_for_request() {
    busy_ = false;
    if (stopping_) {
        close();
        return;
    }
    if (buffer_.size() > 0) {
        // A pipelined request is already here.
        on_first_bytes({}, 0);
        return;
    }
    stream_.expires_never();
    stream_.async_read_some(buffer_.prepare(4096),
                            [self = shared_from_this()](beast::error_code ec, std::size_t n) {
                                self->on_first_bytes(ec, n);
                            });
}

void HttpConnection::on_first_bytes(beast::error_code ec, std::size_t n) {
    if (ec) {
        close();
        return;
    }
    buffer_.commit(n);
    if (!stream_.socket().is_open()) {
        return; // the drain closed it while these bytes were on their way
    }
    busy_ = true;
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(max_request_head));
    parser_->body_limit(max_request_body);
    stream_.expires_after(request_head_timeout);
    http::async_read(
        stream_, buffer_, *parser_,
        [self = shared_from_this()](beast::error_code e, std::size_t) { self->on_read(e); });
}

void HttpConnection::on_read(beast::error_code ec) {
    if (ec == http::error::header_limit) {
        fail_with(431);
        return;
    }
    if (ec == http::error::body_limit) {
        fail_with(413);
        return;
    }
    if (ec == beast::error::timeout || ec == http::error::end_of_stream ||
        ec == http::error::partial_message || ec == asio::error::operation_aborted ||
        ec == asio::error::connection_reset || ec == asio::error::eof) {
        close();
        return;
    }
    if (ec) {
        if (starts_with_http2_preface(buffer_)) {
            // HTTP/2 is not offered: its preface gets no answer at all.
            close();
            return;
        }
        fail_with(400);
        return;
    }
    const auto& req = parser_->get();
    if (req.version() != 10 && req.version() != 11) {
        fail_with(505);
        return;
    }
    const auto method = method_of(req.method());
    auto routed =
        router_->handle(method, std::string_view(req.target().data(), req.target().size()));
    write(req.version(), req.keep_alive(), method == Method::head, std::move(routed));
}

void HttpConnection::write(unsigned version, bool keep_alive, bool head_only, Response routed) {
    routed_ = std::move(routed);
    response_.emplace();
    auto& res = *response_;
    res.version(version);
    res.result(static_cast<http::status>(routed_.status));
    res.set(http::field::date, dates_->now());
    if (!routed_.content_type.empty()) {
        res.set(http::field::content_type,
                beast::string_view(routed_.content_type.data(), routed_.content_type.size()));
    }
    if (routed_.no_store) {
        res.set(http::field::cache_control, "no-store");
    }
    if (routed_.allow_get_head) {
        res.set(http::field::allow, "GET,HEAD");
    }
    const auto body = routed_.body();
    if (routed_.has_content_length) {
        res.set(http::field::content_length, std::to_string(body.size()));
    }
    if (!head_only) {
        res.body() = http::span_body<const char>::value_type(body.data(), body.size());
    }
    const bool keep = keep_alive && !stopping_;
    res.keep_alive(keep);

    stream_.expires_after(response_write_timeout);
    http::async_write(stream_, res,
                      [self = shared_from_this(), keep](beast::error_code ec, std::size_t) {
                          self->on_write(ec, keep);
                      });
}

void HttpConnection::on_write(beast::error_code ec, bool keep_alive) {
    response_.reset();
    routed_ = Response{};
    if (ec) {
        close();
        return;
    }
    if (!keep_alive || stopping_) {
        beast::error_code ignored;
        stream_.socket().shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
        close();
        return;
    }
    wait_for_request();
}

void HttpConnection::fail_with(unsigned status) {
    // A malformed request never reaches the router; its answer closes the connection.
    response_.emplace();
    auto& res = *response_;
    res.version(11);
    res.result(static_cast<http::status>(status));
    res.set(http::field::date, dates_->now());
    res.set(http::field::content_length, "0");
    res.keep_alive(false);
    stream_.expires_after(response_write_timeout);
    http::async_write(stream_, res, [self = shared_from_this()](beast::error_code, std::size_t) {
        self->response_.reset();
        self->linger_close();
    });
}

void HttpConnection::close() {
    beast::error_code ec;
    stream_.socket().shutdown(asio::ip::tcp::socket::shutdown_both, ec);
    stream_.socket().close(ec);
}

void HttpConnection::linger_close() {
    // The client may still be sending what we refused to read. Closing with unread data would
    // reset the connection and could destroy the answer before the client reads it, so stop
    // sending, swallow what still arrives for a moment, then close.
    beast::error_code ec;
    stream_.socket().shutdown(asio::ip::tcp::socket::shutdown_send, ec);
    if (ec) {
        close();
        return;
    }
    stream_.expires_after(std::chrono::seconds(1));
    discard_until_closed();
}

void HttpConnection::discard_until_closed() {
    buffer_.clear();
    stream_.async_read_some(buffer_.prepare(8192),
                            [self = shared_from_this()](beast::error_code e, std::size_t) {
                                if (e) {
                                    self->close();
                                    return;
                                }
                                self->discard_until_closed();
                            });
}

} // namespace studio
