// Start-up as a user sees it: the console lines, the browser request and its failures, the
// command line, missing standard streams, several launchers at once.

#include "fixture.hpp"

#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <thread>

using itest::LauncherProcess;
using itest::LauncherTest;
using itest::LaunchSettings;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// A temporary folder holding a fake "xdg-open" with the given shell body, to put first on PATH.
class FakeOpener {
public:
    explicit FakeOpener(const std::string& body) {
        char pattern[] = "/tmp/studio-opener-XXXXXX";
        dir_ = ::mkdtemp(pattern);
        const auto script = dir_ / "xdg-open";
        std::ofstream(script) << "#!/bin/sh\n" << body << "\n";
        fs::permissions(script, fs::perms::owner_all);
    }
    ~FakeOpener() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string dir() const { return dir_.string(); }
    std::string path_with_it_first() const {
        const char* path = std::getenv("PATH");
        return dir() + ":" + (path != nullptr ? path : "/usr/bin:/bin");
    }
    std::string record() const { return (dir_ / "record").string(); }
    std::string recorded() const { return itest_read(record()); }
    // Creates the file an opener made with wait_for_release() waits for.
    void release() const { std::ofstream(dir_ / "release") << "go\n"; }
    // A shell line that waits (at most 60 s) until the test calls release().
    static std::string wait_for_release() {
        return "i=0; while [ ! -e \"$(dirname \"$0\")/release\" ] && [ $i -lt 1200 ]; do sleep "
               "0.05; "
               "i=$((i+1)); done";
    }

private:
    static std::string itest_read(const std::string& p) {
        std::ifstream in(p);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    fs::path dir_;
};

LaunchSettings settings_with(std::vector<std::string> args, const std::string& path) {
    LaunchSettings s;
    s.args = std::move(args);
    s.env["PATH"] = path;
    return s;
}

// The states ('R', 'S', 'Z', ...) of the child processes of parent.
std::vector<char> child_states(pid_t parent) {
    std::vector<char> states;
    if (DIR* proc = ::opendir("/proc")) {
        while (const dirent* e = ::readdir(proc)) {
            std::ifstream stat(std::string("/proc/") + e->d_name + "/stat");
            std::string line;
            if (!std::getline(stat, line)) {
                continue;
            }
            // pid (comm) state ppid ...
            const auto close = line.rfind(')');
            if (close == std::string::npos) {
                continue;
            }
            std::istringstream rest(line.substr(close + 2));
            char state = 0;
            long ppid = 0;
            rest >> state >> ppid;
            if (ppid == parent) {
                states.push_back(state);
            }
        }
        ::closedir(proc);
    }
    return states;
}

} // namespace

TEST_F(LauncherTest, PrintsTheAddressAndTheQuitHint) {
    const auto lines = launcher->stdout_lines();
    ASSERT_EQ(lines.size(), 2u);
    const std::string prefix = "QuillCAN Studio Preview: http://127.0.0.1:";
    const std::string suffix = "/?concept=studio&scenario=ready";
    ASSERT_GT(lines[0].size(), prefix.size() + suffix.size()) << lines[0];
    EXPECT_EQ(lines[0].substr(0, prefix.size()), prefix);
    EXPECT_EQ(lines[0].substr(lines[0].size() - suffix.size()), suffix);
    const auto digits =
        lines[0].substr(prefix.size(), lines[0].size() - prefix.size() - suffix.size());
    EXPECT_TRUE(digits.size() <= 5 && digits[0] != '0' &&
                digits.find_first_not_of("0123456789") == std::string::npos)
        << lines[0];
    EXPECT_EQ(std::to_string(port), digits);
    EXPECT_EQ(lines[1], "Close the browser tab (or press Ctrl-C) to quit.");
    EXPECT_EQ(launcher->stdout_text().back(), '\n');
    EXPECT_EQ(launcher->stderr_text(), "");
    if (!LauncherProcess::under_compatibility_layer()) {
        EXPECT_EQ(itest::listening_port_of(launcher->pid()), port);
    }
}

TEST_F(LauncherTest, TwoLaunchersRunSideBySideOnTheirOwnPorts) {
    LauncherProcess second;
    ASSERT_TRUE(second.wait_for_stdout_lines(2, 20s));
    EXPECT_NE(second.port(), port);
    EXPECT_EQ(itest::fetch(port, "GET", "/")->status, 200);
    EXPECT_EQ(itest::fetch(second.port(), "GET", "/")->status, 200);

    SKIP_UNLESS_SIGNALS_REACH_THE_LAUNCHER();
    second.send_signal(SIGINT);
    ASSERT_TRUE(second.wait_exit(5s));
    EXPECT_EQ(itest::fetch(port, "GET", "/__studio/ping")->status, 204)
        << "the first one carries on";
}

class BrowserOpening : public ::testing::Test {
protected:
    void SetUp() override {
        if (LauncherProcess::under_compatibility_layer()) {
            GTEST_SKIP() << "the browser is opened through xdg-open only on this platform";
        }
    }
    static void stop(LauncherProcess& p) {
        p.send_signal(SIGINT);
        p.wait_exit(10s);
    }
};

