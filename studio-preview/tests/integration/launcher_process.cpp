#include "launcher_process.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace itest {

namespace {

std::vector<std::string> launcher_command() {
    std::vector<std::string> words;
    const char* custom = std::getenv("STUDIO_PREVIEW_CMD");
    if (custom != nullptr && *custom != '\0') {
        std::istringstream in(custom);
        for (std::string w; in >> w;) {
            words.push_back(w);
        }
        return words;
    }
    return {STUDIO_PREVIEW_BIN};
}

} // namespace

bool LauncherProcess::under_compatibility_layer() {
    const auto cmd = launcher_command();
    return !cmd.empty() && cmd[0].find("wine") != std::string::npos;
}

LauncherProcess::LauncherProcess(LaunchSettings settings) {
    auto argv_words = launcher_command();
    for (auto& a : settings.args) {
        argv_words.push_back(a);
    }

    std::map<std::string, std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string kv = *e;
        const auto eq = kv.find('=');
        if (eq != std::string::npos) {
            env[kv.substr(0, eq)] = kv.substr(eq + 1);
        }
    }
    for (auto& [k, v] : settings.env) {
        env[k] = v;
    }
    std::vector<std::string> env_words;
    for (auto& [k, v] : env) {
        env_words.push_back(k + "=" + v);
    }

    int out_pipe[2] = {-1, -1};
    int err_pipe[2] = {-1, -1};
    if (!settings.close_std_streams) {
        if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe failed");
        }
    }

    std::vector<char*> argv;
    for (auto& w : argv_words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& w : env_words) {
        envp.push_back(w.data());
    }
    envp.push_back(nullptr);

    pid_ = ::fork();
    if (pid_ < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid_ == 0) {
        if (settings.close_std_streams) {
            ::close(STDOUT_FILENO);
            ::close(STDERR_FILENO);
        } else {
            ::dup2(out_pipe[1], STDOUT_FILENO);
            ::dup2(err_pipe[1], STDERR_FILENO);
        }
        if (settings.max_open_files) {
            rlimit limit{};
            ::getrlimit(RLIMIT_NOFILE, &limit);
            limit.rlim_cur = *settings.max_open_files;
            ::setrlimit(RLIMIT_NOFILE, &limit);
        }
        // Keep the test runner's own signal handling out of the launcher's way.
        ::signal(SIGINT, SIG_DFL);
        ::signal(SIGTERM, SIG_DFL);
        ::signal(SIGPIPE, SIG_DFL);
        ::execve(argv[0], argv.data(), envp.data());
        ::execvpe(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    if (!settings.close_std_streams) {
        ::close(out_pipe[1]);
        ::close(err_pipe[1]);
        out_fd_ = out_pipe[0];
        err_fd_ = err_pipe[0];
        out_thread_ = std::thread([this] { pump(out_fd_, out_); });
        err_thread_ = std::thread([this] { pump(err_fd_, err_); });
    }
}

LauncherProcess::~LauncherProcess() {
    if (running()) {
        ::kill(pid_, SIGKILL);
        wait_exit(std::chrono::seconds(10));
    }
    if (out_thread_.joinable()) {
        out_thread_.join();
    }
    if (err_thread_.joinable()) {
        err_thread_.join();
    }
    if (out_fd_ >= 0) {
        ::close(out_fd_);
    }
    if (err_fd_ >= 0) {
        ::close(err_fd_);
    }
}

void LauncherProcess::pump(int fd, std::string& into) {
    char buffer[4096];
    for (;;) {
        const auto n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        std::lock_guard lock(mutex_);
        into.append(buffer, static_cast<std::size_t>(n));
        changed_.notify_all();
    }
    std::lock_guard lock(mutex_);
    ++streams_closed_;
    changed_.notify_all();
}

bool LauncherProcess::wait_for_stdout_lines(std::size_t n, std::chrono::milliseconds timeout) {
    return wait_for_lines(out_, n, timeout);
}

bool LauncherProcess::wait_for_stderr_lines(std::size_t n, std::chrono::milliseconds timeout) {
    return wait_for_lines(err_, n, timeout);
}

bool LauncherProcess::wait_for_lines(const std::string& text, std::size_t n,
                                     std::chrono::milliseconds timeout) {
    const auto enough = [&] {
        return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) >= n;
    };
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        {
            std::unique_lock lock(mutex_);
            if (enough()) {
                return true;
            }
            changed_.wait_for(lock, std::chrono::milliseconds(20));
        }
        if (!running()) {
            std::lock_guard lock(mutex_);
            return enough();
        }
    }
    return false;
}

std::uint16_t LauncherProcess::port() {
    if (port_) {
        return *port_;
    }
    const auto text = stdout_text();
    const std::string prefix = "http://127.0.0.1:";
    const auto at = text.find(prefix);
    if (at != std::string::npos) {
        port_ = static_cast<std::uint16_t>(std::stoi(text.substr(at + prefix.size())));
        return *port_;
    }
    if (!wait_until([&] { return (port_ = listening_port_of(pid_)).has_value(); },
                    std::chrono::seconds(5))) {
        throw std::runtime_error("the launcher's port is unknown");
    }
    return *port_;
}

void LauncherProcess::send_signal(int signal) {
    ::kill(pid_, signal);
}

