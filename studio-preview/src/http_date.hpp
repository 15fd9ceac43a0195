#pragma once

#include <array>
#include <chrono>
#include <string>
#include <string_view>

namespace studio {

// IMF-fixdate as HTTP's date header wants it: "Sun, 06 Nov 1994 08:49:37 GMT".
std::string format_http_date(std::chrono::system_clock::time_point t);

// The date field that ends every answer's head, formatted at most once per second. One cache per
// thread that serves (it takes no lock); the text it hands out changes when the second does.
class DateCache {
public:
    DateCache();

    // "Date: <IMF-fixdate>\r\n\r\n": the last field of the head and the blank line after it.
    std::string_view head_end();

private:
    static constexpr std::string_view prefix_ = "Date: ";
    std::chrono::sys_seconds second_{};
    std::array<char, 6 + 29 + 4> line_{};
};

} // namespace studio
