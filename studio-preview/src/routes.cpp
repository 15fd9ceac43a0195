#include "routes.hpp"

#include "asset_bundle.hpp"
#include "media_types.hpp"

namespace studio {

namespace {

int hex_value(char c) noexcept {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Length of the valid UTF-8 sequence at the start of s, or 0 when it does not start with one.
// When 0 is returned, *bad holds the length of the maximal invalid subpart to replace.
std::size_t utf8_sequence(std::string_view s, std::size_t* bad) noexcept {
    const auto b = [&](std::size_t i) {
        return static_cast<unsigned char>(s[i]);
    };
    const unsigned char c = b(0);
    *bad = 1;
    if (c < 0x80) {
        return 1;
    }
    std::size_t len = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0) {
            lo = 0xA0; // no overlong forms
        } else if (c == 0xED) {
            hi = 0x9F; // no surrogates
        }
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0) {
            lo = 0x90;
        } else if (c == 0xF4) {
            hi = 0x8F; // nothing above U+10FFFF
        }
    } else {
        return 0;
    }
    for (std::size_t i = 1; i < len; ++i) {
        if (i >= s.size()) {
            *bad = i;
            return 0;
        }
        const unsigned char t = b(i);
        const unsigned char min = i == 1 ? lo : 0x80;
        const unsigned char max = i == 1 ? hi : 0xBF;
        if (t < min || t > max) {
            *bad = i;
            return 0;
        }
    }
    return len;
}

const Response& refusal_for(const std::vector<Response>& refusals, unsigned status) {
    for (const auto& r : refusals) {
        if (r.status == status) {
            return r;
        }
    }
    return refusals.front(); // 400, the answer to anything malformed
}

} // namespace

std::string_view request_path(std::string_view target) noexcept {
    if (!target.empty() && target.front() != '/') {
        // absolute form: scheme "://" authority path
        const auto scheme_end = target.find("://");
        if (scheme_end != std::string_view::npos) {
            const auto path_start = target.find_first_of("/?", scheme_end + 3);
            target = path_start == std::string_view::npos ? std::string_view("/")
                                                          : target.substr(path_start);
            if (target.front() == '?') {
                return "/";
            }
        }
    }
    const auto query = target.find('?');
    return query == std::string_view::npos ? target : target.substr(0, query);
}

RouteMatch match_route(std::string_view path) noexcept {
    if (path == "/" || path == "/index.html") {
        return {RouteKind::index, {}};
    }
    if (path == "/__studio/ping") {
        return {RouteKind::ping, {}};
    }
    if (path.size() > 1 && path.front() == '/' && path.find('/', 1) == std::string_view::npos) {
        return {RouteKind::asset, path.substr(1)};
    }
    return {};
}

std::string percent_decode(std::string_view segment) {
    std::string out;
    out.reserve(segment.size());
    for (std::size_t i = 0; i < segment.size(); ++i) {
        if (segment[i] == '%' && i + 2 < segment.size()) {
            const int hi = hex_value(segment[i + 1]);
            const int lo = hex_value(segment[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out.push_back(segment[i]);
    }
    return out;
}

bool is_valid_utf8(std::string_view bytes) noexcept {
    while (!bytes.empty()) {
        std::size_t bad = 0;
        const auto n = utf8_sequence(bytes, &bad);
        if (n == 0) {
            return false;
        }
        bytes.remove_prefix(n);
    }
    return true;
}

std::string to_utf8_lossy(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        std::size_t bad = 0;
        const auto n = utf8_sequence(bytes, &bad);
        if (n == 0) {
            out.append("\xEF\xBF\xBD");
            bytes.remove_prefix(bad);
        } else {
            out.append(bytes.substr(0, n));
            bytes.remove_prefix(n);
        }
    }
    return out;
}

std::string with_launcher_marker(std::string_view document) {
    std::string text = is_valid_utf8(document) ? std::string(document) : to_utf8_lossy(document);
    const auto at = text.find("</head>");
    if (at == std::string::npos) {
        return text;
    }
    std::string inserted;
    inserted.reserve(launcher_marker.size() + 3);
    inserted.append("  ");
    inserted.append(launcher_marker);
    inserted.push_back('\n');
    text.insert(at, inserted);
    return text;
}

Router::Router(std::shared_ptr<HeartbeatState> heartbeat)
    : heartbeat_(std::move(heartbeat)), not_found_(make_response(404, {})),
      not_allowed_(make_response(405, {{"Allow", "GET,HEAD"}})),
      no_content_(make_response(204, {}, {}, ContentLength::omitted)),
      invalid_name_(make_response(400, {{"Content-Type", "text/plain; charset=utf-8"}},
                                  std::string(invalid_name_body))) {
    if (const auto* entry = get_asset("index.html")) {
        index_ = make_response(
            200, {{"Content-Type", "text/html; charset=utf-8"}, {"Cache-Control", "no-store"}},
            with_launcher_marker(entry->text()));
    } else {
        index_ = not_found_;
    }
    for (const auto& entry : asset_bundle()) {
        assets_.push_back(make_response(200,
                                        {{"Content-Type", std::string(media_type_for(entry.name))},
                                         {"Cache-Control", "no-store"}},
                                        entry.bytes));
    }
    for (const unsigned status : {400u, 413u, 431u, 505u}) {
        refusals_.push_back(make_response(status, {}));
    }
}

const Response& Router::asset_route(std::string_view raw_segment) const {
    const auto name = percent_decode(raw_segment);
    if (!is_valid_utf8(name)) {
        return invalid_name_;
    }
    const auto* entry = get_asset(name);
    if (entry == nullptr) {
        return not_found_;
    }
    return assets_[static_cast<std::size_t>(entry - asset_bundle().data())];
}

const Response& Router::handle(Method method, std::string_view target) const {
    const auto match = match_route(request_path(target));
    if (match.kind == RouteKind::none) {
        return not_found_;
    }
    if (method == Method::other) {
        return not_allowed_;
    }
    switch (match.kind) {
    case RouteKind::index:
        return index_;
    case RouteKind::ping:
        heartbeat_->mark_ping(SteadyClock::now());
        return no_content_;
    case RouteKind::asset:
        return asset_route(match.segment);
    case RouteKind::none:
        break;
    }
    return not_found_;
}

const Response& Router::refused(unsigned status) const {
    return refusal_for(refusals_, status);
}

} // namespace studio
