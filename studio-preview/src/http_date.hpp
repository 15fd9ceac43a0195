#pragma once

#include <chrono>
#include <mutex>
#include <string>

namespace studio {

// IMF-fixdate as HTTP's date header wants it: "Sun, 06 Nov 1994 08:49:37 GMT".
std::string format_http_date(std::chrono::system_clock::time_point t);

// The current date header, formatted at most once per second and shared by every connection.
class DateCache {
public:
    std::string now();

private:
    std::mutex mutex_;
    std::chrono::sys_seconds second_{};
    std::string text_;
};

} // namespace studio
