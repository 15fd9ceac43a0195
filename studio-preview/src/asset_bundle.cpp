#include "asset_bundle.hpp"

#include <algorithm>
#include <string>

namespace studio {

const EmbeddedAsset* get_asset(std::string_view name) {
    std::string key(name);
    std::replace(key.begin(), key.end(), '\\', '/');

    // std::string_view compares like memcmp, i.e. byte by byte as unsigned, which is the
    // order the build sorted the table in.
    const auto table = asset_bundle();
    const auto it = std::lower_bound(
        table.begin(), table.end(), key,
        [](const EmbeddedAsset& entry, const std::string& k) { return entry.name < k; });
    if (it == table.end() || it->name != key) {
        return nullptr;
    }
    return &*it;
}

} // namespace studio
