#include "http_date.hpp"

#include <array>
#include <cstdio>
#include <string_view>

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

DateCache::DateCache() {
    prefix_.copy(line_.data(), prefix_.size());
    std::string_view("\r\n\r\n").copy(line_.data() + line_.size() - 4, 4);
}

std::string_view DateCache::head_end() {
    const auto second = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    if (second != second_ || line_[prefix_.size()] == '\0') {
        second_ = second;
        const auto text = format_http_date(second);
        // Always 29 characters for years 1000 to 9999.
        text.copy(line_.data() + prefix_.size(), 29);
    }
    return {line_.data(), line_.size()};
}

} // namespace studio