TEST_F(BrowserOpening, TheOpenerGetsThePreviewUrl) {
    FakeOpener opener("echo \"$1\" > \"" + std::string() + "$(dirname \"$0\")/record\"");
    LauncherProcess p(settings_with({}, opener.path_with_it_first()));
    ASSERT_TRUE(p.wait_for_stdout_lines(2, 20s));
    const auto url = p.stdout_lines()[0].substr(std::string("QuillCAN Studio Preview: ").size());
    EXPECT_TRUE(itest::wait_until([&] { return !opener.recorded().empty(); }, 20s));
    EXPECT_EQ(opener.recorded(), url + "\n");
    EXPECT_EQ(itest::fetch(p.port(), "GET", "/")->status, 200);
    EXPECT_EQ(p.stderr_text(), "");
    stop(p);
}

TEST_F(BrowserOpening, OnlyTheExactNoOpenArgumentSkipsTheBrowser) {
    FakeOpener opener("echo opened >> \"$(dirname \"$0\")/record\"");
    for (const char* near : {"--NO-OPEN", "--no-open=yes", "-no-open"}) {
        LauncherProcess p(settings_with({near, "ignored"}, opener.path_with_it_first()));
        ASSERT_TRUE(p.wait_for_stdout_lines(2, 20s)) << near;
        EXPECT_EQ(itest::fetch(p.port(), "GET", "/__studio/ping")->status, 204);
        stop(p);
    }
    EXPECT_TRUE(itest::wait_until([&] { return opener.recorded().size() >= 21; }, 20s));
    EXPECT_EQ(opener.recorded(), "opened\nopened\nopened\n");

    LauncherProcess p(settings_with({"x", "--no-open"}, opener.path_with_it_first()));
    ASSERT_TRUE(p.wait_for_stdout_lines(2, 20s));
    EXPECT_EQ(itest::fetch(p.port(), "GET", "/__studio/ping")->status, 204);
    stop(p);
    EXPECT_EQ(opener.recorded(), "opened\nopened\nopened\n") << "--no-open opened a browser";
}

TEST_F(BrowserOpening, AFailingOpenerIsReportedOnceAndServingGoesOn) {
    FakeOpener opener("echo noise; echo more noise >&2; exit 3");
    LauncherProcess p(settings_with({}, opener.path_with_it_first()));
    ASSERT_TRUE(p.wait_for_stdout_lines(2, 20s));
    EXPECT_TRUE(p.wait_for_stderr_lines(1, 20s));
    EXPECT_EQ(itest::fetch(p.port(), "GET", "/")->status, 200);
    stop(p);
    EXPECT_EQ(p.stderr_text(), "Could not open a browser (xdg-open exited with status 3); open the "
                               "URL above manually.\n");
    EXPECT_EQ(p.stdout_lines().size(), 2u) << "the opener's own output must not reach our console";
}

TEST_F(BrowserOpening, AMissingOpenerIsReported) {
    FakeOpener empty_dir("exit 0");
    fs::remove(fs::path(empty_dir.dir()) / "xdg-open");
    LauncherProcess p(settings_with({}, empty_dir.dir()));
    ASSERT_TRUE(p.wait_for_stdout_lines(2, 20s));
    EXPECT_TRUE(p.wait_for_stderr_lines(1, 20s));
    EXPECT_EQ(itest::fetch(p.port(), "GET", "/app.js")->status, 200);
    stop(p);
    EXPECT_EQ(p.stderr_text(),
              "Could not open a browser (xdg-open not found); open the URL above manually.\n");
}

TEST_F(BrowserOpening, AnOpenerThatKeepsRunningDoesNotBlockServingAndIsReaped) {
    FakeOpener opener(FakeOpener::wait_for_release());
    LauncherProcess p(settings_with({}, opener.path_with_it_first()));
    ASSERT_TRUE(p.wait_for_stdout_lines(2, 20s));
    itest::RawConnection c(p.port());
    c.send("GET / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    const auto a = c.read_answer(false, 30s);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->status, 200);
    const auto children = child_states(p.pid());
    EXPECT_TRUE(children.size() == 1 && children[0] != 'Z')
        << "served only after the opener ended, or the opener never started";
    opener.release();
    EXPECT_TRUE(itest::wait_until([&] { return child_states(p.pid()).empty(); }, 30s))
        << "the opener was never reaped";
    EXPECT_EQ(p.stderr_text(), "");
    stop(p);
}

TEST(LauncherWithoutStreams, ServesAndStopsWithStandardStreamsClosed) {
    if (LauncherProcess::under_compatibility_layer()) {
        GTEST_SKIP()
            << "the port of a silent launcher is found through /proc, only on this platform";
    }
    LaunchSettings silent;
    silent.close_std_streams = true;
    LauncherProcess p(silent);
    const auto port = p.port();
    const auto a = itest::fetch(port, "GET", "/");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->status, 200);
    EXPECT_EQ(itest::fetch(port, "GET", "/__studio/ping")->status, 204);
    p.send_signal(SIGINT);
    const auto status = p.wait_exit(10s);
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, 0);
}
