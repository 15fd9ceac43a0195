#pragma once

// The launcher's only contact with the operating system beyond sockets and timers. Each platform
// has one implementation file; nothing else in the launcher depends on the platform.

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/system/error_code.hpp>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
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

// A read-only copy of an answer's body that the kernel can send into a socket by itself, without
// the bytes passing through a write of ours. Made once at start-up; it never changes.
class BodyFile {
public:
    virtual ~BodyFile() = default;
    virtual std::size_t size() const noexcept = 0;
};

// Makes such a copy of bytes. Returns nullptr where the platform sends bodies from memory (a
// gather write with the head) or could not make one; that path then serves the body instead.
std::unique_ptr<BodyFile> make_body_file(std::span<const std::uint8_t> bytes);

// Sends as much of body[offset, end) into the non-blocking socket as it takes now, and returns how
// much that was. ec is would_block when the socket takes nothing more until it is writable again,
// or the error that ended the connection.
std::size_t send_body_file(boost::asio::ip::tcp::socket& socket, const BodyFile& body,
                           std::size_t offset, boost::system::error_code& ec);

} // namespace studio::platform
