// Linux and other POSIX systems: xdg-open for the browser, SIGINT/SIGTERM as the console
// interrupt, plain write(2) for console lines. On Linux, large bodies go out by sendfile(2) from
// sealed memory files; elsewhere they are written from memory.

#include "platform/platform.hpp"

#include <boost/asio/signal_set.hpp>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#ifdef __linux__
#include <sys/mman.h>
#include <sys/sendfile.h>
#endif

extern char** environ;

namespace studio::platform {

namespace {

void write_line(int fd, std::string_view line) {
    std::string buffer;
    buffer.reserve(line.size() + 1);
    buffer.append(line);
    buffer.push_back('\n');
    const char* p = buffer.data();
    std::size_t left = buffer.size();
    while (left > 0) {
        const auto n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return; // closed, missing or broken stream: the line is swallowed
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

// Some desktops keep the opener running for as long as the browser it started. After this long
// the request counts as accepted and the opener is reaped in the background.
constexpr auto opener_patience = std::chrono::seconds(3);

std::optional<std::string> describe_exit(int status) {
    if (WIFEXITED(status)) {
        if (WEXITSTATUS(status) == 0) {
            return std::nullopt;
        }
        return "xdg-open exited with status " + std::to_string(WEXITSTATUS(status));
    }
    if (WIFSIGNALED(status)) {
        return "xdg-open was ended by signal " + std::to_string(WTERMSIG(status));
    }
    return "xdg-open ended abnormally";
}

class SignalWatch final : public InterruptWatch {
public:
    SignalWatch(boost::asio::any_io_executor executor, std::function<void()> on_interrupt)
        : signals_(executor) {
        boost::system::error_code ec;
        signals_.add(SIGINT, ec);
        if (!ec) {
            signals_.add(SIGTERM, ec);
        }
        ok_ = !ec;
        if (ok_) {
            signals_.async_wait([cb = std::move(on_interrupt)](boost::system::error_code e, int) {
                if (!e) {
                    cb();
                }
            });
        }
    }
    ~SignalWatch() override {
        boost::system::error_code ec;
        signals_.cancel(ec);
        signals_.clear(ec); // back to the default handling
    }
    bool ok() const { return ok_; }

private:
    boost::asio::signal_set signals_;
    bool ok_ = false;
};

#ifdef __linux__

// An anonymous memory file holding one body, sealed so that nothing can change, shrink or grow it
// while it is being sent.
class MemoryBodyFile final : public BodyFile {
public:
    MemoryBodyFile(int fd, std::size_t size) : fd_(fd), size_(size) {}
    ~MemoryBodyFile() override { ::close(fd_); }
    MemoryBodyFile(const MemoryBodyFile&) = delete;
    MemoryBodyFile& operator=(const MemoryBodyFile&) = delete;

    std::size_t size() const noexcept override { return size_; }
    int fd() const noexcept { return fd_; }

private:
    int fd_;
    std::size_t size_;
};

bool write_all(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const auto n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

#endif

} // namespace

void prepare_process() {
    // A closed pipe on standard output, or a client gone while sendfile(2) writes to it, must not
    // kill the launcher; writes then fail quietly.
    std::signal(SIGPIPE, SIG_IGN);
}

void write_stdout_line(std::string_view line) {
    write_line(STDOUT_FILENO, line);
}

void write_stderr_line(std::string_view line) {
    write_line(STDERR_FILENO, line);
}

std::optional<std::string> open_url(const std::string& url) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Nothing the opener prints may reach our console.
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

    std::string program = "xdg-open";
    std::string argument = url;
    char* argv[] = {program.data(), argument.data(), nullptr};
    pid_t pid = 0;
    const int rc = ::posix_spawnp(&pid, "xdg-open", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc == ENOENT) {
        return std::string("xdg-open not found");
    }
    if (rc != 0) {
        return "xdg-open could not be started: " + std::string(std::strerror(rc));
    }

    const auto deadline = std::chrono::steady_clock::now() + opener_patience;
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            return describe_exit(status);
        }
        if (r < 0 && errno != EINTR) {
            return std::nullopt; // nothing left to wait for
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            std::thread([pid] {
                int status = 0;
                while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
                }
            }).detach();
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::unique_ptr<InterruptWatch> watch_interrupt(boost::asio::any_io_executor executor,
                                                std::function<void()> on_interrupt) {
    auto watch = std::make_unique<SignalWatch>(std::move(executor), std::move(on_interrupt));
    if (!watch->ok()) {
        return nullptr;
    }
    return watch;
}

std::unique_ptr<BodyFile> make_body_file(std::span<const std::uint8_t> bytes) {
#ifdef __linux__
    const int fd = ::memfd_create("studio-preview-body", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) {
        return nullptr;
    }
    auto file = std::make_unique<MemoryBodyFile>(fd, bytes.size());
    if (!write_all(fd, bytes) ||
        ::fcntl(fd, F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
        return nullptr;
    }
    return file;
#else
    (void)bytes;
    return nullptr;
#endif
}

std::size_t send_body_file(boost::asio::ip::tcp::socket& socket, const BodyFile& body,
                           std::size_t offset, boost::system::error_code& ec) {
    ec.clear();
#ifdef __linux__
    const auto& file = static_cast<const MemoryBodyFile&>(body);
    std::size_t sent = 0;
    while (offset + sent < file.size()) {
        auto at = static_cast<off_t>(offset + sent);
        const auto n =
            ::sendfile(socket.native_handle(), file.fd(), &at, file.size() - offset - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            ec = boost::asio::error::would_block;
        } else if (n < 0) {
            ec.assign(errno, boost::system::system_category());
        } else {
            ec = boost::asio::error::eof; // the file ended early; it is sealed, so never expected
        }
        break;
    }
    return sent;
#else
    (void)socket;
    (void)body;
    (void)offset;
    ec = boost::asio::error::operation_not_supported;
    return 0;
#endif
}

} // namespace studio::platform
