// Fatal start-up errors: one report on standard error naming the failed step, status 101. The
// failures are forced by preloading a library that makes one system call fail.

#include "fixture.hpp"

#include <algorithm>

using itest::LauncherProcess;
using itest::LaunchSettings;
using namespace std::chrono_literals;

namespace {

struct FatalCase {
    const char* fail;
    const char* report;
};

class FatalStartUp : public ::testing::TestWithParam<FatalCase> {};

} // namespace

TEST_P(FatalStartUp, ReportsTheStepAndExitsWith101) {
    if (LauncherProcess::under_compatibility_layer() || itest::sanitized_build) {
        GTEST_SKIP() << "system calls are made to fail by preloading a library, which needs a "
                        "plain native build";
    }
    if (GetParam().fail == std::string_view("second-thread") &&
        std::thread::hardware_concurrency() < 2) {
        GTEST_SKIP() << "the launcher starts a second worker thread only on two processors or more";
    }
    LaunchSettings settings;
    settings.env["LD_PRELOAD"] = FAILING_CALLS_SHIM;
    settings.env["STUDIO_FAIL"] = GetParam().fail;
    LauncherProcess p(settings);
    const auto status = p.wait_exit(10s);
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, 101);
    EXPECT_EQ(p.stderr_text(), std::string(GetParam().report) + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Steps, FatalStartUp,
    ::testing::Values(FatalCase{"thread", "Failed building the Runtime: Resource temporarily "
                                          "unavailable"},
                      FatalCase{"second-thread", "Failed building the Runtime: Resource "
                                                 "temporarily unavailable"},
                      FatalCase{"bind", "bind a loopback port: Address already in use"},
                      FatalCase{"getsockname", "local addr: No buffer space available"}),
    [](const auto& info) {
        auto name = std::string(info.param.fail);
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });
