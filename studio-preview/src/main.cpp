// The launcher's entry point: the start-up sequence, step by step, and the exit status.

#include "heartbeat.hpp"
#include "launch_options.hpp"
#include "platform/platform.hpp"
#include "preview_server.hpp"
#include "routes.hpp"
#include "shutdown_signal.hpp"
#include "worker_pool.hpp"

#include <algorithm>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace asio = boost::asio;

namespace {

constexpr int fatal_exit_status = 101;

[[noreturn]] void fatal(std::string_view step, const std::string& description) {
    studio::platform::write_stderr_line(std::string(step) + ": " + description);
    std::_Exit(fatal_exit_status);
}

std::size_t worker_threads() {
    return std::max(1u, std::thread::hardware_concurrency());
}

} // namespace

int main(int argc, char** argv) {
    studio::platform::prepare_process();

    // 1. The worker pool, and the main thread's own context for the accept loop.
    std::unique_ptr<studio::WorkerPool> pool;
    std::optional<asio::io_context> main_context;
    try {
        pool = std::make_unique<studio::WorkerPool>(worker_threads());
        main_context.emplace(1);
    } catch (const std::exception& e) {
        fatal("Failed building the Runtime", e.what());
    }

    // 2. The heartbeat record; the time until the first ping counts from here.
    auto heartbeat = studio::HeartbeatState::create(studio::SteadyClock::now());

    // 3. The command line.
    const auto options = studio::parse_launch_options(
        std::span<const char* const>(argv + 1, argc > 0 ? argc - 1 : 0));

    // 4. The loopback listener, on a port the system picks.
    asio::ip::tcp::acceptor listener(*main_context);
    {
        boost::system::error_code ec;
        const asio::ip::tcp::endpoint loopback(asio::ip::address_v4::loopback(), 0);
        listener.open(loopback.protocol(), ec);
        if (!ec) {
            listener.bind(loopback, ec);
        }
        if (!ec) {
            listener.listen(128, ec);
        }
        if (ec) {
            fatal("bind a loopback port", ec.message());
        }
    }

    // 5. Its address.
    boost::system::error_code ec;
    const auto local = listener.local_endpoint(ec);
    if (ec) {
        fatal("local addr", ec.message());
    }

    // 6-8. The address and the quit hint.
    const auto url = studio::preview_url(local);
    studio::platform::write_stdout_line(std::string(studio::banner_prefix) + url);
    studio::platform::write_stdout_line(studio::quit_hint);

    // 9. The browser; failing to open one is reported and otherwise ignored.
    if (!options.no_open) {
        if (const auto failure = studio::platform::open_url(url)) {
            studio::platform::write_stderr_line("Could not open a browser (" + *failure +
                                                "); open the URL above manually.");
        }
    }

    // 10. The router and the shutdown signal.
    auto router = std::make_shared<const studio::Router>(heartbeat);
    auto shutdown =
        std::make_shared<studio::ShutdownSignal>((*pool)[0].context.get_executor(), heartbeat);
    heartbeat.reset();

    // 11. Serve until the signal fires and every connection has closed; the workers' threads
    //     have ended when it returns.
    {
        studio::PreviewServer server(*main_context, *pool, std::move(listener), std::move(router),
                                     std::move(shutdown));
        if (const auto err = server.serve()) {
            fatal("serve", err.message());
        }
    }

    // 12. Done.
    return 0;
}
