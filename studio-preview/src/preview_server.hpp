#pragma once

#include "connection_manager.hpp"
#include "http_date.hpp"
#include "io_context_pool.hpp"
#include "routes.hpp"
#include "shutdown_signal.hpp"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <memory>
#include <system_error>
#include <vector>

namespace studio {

// What an accept error means for the accept loop: try again at once, or after a pause.
enum class AcceptRetry { at_once, after_pause };
AcceptRetry accept_retry_for(const boost::system::error_code& ec) noexcept;
inline constexpr auto accept_pause = std::chrono::seconds(1);

// The launcher's HTTP server. The accept loop runs on the calling (main) thread's io_context and
// hands each connection to the worker contexts in turn; a connection stays on its context. Each
// context has its own connection manager and date cache. serve() returns once the shutdown
// signal has fired and every context has run out of work, that is every connection has closed.
class PreviewServer {
public:
    PreviewServer(boost::asio::io_context& main_context, IoContextPool& workers,
                  boost::asio::ip::tcp::acceptor listener, std::shared_ptr<const Router> router,
                  std::shared_ptr<ShutdownSignal> shutdown);
    ~PreviewServer();

    std::error_code serve();

private:
    // What belongs to one worker context; touched only on that context's thread.
    struct Lane {
        ConnectionManager connections;
        DateCache dates;
    };

    void accept();
    void on_accept(const boost::system::error_code& ec, boost::asio::ip::tcp::socket socket);
    void begin_drain();

    boost::asio::io_context& main_;
    IoContextPool& workers_;
    boost::asio::ip::tcp::acceptor listener_;
    boost::asio::steady_timer retry_timer_;
    std::shared_ptr<const Router> router_;
    std::shared_ptr<ShutdownSignal> shutdown_;
    std::vector<std::unique_ptr<Lane>> lanes_;
    std::size_t next_lane_ = 0;
};

} // namespace studio
