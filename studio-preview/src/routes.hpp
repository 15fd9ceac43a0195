#pragma once

// The router: a pure function from a request's method and raw target to the response, over the
// compiled-in bundle. No sockets here, so every route is testable on its own.

#include "heartbeat.hpp"
#include "response.hpp"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

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

// The router answers from a table made once, when it is built: the entry document with its marker,
// each file with its headers, and the empty 204, 404 and 405 answers. Only a request for a name
// that is not valid UTF-8 needs its own answer, and that one never changes either.
class Router {
public:
    explicit Router(std::shared_ptr<HeartbeatState> heartbeat);

    // A HEAD request gets the GET's response; leaving out the body is the connection's job.
    const Response& handle(Method method, std::string_view target) const;

    // The answer to a request that never reaches the routes (malformed, too large, an unknown
    // protocol version): the status, an empty body, and the connection closed after it.
    const Response& refused(unsigned status) const;

private:
    const Response& asset_route(std::string_view raw_segment) const;

    std::shared_ptr<HeartbeatState> heartbeat_;
    Response index_;
    std::vector<Response> assets_; // parallel to asset_bundle()
    Response not_found_;
    Response not_allowed_;
    Response no_content_;
    Response invalid_name_;
    std::vector<Response> refusals_;
};

} // namespace studio
