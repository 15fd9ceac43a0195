#include "http_connection.hpp"

#include <boost/asio/write.hpp>
#include <boost/beast/core/buffer_traits.hpp>
#include <boost/beast/core/buffers_suffix.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/verb.hpp>

namespace studio {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

namespace {

constexpr std::size_t read_chunk = 4096;

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

// Whether the buffered bytes are that line, or as much of it as has come so far.
bool may_be_http2_preface(const beast::flat_buffer& buffer) {
    const std::string_view data(static_cast<const char*>(buffer.data().data()), buffer.size());
    const auto n = std::min(data.size(), http2_preface.size());
    return data.substr(0, n) == http2_preface.substr(0, n);
}

constexpr std::string_view close_field = "Connection: close\r\n";
constexpr std::string_view keep_alive_field = "Connection: keep-alive\r\n";
constexpr std::string_view http10 = "HTTP/1.0";

void add(AnswerPieces& p, std::string_view bytes) {
    if (!bytes.empty()) {
        p.parts[p.count++] = asio::buffer(bytes.data(), bytes.size());
    }
}

} // namespace

AnswerPieces answer_pieces(const Response& response, unsigned version, bool keep_alive,
                           bool head_only, std::string_view date_field) {
    AnswerPieces p;
    const std::string_view head = response.head;
    if (version == 10) {
        // The ready-made head starts "HTTP/1.1"; the rest of it is the same for HTTP/1.0.
        add(p, http10);
        add(p, head.substr(http10.size()));
    } else {
        add(p, head);
    }
    // HTTP/1.1 keeps the connection unless told otherwise, HTTP/1.0 closes it unless told.
    if (version == 10 && keep_alive) {
        add(p, keep_alive_field);
    } else if (version != 10 && !keep_alive) {
        add(p, close_field);
    }
    add(p, date_field);
    if (!head_only) {
        add(p, response.body());
    }
    return p;
}

std::optional<unsigned> refusal_status(const beast::error_code& ec) {
    if (ec == http::error::header_limit) {
        return 431;
    }
    if (ec == http::error::body_limit) {
        return 413;
    }
    if (ec == beast::error::timeout || ec == http::error::end_of_stream ||
        ec == http::error::partial_message || ec == asio::error::operation_aborted ||
        ec == asio::error::connection_reset || ec == asio::error::eof) {
        return std::nullopt;
    }
    return 400;
}

HttpConnection::HttpConnection(asio::ip::tcp::socket socket, std::shared_ptr<const Router> router,
                               DateCache& dates, std::chrono::steady_clock::duration idle_timeout)
    : socket_(std::move(socket)), deadline_(socket_.get_executor()), router_(std::move(router)),
      dates_(dates), idle_timer_(socket_.get_executor()), idle_timeout_(idle_timeout) {}

void HttpConnection::start(ConnectionManager& manager, ConnectionManager::Handle handle) {
    manager_ = &manager;
    handle_ = handle;
    beast::error_code ec;
    // Answers are written at once where the socket takes them, and their last segment must not
    // wait for an acknowledgement of the one before.
    socket_.non_blocking(true, ec);
    socket_.set_option(asio::ip::tcp::no_delay(true), ec);
    idle_since_ = std::chrono::steady_clock::now();
    watch_idle(idle_since_ + idle_timeout_);
    read_more();
}

void HttpConnection::stop() {
    stopping_ = true;
    if (!busy_) {
        close();
    }
}

void HttpConnection::read_more() {
    socket_.async_read_some(
        buffer_.prepare(read_chunk),
        [self = shared_from_this()](beast::error_code ec, std::size_t n) { self->on_read(ec, n); });
}

void HttpConnection::on_read(const beast::error_code& ec, std::size_t n) {
    if (closed_) {
        return; // the drain or a deadline closed it while these bytes were on their way
    }
    if (ec) {
        close();
        return;
    }
    buffer_.commit(n);
    serve_buffered();
}

void HttpConnection::wait_for_more() {
    // Only a request that arrives in pieces needs the clock.
    if (!deadline_armed_) {
        arm_deadline(request_head_timeout);
    }
    read_more();
}

void HttpConnection::serve_buffered() {
    for (;;) {
        if (!parser_) {
            if (buffer_.size() == 0) {
                busy_ = false;
                if (stopping_) {
                    close();
                    return;
                }
                idle_since_ = std::chrono::steady_clock::now();
                read_more();
                return;
            }
            busy_ = true;
            parser_.emplace();
            parser_->header_limit(static_cast<std::uint32_t>(max_request_head));
            parser_->body_limit(max_request_body);
            head_taken_ = 0;
            body_taken_ = 0;
        }
        if (head_taken_ == 0 && may_be_http2_preface(buffer_)) {
            if (buffer_.size() < http2_preface.size()) {
                wait_for_more(); // or learn that it is not the preface after all
                return;
            }
            // HTTP/2 is not offered: its preface gets no answer at all.
            close();
            return;
        }
        // The parser stops after the head (it is not eager), so that what it takes is counted
        // as head or as body.
        const bool in_head = !parser_->is_header_done();
        beast::error_code ec;
        const auto used = parser_->put(buffer_.data(), ec);
        buffer_.consume(used);
        (in_head ? head_taken_ : body_taken_) += used;
        // Nothing buffered moves the parser on: it says it needs more, or (a chunked body that
        // ends the buffer between chunks) it takes nothing without saying so.
        const bool waiting =
            ec == http::error::need_more || (!ec && !parser_->is_done() && used == 0);
        if (!ec || waiting) {
            if (const auto status = over_limit(waiting)) {
                refuse(*status);
                return;
            }
        }
        if (waiting) {
            wait_for_more();
            return;
        }
        if (ec) {
            if (const auto status = refusal_status(ec)) {
                refuse(*status);
            } else {
                close();
            }
            return;
        }
        if (!parser_->is_done()) {
            continue;
        }
        disarm_deadline();
        const auto& req = parser_->get();
        const auto version = req.version();
        if (version != 10 && version != 11) {
            refuse(505);
            return;
        }
        // A transfer coding that does not end in chunked leaves the body's length unknown; taking
        // the bytes after the head as the next request would let a body pass as a request.
        if (!parser_->chunked() && req.find(http::field::transfer_encoding) != req.end()) {
            refuse(400);
            return;
        }
        const auto method = method_of(req.method());
        const auto& response =
            router_->handle(method, std::string_view(req.target().data(), req.target().size()));
        const bool keep_alive = req.keep_alive() && !stopping_;
        parser_.reset();
        const auto after = keep_alive ? AfterWrite::carry_on : AfterWrite::close;
        if (answer(response, version, keep_alive, method == Method::head, after) != Sent::whole) {
            return; // closed, or on_written carries on once the rest is out
        }
        if (after == AfterWrite::close) {
            close();
            return;
        }
    }
}

std::optional<unsigned> HttpConnection::over_limit(bool waiting) const {
    // While the parser waits, everything buffered belongs to the unfinished head or body, and at
    // least one more byte of it is still to come.
    const auto pending = waiting ? buffer_.size() + 1 : 0;
    if (!parser_->is_header_done()) {
        if (head_taken_ + pending > max_request_head) {
            return 431;
        }
        return std::nullopt;
    }
    if (head_taken_ > max_request_head) {
        return 431;
    }
    if (body_taken_ + pending > max_request_body) {
        return 413;
    }
    return std::nullopt;
}

HttpConnection::Sent HttpConnection::answer(const Response& response, unsigned version,
                                            bool keep_alive, bool head_only, AfterWrite after) {
    const auto date = dates_.head_end();
    date.copy(date_field_.data(), date.size());
    pieces_ = answer_pieces(response, version, keep_alive, head_only,
                            std::string_view(date_field_.data(), date.size()));
    after_write_ = after;
    return send(std::span<const asio::const_buffer>(pieces_.parts.data(), pieces_.count));
}

HttpConnection::Sent HttpConnection::send(std::span<const asio::const_buffer> buffers) {
    // Whatever the socket takes now, without waiting.
    beast::error_code ec;
    beast::buffers_suffix<std::span<const asio::const_buffer>> rest(buffers);
    rest.consume(socket_.write_some(buffers, ec));
    if (beast::buffer_bytes(rest) == 0) {
        return Sent::whole;
    }
    if (ec && ec != asio::error::would_block && ec != asio::error::try_again) {
        close();
        return Sent::closed;
    }
    // The rest as the client reads it, within the write timeout.
    arm_deadline(response_write_timeout);
    asio::async_write(socket_, rest, [self = shared_from_this()](beast::error_code e, std::size_t) {
        self->on_written(e);
    });
    return Sent::queued;
}

void HttpConnection::on_written(const beast::error_code& ec) {
    disarm_deadline();
    if (closed_) {
        return;
    }
    if (ec) {
        close();
        return;
    }
    after_written();
}

void HttpConnection::after_written() {
    switch (after_write_) {
    case AfterWrite::linger:
        linger_close();
        return;
    case AfterWrite::close:
        close();
        return;
    case AfterWrite::carry_on:
        if (stopping_) {
            close();
            return;
        }
        serve_buffered();
        return;
    }
}

void HttpConnection::refuse(unsigned status) {
    // A malformed request never reaches the routes; its answer closes the connection.
    disarm_deadline();
    parser_.reset();
    if (answer(router_->refused(status), 11, false, false, AfterWrite::linger) == Sent::whole) {
        linger_close();
    }
}

void HttpConnection::close() {
    if (closed_) {
        return;
    }
    closed_ = true;
    disarm_deadline();
    idle_timer_.cancel();
    beast::error_code ec;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ec);
    socket_.close(ec);
    const auto keep = shared_from_this(); // the manager may hold the last reference
    manager_->remove(handle_);
}

