#pragma once

// The router: a pure function from a request's method and raw target to the response, over the
// compiled-in bundle. No sockets here, so every route is testable on its own.

#include "heartbeat.hpp"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace studio {

// Inserted before the entry document's first "</head>" when the launcher serves it, so that the
// page knows it is previewed locally and starts its heartbeat.
inline constexpr std::string_view launcher_marker =
    R"(<meta name="quillcan-studio-launcher" content="1">)";

inline constexpr std::string_view invalid_name_body = "Invalid URL: Invalid UTF-8 in `name`";

enum class Method { get, head, other };

enum class RouteKind { index, ping, asset, none };

struct RouteMatch {
    RouteKind kind = RouteKind::none;
    std::string_view segment; // raw (still percent-encoded) capture of the asset route
};

// The path part of a request target: the query is cut off, and an absolute-form target
// ("http://host/path") is reduced to its path.
std::string_view request_path(std::string_view target) noexcept;

// Literal routes first, compared with the raw path; then one non-empty segment for "/{name}".
RouteMatch match_route(std::string_view path) noexcept;

// Percent-decoding of one path segment. An escape that is not "%" and two hex digits is kept as
// it stands, as lenient decoders do.
std::string percent_decode(std::string_view segment);

bool is_valid_utf8(std::string_view bytes) noexcept;

// The bytes as UTF-8, each maximal invalid subsequence replaced by U+FFFD.
std::string to_utf8_lossy(std::string_view bytes);

// The entry document as served: invalid UTF-8 replaced, and two spaces, the marker and a line
// feed inserted before the first "</head>" (none when there is no "</head>").
std::string with_launcher_marker(std::string_view document);

struct Response {
    unsigned status = 200;
    std::string_view content_type; // empty: no content-type header
    bool no_store = false;         // cache-control: no-store
    bool allow_get_head = false;   // allow: GET,HEAD (405 answers)
    bool has_content_length = true;
    std::string owned;                      // a body made for this request
    std::span<const std::uint8_t> borrowed; // or a body borrowed from the bundle
    bool is_borrowed = false;

    std::string_view body() const noexcept {
        if (is_borrowed) {
            return {reinterpret_cast<const char*>(borrowed.data()), borrowed.size()};
        }
        return owned;
    }
};

class Router {
public:
    explicit Router(std::shared_ptr<HeartbeatState> heartbeat) : heartbeat_(std::move(heartbeat)) {}

    // A HEAD request gets the GET's response; leaving out the body is the connection's job.
    Response handle(Method method, std::string_view target) const;

private:
    std::shared_ptr<HeartbeatState> heartbeat_;
};

} // namespace studio
