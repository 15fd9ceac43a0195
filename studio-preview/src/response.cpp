#include "response.hpp"

#include <algorithm>
#include <boost/beast/http/status.hpp>
#include <ostream> // boost/beast/http/status.hpp uses it without including it

namespace studio {

namespace {

bool same_name(std::string_view a, std::string_view b) noexcept {
    const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

} // namespace

std::string_view Response::body() const noexcept {
    if (const auto* owned = std::get_if<std::string>(&body_storage)) {
        return *owned;
    }
    if (const auto* borrowed = std::get_if<std::span<const std::uint8_t>>(&body_storage)) {
        return {reinterpret_cast<const char*>(borrowed->data()), borrowed->size()};
    }
    return {};
}

std::string_view Response::field(std::string_view name) const noexcept {
    for (const auto& f : fields) {
        if (same_name(f.name, name)) {
            return f.value;
        }
    }
    return {};
}

bool Response::has_field(std::string_view name) const noexcept {
    return std::any_of(fields.begin(), fields.end(),
                       [&](const HeaderField& f) { return same_name(f.name, name); });
}

Response make_response(unsigned status, std::vector<HeaderField> fields, ResponseBody body,
                       ContentLength length) {
    Response r;
    r.status = status;
    r.fields = std::move(fields);
    r.body_storage = std::move(body);
    if (length == ContentLength::sent) {
        r.fields.push_back({"Content-Length", std::to_string(r.body().size())});
    }
    const auto reason =
        boost::beast::http::obsolete_reason(static_cast<boost::beast::http::status>(status));
    r.head = "HTTP/1.1 " + std::to_string(status) + " " +
             std::string(reason.data(), reason.size()) + "\r\n";
    for (const auto& f : r.fields) {
        r.head += f.name + ": " + f.value + "\r\n";
    }
    return r;
}

} // namespace studio
