#include "http_date.hpp"

#include <array>
#include <cstdio>

namespace studio {

std::string format_http_date(std::chrono::system_clock::time_point t) {
    using namespace std::chrono;
    static constexpr std::array<const char*, 7> weekdays = {"Sun", "Mon", "Tue", "Wed",
                                                            "Thu", "Fri", "Sat"};
    static constexpr std::array<const char*, 12> months = {
        "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

    const auto secs = floor<seconds>(t);
    const auto day = floor<days>(secs);
    const year_month_day ymd{day};
    const hh_mm_ss hms{secs - day};
    const weekday wd{day};

    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%s, %02u %s %04d %02d:%02d:%02d GMT",
                  weekdays[wd.c_encoding()], static_cast<unsigned>(ymd.day()),
                  months[static_cast<unsigned>(ymd.month()) - 1], static_cast<int>(ymd.year()),
                  static_cast<int>(hms.hours().count()), static_cast<int>(hms.minutes().count()),
                  static_cast<int>(hms.seconds().count()));
    return buffer;
}

std::string DateCache::now() {
    const auto second = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    std::lock_guard lock(mutex_);
    if (second != second_ || text_.empty()) {
        second_ = second;
        text_ = format_http_date(second);
    }
    return text_;
}

} // namespace studio
