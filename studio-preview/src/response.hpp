#pragma once

// One answer as it goes on the wire: a status, a list of header fields and a body. Every answer
// the launcher sends is built by make_response, once, when serving starts; sending one costs a
// gather write of its ready-made head, the connection and date fields, and its body.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace studio {

struct HeaderField {
    std::string name;
    std::string value;
};

// No body, a body made for this answer, or bytes borrowed from the bundle (never copied).
using ResponseBody = std::variant<std::monostate, std::string, std::span<const std::uint8_t>>;

enum class ContentLength { sent, omitted };

struct Response {
    unsigned status = 0;
    // The status line ("HTTP/1.1 200 OK") and every field, each ending in CR LF. What follows on
    // the wire is the connection field when one is needed, the date field and the blank line.
    std::string head;
    ResponseBody body_storage;

    std::string_view body() const noexcept;
};

// The fields go out in the order given, followed by content-length unless it is omitted.
Response make_response(unsigned status, const std::vector<HeaderField>& fields,
                       ResponseBody body = {}, ContentLength length = ContentLength::sent);

} // namespace studio
