#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <span>
#include <string>
#include <string_view>

namespace studio {

struct LaunchOptions {
    bool no_open = false;
};

// "--no-open" must be a whole argument, exactly; every other argument is ignored.
LaunchOptions parse_launch_options(std::span<const char* const> args) noexcept;

inline constexpr std::string_view banner_prefix = "QuillCAN Studio Preview: ";
inline constexpr std::string_view quit_hint = "Close the browser tab (or press Ctrl-C) to quit.";

// "http://127.0.0.1:PORT/?concept=studio&scenario=ready" for the listener's local address.
std::string preview_url(const boost::asio::ip::tcp::endpoint& local);

} // namespace studio
