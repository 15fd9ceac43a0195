// The captured name's path: percent-decoding, UTF-8 validation, the bundle lookup and the asset
// route; plus the entry document's UTF-8 repair and marker insertion on arbitrary documents.

#include "asset_bundle.hpp"
#include "routes.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <variant>

namespace {

void require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}

bool in_bundle(std::string_view body) {
    for (const auto& e : studio::asset_bundle()) {
        if (body.data() == e.text().data() && body.size() == e.text().size()) {
            return true;
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view raw(reinterpret_cast<const char*>(data), size);

    const auto decoded = studio::percent_decode(raw);
    require(decoded.size() <= raw.size(), "decoding never grows");
    const auto repaired = studio::to_utf8_lossy(decoded);
    require(studio::is_valid_utf8(repaired), "repair yields UTF-8");
    if (studio::is_valid_utf8(decoded)) {
        require(repaired == decoded, "valid text is left alone");
    }

    if (const auto* entry = studio::get_asset(decoded)) {
        std::string key = decoded;
        for (auto& c : key) {
            c = c == '\\' ? '/' : c;
        }
        require(entry->name == key, "lookup is exact");
    }

    static const studio::Router router(studio::HeartbeatState::create(studio::SteadyClock::now()));
    const auto target = "/" + std::string(raw);
    for (const auto method : {studio::Method::get, studio::Method::head, studio::Method::other}) {
        const auto& r = router.handle(method, target);
        require(r.status == 200 || r.status == 204 || r.status == 400 || r.status == 404 ||
                    r.status == 405,
                "known status");
        if (r.status == 200 &&
            std::holds_alternative<std::span<const std::uint8_t>>(r.body_storage)) {
            require(in_bundle(r.body()), "only bundle bytes are served");
        }
        if (r.status == 400) {
            require(r.body() == studio::invalid_name_body, "400 body");
        }
    }

    const auto document = studio::with_launcher_marker(raw);
    require(studio::is_valid_utf8(document), "document is UTF-8");
    if (repaired == raw && raw.find("</head>") != std::string_view::npos) {
        require(document.size() == raw.size() + 53, "marker adds 53 bytes");
    }
    return 0;
}
