#include "../shape.hpp"
#include "http_date.hpp"

#include <gtest/gtest.h>
#include <string>

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

TEST(HttpDate, CacheEndsTheHeadWithTheCurrentDateAndTheBlankLine) {
    studio::DateCache cache;
    const std::string field(cache.head_end());
    ASSERT_EQ(field.size(), 6u + 29u + 4u);
    EXPECT_EQ(field.substr(0, 6), "Date: ");
    EXPECT_EQ(field.substr(35), "\r\n\r\n");
    EXPECT_TRUE(testing_shape::has_shape(field.substr(6, 29), testing_shape::http_date_shape))
        << field;
    const auto year = std::to_string(
        static_cast<int>(std::chrono::year_month_day(std::chrono::floor<std::chrono::days>(
                                                         std::chrono::system_clock::now()))
                             .year()));
    EXPECT_NE(field.find(" " + year + " "), std::string::npos) << field;
}
