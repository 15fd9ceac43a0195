#pragma once

#include "heartbeat.hpp"
#include "http_date.hpp"
#include "routes.hpp"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <system_error>
#include <unordered_map>

namespace studio {

class HttpConnection;

// What an accept error means for the accept loop: try again at once, or after a pause.
enum class AcceptRetry { at_once, after_pause };
AcceptRetry accept_retry_for(const boost::system::error_code& ec) noexcept;
inline constexpr auto accept_pause = std::chrono::seconds(1);

// The launcher's HTTP server. The accept loop runs on the calling (main) thread's io_context; each
// connection runs on the worker pool. serve() returns once the shutdown signal has fired and every
// connection has closed.
class PreviewServer {
public:
    PreviewServer(boost::asio::io_context& main_context, boost::asio::io_context& workers,
                  boost::asio::ip::tcp::acceptor listener, std::shared_ptr<const Router> router,
                  std::shared_ptr<ShutdownSignal> shutdown);
    ~PreviewServer();

    std::error_code serve();

private:
    struct Connections;

    void accept();
    void on_accept(const boost::system::error_code& ec, boost::asio::ip::tcp::socket socket);
    void begin_drain();

    boost::asio::io_context& main_;
    boost::asio::io_context& workers_;
    boost::asio::ip::tcp::acceptor listener_;
    boost::asio::steady_timer retry_timer_;
    std::shared_ptr<const Router> router_;
    std::shared_ptr<ShutdownSignal> shutdown_;
    std::shared_ptr<DateCache> dates_;
    std::shared_ptr<Connections> connections_;
};

} // namespace studio