void HttpConnection::linger_close() {
    // The client may still be sending what we refused to read. Closing with unread data would
    // reset the connection and could destroy the answer before the client reads it, so stop
    // sending, swallow what still arrives for a moment, then close.
    beast::error_code ec;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_send, ec);
    if (ec) {
        close();
        return;
    }
    arm_deadline(refusal_linger);
    discard_until_closed();
}

void HttpConnection::discard_until_closed() {
    buffer_.clear();
    socket_.async_read_some(buffer_.prepare(read_chunk),
                            [self = shared_from_this()](beast::error_code e, std::size_t) {
                                if (e || self->closed_) {
                                    self->close();
                                    return;
                                }
                                self->discard_until_closed();
                            });
}

void HttpConnection::arm_deadline(std::chrono::steady_clock::duration d) {
    deadline_armed_ = true;
    deadline_.expires_after(d);
    deadline_.async_wait(
        [self = shared_from_this(), generation = ++deadline_generation_](beast::error_code ec) {
            // A deadline disarmed or re-armed since is stale, even if it had already expired.
            if (!ec && self->deadline_armed_ && self->deadline_generation_ == generation) {
                self->close();
            }
        });
}

void HttpConnection::watch_idle(std::chrono::steady_clock::time_point due) {
    idle_timer_.expires_at(due);
    idle_timer_.async_wait([self = shared_from_this()](beast::error_code ec) {
        if (ec || self->closed_) {
            return;
        }
        // Requests do not touch this wait; the clock read when the connection last fell idle says
        // whether the silence has lasted long enough. A busy connection has deadlines of its own.
        const auto now = std::chrono::steady_clock::now();
        if (self->busy_) {
            self->watch_idle(now + self->idle_timeout_);
        } else if (const auto due = self->idle_since_ + self->idle_timeout_; due > now) {
            self->watch_idle(due);
        } else {
            self->close();
        }
    });
}

void HttpConnection::disarm_deadline() {
    if (!deadline_armed_) {
        return;
    }
    deadline_armed_ = false;
    ++deadline_generation_;
    deadline_.cancel();
}

} // namespace studio
