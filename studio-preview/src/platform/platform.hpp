#pragma once

// The launcher's only contact with the operating system beyond sockets and timers. Each platform
// has one implementation file; nothing else in the launcher depends on the platform.

#include <boost/asio/any_io_executor.hpp>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace studio::platform {

// Process-wide settings made once at start-up, before any other call here (for example: a closed
// standard stream must never kill the process).
void prepare_process();

// Writes one line (a line feed is appended) to standard output or standard error and flushes it.
// A missing or closed stream swallows the line silently.
void write_stdout_line(std::string_view line);
void write_stderr_line(std::string_view line);

// Asks the desktop to open url in the default browser and waits for its answer. Returns nothing on
// success, or a human-readable description of the failure.
std::optional<std::string> open_url(const std::string& url);

// A registration for the console interrupt (Ctrl-C, and whatever the platform treats the same
// way). While it exists, an interrupt calls the handler once on the given executor instead of
// ending the process; destroying it restores the system's default handling.
class InterruptWatch {
public:
    virtual ~InterruptWatch() = default;
};

// Registers for the console interrupt. Returns nullptr when registering is not possible.
std::unique_ptr<InterruptWatch> watch_interrupt(boost::asio::any_io_executor executor,
                                                std::function<void()> on_interrupt);

} // namespace studio::platform
