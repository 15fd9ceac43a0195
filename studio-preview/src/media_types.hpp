#pragma once

#include <span>
#include <string_view>

namespace studio {

struct MediaTypeEntry {
    std::string_view extension; // lower case, without the dot
    std::string_view type;
};

// The system's extension table, sorted by extension. Generated at build time.
std::span<const MediaTypeEntry> media_type_table() noexcept;

// The text after the last "." of a file name; empty when the name has no "." or its only "."
// is the first character (".profile").
std::string_view file_extension(std::string_view name) noexcept;

// The media type for a file name's extension, looked up case-insensitively;
// "application/octet-stream" when there is no extension or the table does not know it.
std::string_view media_type_for(std::string_view name);

} // namespace studio
