#include "preview_server.hpp"

#include "http_connection.hpp"

#include <boost/asio/post.hpp>

namespace studio {

namespace asio = boost::asio;

AcceptRetry accept_retry_for(const boost::system::error_code& ec) noexcept {
    if (ec == asio::error::connection_refused || ec == asio::error::connection_aborted ||
        ec == asio::error::connection_reset) {
        return AcceptRetry::at_once;
    }
    return AcceptRetry::after_pause;
}

PreviewServer::PreviewServer(asio::io_context& main_context, WorkerPool& workers,
                             asio::ip::tcp::acceptor listener, std::shared_ptr<const Router> router,
                             std::shared_ptr<ShutdownSignal> shutdown)
    : main_(main_context), workers_(workers), listener_(std::move(listener)),
      retry_timer_(main_context), router_(std::move(router)), shutdown_(std::move(shutdown)) {}

PreviewServer::~PreviewServer() = default;

std::error_code PreviewServer::serve() {
    shutdown_->start([this] { asio::post(main_, [this] { begin_drain(); }); });
    accept();
    try {
        main_.run();
    } catch (const boost::system::system_error& e) {
        return e.code();
    }
    // The drain has told every worker to close its connections; each thread ends when its
    // context has nothing left to do.
    workers_.join();
    return {};
}

void PreviewServer::accept() {
    // The socket is made on the context that will serve it, so it never changes threads.
    listener_.async_accept(workers_[next_worker_].context,
                           [this](const boost::system::error_code& ec, asio::ip::tcp::socket s) {
                               on_accept(ec, std::move(s));
                           });
}

void PreviewServer::on_accept(const boost::system::error_code& ec, asio::ip::tcp::socket socket) {
    if (!listener_.is_open()) {
        return; // draining: the listener is closed and nothing more is accepted
    }
    if (ec) {
        if (ec == asio::error::operation_aborted) {
            return;
        }
        if (accept_retry_for(ec) == AcceptRetry::at_once) {
            accept();
            return;
        }
        retry_timer_.expires_after(accept_pause);
        retry_timer_.async_wait([this](const boost::system::error_code& e) {
            if (!e && listener_.is_open()) {
                accept();
            }
        });
        return;
    }

    auto& worker = workers_[next_worker_];
    auto connection = std::make_shared<HttpConnection>(std::move(socket), router_, worker.dates);
    // Posted from this thread before any drain is, so the connection is known to its manager
    // before the manager is told to stop.
    asio::post(worker.context, [&worker, connection] { worker.connections.start(connection); });
    next_worker_ = (next_worker_ + 1) % workers_.size();
    accept();
}

void PreviewServer::begin_drain() {
    boost::system::error_code ec;
    listener_.close(ec);
    retry_timer_.cancel();
    workers_.drain();
    // The server no longer needs the router; connections still serving keep their own reference.
    router_.reset();
}

} // namespace studio
