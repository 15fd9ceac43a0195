#include "../shape.hpp"
#include "http_date.hpp"

#include <gtest/gtest.h>

TEST(HttpDate, FormatsImfFixdate) {
    using namespace std::chrono;
    EXPECT_EQ(studio::format_http_date(system_clock::time_point(seconds(784111777))),
              "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(studio::format_http_date(system_clock::time_point(seconds(0))),
              "Thu, 01 Jan 1970 00:00:00 GMT");
    // A leap day, and fractions of a second are cut off.
    EXPECT_EQ(
        studio::format_http_date(system_clock::time_point(seconds(1709251199)) + milliseconds(999)),
        "Thu, 29 Feb 2024 23:59:59 GMT");
}

TEST(HttpDate, CacheGivesTheCurrentDate) {
    studio::DateCache cache;
    const auto a = cache.now();
    EXPECT_TRUE(testing_shape::has_shape(a, testing_shape::http_date_shape)) << a;
}
