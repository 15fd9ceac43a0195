#pragma once

// Starts the launcher as a child process, the way a user's shell or desktop would, and watches its
// console lines and exit status.
//
// The command defaults to the launcher built next to the tests. STUDIO_PREVIEW_CMD replaces it
// with another command line (split at spaces), so the same tests drive another build of the
// launcher, for example one run through a compatibility layer.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace itest {

// Checks the condition until it holds or the bound has passed; true when it held.
template <class Condition> bool wait_until(Condition condition, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

struct LaunchSettings {
    std::vector<std::string> args{"--no-open"};
    std::map<std::string, std::string> env; // added to (or replacing in) the inherited environment
    bool close_std_streams = false;         // start it with standard output and error closed
    std::optional<unsigned long> max_open_files; // a lower limit of file descriptors for it
};

class LauncherProcess {
public:
    explicit LauncherProcess(LaunchSettings settings = {});
    ~LauncherProcess();

    LauncherProcess(const LauncherProcess&) = delete;
    LauncherProcess& operator=(const LauncherProcess&) = delete;

    // Wait until standard output or error holds at least n lines; false on timeout or exit.
    bool wait_for_stdout_lines(std::size_t n, std::chrono::milliseconds timeout);
    bool wait_for_stderr_lines(std::size_t n, std::chrono::milliseconds timeout);
    // The port of the printed address (after wait_for_stdout_lines(1, ...)), or of the listening
    // socket found through /proc when the streams are closed.
    std::uint16_t port();

    void send_signal(int signal);
    // The exit status once it has ended, or nothing on timeout.
    std::optional<int> wait_exit(std::chrono::milliseconds timeout);
    bool running();

    std::string stdout_text();
    std::string stderr_text();
    std::vector<std::string> stdout_lines();
    pid_t pid() const { return pid_; }

    static bool under_compatibility_layer();

private:
    void pump(int fd, std::string& into);
    bool wait_for_lines(const std::string& text, std::size_t n, std::chrono::milliseconds timeout);

    pid_t pid_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string out_;
    std::string err_;
    std::thread out_thread_;
    std::thread err_thread_;
    int streams_closed_ = 0;
    std::optional<int> exit_status_;
    std::optional<std::uint16_t> port_;
};

// A listening TCP port owned by pid, read from /proc (for a launcher that printed nothing).
std::optional<std::uint16_t> listening_port_of(pid_t pid);

struct ListeningSocket {
    std::string table;   // "tcp" or "tcp6"
    std::string address; // as /proc shows it, e.g. "0100007F" for 127.0.0.1
    std::uint16_t port = 0;
};
// Every listening TCP socket owned by pid, IPv4 and IPv6.
std::vector<ListeningSocket> listening_sockets_of(pid_t pid);

// The receive queues of the IPv4 TCP sockets on a local port, by remote port, as the kernel
// reports them: for a connection, the bytes its owner has not read yet; for the listening socket
// (remote port 0), the connections it has not accepted yet.
std::map<std::uint16_t, std::size_t> receive_queues(std::uint16_t local_port);
// The one of the socket with these ports; nothing when there is no such socket.
std::optional<std::size_t> receive_queue(std::uint16_t local_port, std::uint16_t remote_port);
// The bytes that socket has been given to send and the peer has not yet taken.
std::optional<std::size_t> send_queue(std::uint16_t local_port, std::uint16_t remote_port);

// How many file descriptors pid holds open; with a kind ("socket", "pipe"…), only those of it.
std::size_t open_descriptors(pid_t pid, std::string_view kind = {});

// Resident memory of pid in KiB (VmRSS), or 0 when unknown.
std::size_t resident_kib(pid_t pid);

} // namespace itest
