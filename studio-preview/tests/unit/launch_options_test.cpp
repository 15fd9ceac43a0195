#include "launch_options.hpp"

#include <gtest/gtest.h>
#include <vector>

namespace {
bool no_open(std::vector<const char*> args) {
    return studio::parse_launch_options(args).no_open;
}
} // namespace

TEST(LaunchOptions, NoOpenMustBeAnExactWholeArgument) {
    EXPECT_FALSE(no_open({}));
    EXPECT_TRUE(no_open({"--no-open"}));
    EXPECT_TRUE(no_open({"whatever", "--no-open", "-x"}));
    for (const char* near :
         {"--NO-OPEN", "--no-open=1", "-no-open", "--no-open ", "no-open", "--no-opener"}) {
        EXPECT_FALSE(no_open({near})) << near;
    }
}

TEST(LaunchOptions, PreviewUrlUsesTheLocalAddressAndPort) {
    const boost::asio::ip::tcp::endpoint local(boost::asio::ip::address_v4::loopback(), 8080);
    EXPECT_EQ(studio::preview_url(local), "http://127.0.0.1:8080/?concept=studio&scenario=ready");
    const boost::asio::ip::tcp::endpoint low(boost::asio::ip::address_v4::loopback(), 7);
    EXPECT_EQ(studio::preview_url(low), "http://127.0.0.1:7/?concept=studio&scenario=ready");
}
