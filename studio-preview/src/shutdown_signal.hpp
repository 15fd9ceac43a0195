#pragma once

#include "heartbeat.hpp"

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/steady_timer.hpp>
#include <functional>
#include <memory>

namespace studio {

namespace platform {
class InterruptWatch;
}

// Fires once, on the first of: the console interrupt, or the watchdog giving up (which prints the
// exit line). Everything after start() runs on the executor it was made with, which must run its
// work on one thread at a time (the launcher gives it the first worker's context). The interrupt
// is registered when start() is called and released as soon as the signal has fired.
class ShutdownSignal : public std::enable_shared_from_this<ShutdownSignal> {
public:
    ShutdownSignal(boost::asio::any_io_executor executor, std::shared_ptr<HeartbeatState> state);
    ~ShutdownSignal();

    // on_fire is called once, on the executor, when the signal fires.
    void start(std::function<void()> on_fire);

private:
    void check();
    void fire();

    boost::asio::any_io_executor executor_;
    boost::asio::steady_timer timer_;
    std::shared_ptr<HeartbeatState> state_;
    std::unique_ptr<platform::InterruptWatch> interrupt_;
    std::function<void()> on_fire_;
    bool fired_ = false;
};

} // namespace studio
