#pragma once

#include "heartbeat.hpp"

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <functional>
#include <memory>

namespace studio {

namespace platform {
class InterruptWatch;
}

// Fires once, on the first of: the console interrupt, or the watchdog giving up (which prints the
// exit line). Runs on the worker pool; the interrupt is registered only when start() is called,
// and released as soon as the signal has fired.
class ShutdownSignal : public std::enable_shared_from_this<ShutdownSignal> {
public:
    ShutdownSignal(boost::asio::any_io_executor workers, std::shared_ptr<HeartbeatState> state);
    ~ShutdownSignal();

    void start(std::function<void()> on_fire);

private:
    void check();
    void fire();

    boost::asio::strand<boost::asio::any_io_executor> strand_;
    boost::asio::steady_timer timer_;
    std::shared_ptr<HeartbeatState> state_;
    std::unique_ptr<platform::InterruptWatch> interrupt_;
    std::function<void()> on_fire_;
    bool fired_ = false;
};

} // namespace studio
