#pragma once

#include "routes.hpp"
#include "shutdown_signal.hpp"
#include "worker_pool.hpp"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <memory>
#include <system_error>

namespace studio {

// What an accept error means for the accept loop: try again at once, or after a pause.
enum class AcceptRetry { at_once, after_pause };
AcceptRetry accept_retry_for(const boost::system::error_code& ec) noexcept;
inline constexpr auto accept_pause = std::chrono::seconds(1);

// The launcher's HTTP server. The accept loop runs on the calling (main) thread's io_context and
// hands each connection to the workers in turn; a connection stays with its worker. When the
// shutdown signal fires, the listener closes and the workers drain; serve() returns once every
// worker's thread has ended, that is every connection has closed.
class PreviewServer {
public:
    PreviewServer(boost::asio::io_context& main_context, WorkerPool& workers,
                  boost::asio::ip::tcp::acceptor listener, std::shared_ptr<const Router> router,
                  std::shared_ptr<ShutdownSignal> shutdown);
    ~PreviewServer();

    std::error_code serve();

private:
    void accept();
    void on_accept(const boost::system::error_code& ec, boost::asio::ip::tcp::socket socket);
    void begin_drain();

    boost::asio::io_context& main_;
    WorkerPool& workers_;
    boost::asio::ip::tcp::acceptor listener_;
    boost::asio::steady_timer retry_timer_;
    std::shared_ptr<const Router> router_;
    std::shared_ptr<ShutdownSignal> shutdown_;
    std::size_t next_worker_ = 0;
};

} // namespace studio
