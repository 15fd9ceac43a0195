#include "media_types.hpp"

#include <algorithm>
#include <string>

namespace studio {

std::string_view file_extension(std::string_view name) noexcept {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) {
        return {};
    }
    return name.substr(dot + 1);
}

std::string_view media_type_for(std::string_view name) {
    constexpr std::string_view fallback = "application/octet-stream";
    const auto ext = file_extension(name);
    if (ext.empty()) {
        return fallback;
    }
    std::string key(ext);
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    const auto table = media_type_table();
    const auto it = std::lower_bound(
        table.begin(), table.end(), key,
        [](const MediaTypeEntry& entry, const std::string& k) { return entry.extension < k; });
    if (it == table.end() || it->extension != key) {
        return fallback;
    }
    return it->type;
}

} // namespace studio
