#include "launch_options.hpp"

namespace studio {

LaunchOptions parse_launch_options(std::span<const char* const> args) noexcept {
    LaunchOptions options;
    for (const char* arg : args) {
        if (arg != nullptr && std::string_view(arg) == "--no-open") {
            options.no_open = true;
        }
    }
    return options;
}

std::string preview_url(const boost::asio::ip::tcp::endpoint& local) {
    return "http://" + local.address().to_string() + ":" + std::to_string(local.port()) +
           "/?concept=studio&scenario=ready";
}

} // namespace studio
