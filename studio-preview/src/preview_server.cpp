#include "preview_server.hpp"

#include "http_connection.hpp"

#include <boost/asio/post.hpp>
#include <boost/asio/strand.hpp>
#include <vector>

namespace studio {

namespace asio = boost::asio;

// The server's bookkeeping of open connections, shared with the connections themselves so that
// each can sign off when it ends, on whatever thread that happens.
struct PreviewServer::Connections {
    std::mutex mutex;
    std::condition_variable all_closed;
    std::unordered_map<std::uint64_t, std::weak_ptr<HttpConnection>> open;
    std::uint64_t next_id = 0;
    bool draining = false;

    void remove(std::uint64_t id) {
        std::lock_guard lock(mutex);
        open.erase(id);
        if (open.empty()) {
            all_closed.notify_all();
        }
    }
};

AcceptRetry accept_retry_for(const boost::system::error_code& ec) noexcept {
    if (ec == asio::error::connection_refused || ec == asio::error::connection_aborted ||
        ec == asio::error::connection_reset) {
        return AcceptRetry::at_once;
    }
    return AcceptRetry::after_pause;
}

PreviewServer::PreviewServer(asio::io_context& main_context, asio::io_context& workers,
                             asio::ip::tcp::acceptor listener, std::shared_ptr<const Router> router,
                             std::shared_ptr<ShutdownSignal> shutdown)
    : main_(main_context), workers_(workers), listener_(std::move(listener)),
      retry_timer_(main_context), router_(std::move(router)), shutdown_(std::move(shutdown)),
      dates_(std::make_shared<DateCache>()), connections_(std::make_shared<Connections>()) {}

PreviewServer::~PreviewServer() = default;

std::error_code PreviewServer::serve() {
    shutdown_->start([this] { asio::post(main_, [this] { begin_drain(); }); });
    accept();
    try {
        main_.run();
    } catch (const boost::system::system_error& e) {
        return e.code();
    }
    std::unique_lock lock(connections_->mutex);
    connections_->all_closed.wait(lock, [this] { return connections_->open.empty(); });
    return {};
}

void PreviewServer::accept() {
    listener_.async_accept(asio::make_strand(workers_),
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

    std::shared_ptr<HttpConnection> connection;
    {
        std::lock_guard lock(connections_->mutex);
        const auto id = connections_->next_id++;
        connection = std::make_shared<HttpConnection>(
            std::move(socket), router_, dates_,
            [connections = connections_, id] { connections->remove(id); });
        connections_->open.emplace(id, connection);
    }
    connection->start();
    accept();
}

void PreviewServer::begin_drain() {
    boost::system::error_code ec;
    listener_.close(ec);
    retry_timer_.cancel();
    std::vector<std::shared_ptr<HttpConnection>> open;
    {
        std::lock_guard lock(connections_->mutex);
        connections_->draining = true;
        for (auto& [id, weak] : connections_->open) {
            if (auto c = weak.lock()) {
                open.push_back(std::move(c));
            }
        }
    }
    for (auto& c : open) {
        c->stop();
    }
    // The server no longer needs the router; connections still serving keep their own reference.
    router_.reset();
}

} // namespace studio