std::optional<int> LauncherProcess::wait_exit(std::chrono::milliseconds timeout) {
    if (exit_status_) {
        return exit_status_;
    }
    int status = 0;
    if (!wait_until([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, timeout)) {
        return std::nullopt;
    }
    exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    // Let the readers collect what the process wrote just before it ended.
    std::unique_lock lock(mutex_);
    const int streams = out_fd_ >= 0 ? 2 : 0;
    changed_.wait_for(lock, std::chrono::seconds(2), [&] { return streams_closed_ >= streams; });
    return exit_status_;
}

bool LauncherProcess::running() {
    return !wait_exit(std::chrono::milliseconds(0)).has_value();
}

std::string LauncherProcess::stdout_text() {
    std::lock_guard lock(mutex_);
    return out_;
}

std::string LauncherProcess::stderr_text() {
    std::lock_guard lock(mutex_);
    return err_;
}

std::vector<std::string> LauncherProcess::stdout_lines() {
    std::vector<std::string> lines;
    std::istringstream in(stdout_text());
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

namespace {
std::set<std::string> socket_inodes_of(pid_t pid) {
    std::set<std::string> inodes;
    const std::string fd_dir = "/proc/" + std::to_string(pid) + "/fd";
    if (DIR* dir = ::opendir(fd_dir.c_str())) {
        while (const dirent* e = ::readdir(dir)) {
            char target[256] = {};
            const std::string link = fd_dir + "/" + e->d_name;
            const auto n = ::readlink(link.c_str(), target, sizeof target - 1);
            const std::string t(target, n > 0 ? static_cast<std::size_t>(n) : 0);
            if (t.rfind("socket:[", 0) == 0) {
                inodes.insert(t.substr(8, t.size() - 9));
            }
        }
        ::closedir(dir);
    }
    return inodes;
}
} // namespace

std::vector<ListeningSocket> listening_sockets_of(pid_t pid) {
    const auto inodes = socket_inodes_of(pid);
    std::vector<ListeningSocket> found;
    for (const std::string table : {"tcp", "tcp6"}) {
        std::ifstream in("/proc/net/" + table);
        std::string line;
        std::getline(in, line); // header
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues, timer, retr, uid, timeout, inode;
            fields >> slot >> local >> remote >> state >> queues >> timer >> retr >> uid >>
                timeout >> inode;
            if (state == "0A" && inodes.count(inode) > 0) {
                const auto colon = local.find(':');
                found.push_back(
                    {table, local.substr(0, colon),
                     static_cast<std::uint16_t>(std::stoul(local.substr(colon + 1), nullptr, 16))});
            }
        }
    }
    return found;
}

std::optional<std::uint16_t> listening_port_of(pid_t pid) {
    const auto sockets = listening_sockets_of(pid);
    if (sockets.empty()) {
        return std::nullopt;
    }
    return sockets.front().port;
}

namespace {

// One of the two queues /proc/net/tcp gives for each IPv4 socket on a local port, by remote port.
enum class Queue { send, receive };

std::map<std::uint16_t, std::size_t> queues_of(std::uint16_t local_port, Queue which) {
    std::map<std::uint16_t, std::size_t> queues;
    std::ifstream in("/proc/net/tcp");
    std::string line;
    std::getline(in, line); // header
    const auto port_of = [](const std::string& address) {
        return std::stoul(address.substr(address.find(':') + 1), nullptr, 16);
    };
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, tx_rx;
        fields >> slot >> local >> remote >> state >> tx_rx; // "tx:rx" in hexadecimal
        if (port_of(local) == local_port) {
            const auto colon = tx_rx.find(':');
            queues[static_cast<std::uint16_t>(port_of(remote))] =
                which == Queue::send ? std::stoul(tx_rx.substr(0, colon), nullptr, 16)
                                     : std::stoul(tx_rx.substr(colon + 1), nullptr, 16);
        }
    }
    return queues;
}

std::optional<std::size_t> queue_of(std::uint16_t local_port, std::uint16_t remote_port,
                                    Queue which) {
    const auto queues = queues_of(local_port, which);
    const auto it = queues.find(remote_port);
    if (it == queues.end()) {
        return std::nullopt;
    }
    return it->second;
}

} // namespace

std::map<std::uint16_t, std::size_t> receive_queues(std::uint16_t local_port) {
    return queues_of(local_port, Queue::receive);
}

std::optional<std::size_t> receive_queue(std::uint16_t local_port, std::uint16_t remote_port) {
    return queue_of(local_port, remote_port, Queue::receive);
}

std::optional<std::size_t> send_queue(std::uint16_t local_port, std::uint16_t remote_port) {
    return queue_of(local_port, remote_port, Queue::send);
}

std::size_t open_descriptors(pid_t pid, std::string_view kind) {
    const auto folder = "/proc/" + std::to_string(pid) + "/fd/";
    std::size_t count = 0;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* e = ::readdir(dir)) {
            if (e->d_name[0] == '.') {
                continue;
            }
            // The link reads "socket:[inode]", "pipe:[inode]", a path…
            std::array<char, 64> target{};
            const auto n = ::readlink((folder + e->d_name).c_str(), target.data(), target.size());
            count +=
                kind.empty() ||
                (n > 0 &&
                 std::string_view(target.data(), static_cast<std::size_t>(n)).starts_with(kind));
        }
        ::closedir(dir);
    }
    return count;
}

std::size_t resident_kib(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stoul(line.substr(6));
        }
    }
    return 0;
}

} // namespace itest
