#pragma once

#include "launcher_process.hpp"
#include "raw_http.hpp"

#include <chrono>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <thread>

namespace itest {

// Built with a sanitizer: slower, with more memory and descriptors of its own.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool sanitized_build = true;
#else
inline constexpr bool sanitized_build = false;
#endif

inline std::string web_file(const std::string& name) {
    std::ifstream in(std::string(STUDIO_WEB_DIR) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A launcher started with --no-open, its banner read, stopped with Ctrl-C's signal at the end.
class LauncherTest : public ::testing::Test {
protected:
    void SetUp() override { start(); }

    void start(LaunchSettings settings = {}) {
        launcher = std::make_unique<LauncherProcess>(std::move(settings));
        ASSERT_TRUE(launcher->wait_for_stdout_lines(2, std::chrono::seconds(20)))
            << "no banner; stderr: " << launcher->stderr_text();
        port = launcher->port();
    }

    void TearDown() override {
        // Through the compatibility layer there is no Ctrl-C to send; the process is killed.
        if (launcher && launcher->running() && !LauncherProcess::under_compatibility_layer()) {
            launcher->send_signal(SIGINT);
            launcher->wait_exit(std::chrono::seconds(15));
        }
    }

    std::unique_ptr<LauncherProcess> launcher;
    std::uint16_t port = 0;
};

// Skips a test that needs POSIX signals delivered to the launcher itself.
#define SKIP_UNLESS_SIGNALS_REACH_THE_LAUNCHER()                                                   \
    do {                                                                                           \
        if (::itest::LauncherProcess::under_compatibility_layer()) {                               \
            GTEST_SKIP() << "console interrupts cannot be delivered through the compatibility "    \
                            "layer's process";                                                     \
        }                                                                                          \
    } while (0)

} // namespace itest
