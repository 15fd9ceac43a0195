#pragma once

#include <string_view>

namespace testing_shape {

// True when text has the shape of pattern: 'A' an upper-case letter, 'a' a lower-case letter,
// '9' a digit, anything else itself.
inline bool has_shape(std::string_view text, std::string_view pattern) {
    if (text.size() != pattern.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        switch (pattern[i]) {
        case 'A':
            if (c < 'A' || c > 'Z') {
                return false;
            }
            break;
        case 'a':
            if (c < 'a' || c > 'z') {
                return false;
            }
            break;
        case '9':
            if (c < '0' || c > '9') {
                return false;
            }
            break;
        default:
            if (c != pattern[i]) {
                return false;
            }
        }
    }
    return true;
}

inline constexpr std::string_view http_date_shape = "Aaa, 99 Aaa 9999 99:99:99 GMT";

} // namespace testing_shape
