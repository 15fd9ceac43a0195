#include "response.hpp"

#include <boost/beast/http/status.hpp>
#include <ostream> // boost/beast/http/status.hpp uses it without including it

namespace studio {

std::string_view Response::body() const noexcept {
    if (const auto* owned = std::get_if<std::string>(&body_storage)) {
        return *owned;
    }
    if (const auto* borrowed = std::get_if<std::span<const std::uint8_t>>(&body_storage)) {
        return {reinterpret_cast<const char*>(borrowed->data()), borrowed->size()};
    }
    return {};
}

Response make_response(unsigned status, const std::vector<HeaderField>& fields, ResponseBody body,
                       ContentLength length) {
    Response r;
    r.status = status;
    r.body_storage = std::move(body);
    const auto reason =
        boost::beast::http::obsolete_reason(static_cast<boost::beast::http::status>(status));
    r.head = "HTTP/1.1 " + std::to_string(status) + " " +
             std::string(reason.data(), reason.size()) + "\r\n";
    for (const auto& f : fields) {
        r.head += f.name + ": " + f.value + "\r\n";
    }
    if (length == ContentLength::sent) {
        r.head += "Content-Length: " + std::to_string(r.body().size()) + "\r\n";
    }
    return r;
}

} // namespace studio
