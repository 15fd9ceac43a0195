// Linux and other POSIX systems: xdg-open for the browser, SIGINT/SIGTERM as the console
// interrupt, plain write(2) for console lines.

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

} // namespace

void prepare_process() {
    // A closed pipe on standard output must not kill the launcher; writes then fail quietly.
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

} // namespace studio::platform
