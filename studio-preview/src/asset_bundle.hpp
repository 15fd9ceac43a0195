#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace studio {

// One compiled-in page file. The bytes live in the executable's read-only data for the whole
// run; nothing here owns or copies them.
struct EmbeddedAsset {
    std::string_view name; // relative to the page folder, "/" separated
    std::span<const std::uint8_t> bytes;
    std::optional<std::uint64_t> modified; // seconds since the Unix epoch
    std::optional<std::uint64_t> created;  // seconds since the Unix epoch
    std::array<std::uint8_t, 32> digest;   // SHA-256 of bytes

    std::string_view text() const noexcept {
        return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
    }
};

// The whole table, ascending by name in byte order. Generated at build time from the page folder.
std::span<const EmbeddedAsset> asset_bundle() noexcept;

// Exact, case-sensitive lookup by name after turning every "\" into "/". The name is not
// otherwise normalised (no leading "/" stripped, no "." or ".." resolved, no decoding).
const EmbeddedAsset* get_asset(std::string_view name);

} // namespace studio
