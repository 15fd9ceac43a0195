#pragma once

// Answers as a client reads them: the pieces a connection writes, joined and parsed by Beast.

#include "http_connection.hpp"
#include "http_parser.hpp"
#include "response.hpp"

#include <boost/asio/buffer.hpp>
#include <boost/beast/http/string_body.hpp>
#include <gtest/gtest.h>
#include <string>
#include <string_view>

namespace wire {

inline constexpr std::string_view date_field = "Date: Tue, 08 Dec 2026 07:00:00 GMT\r\n\r\n";

inline std::string joined(const studio::AnswerPieces& p) {
    std::string out;
    for (std::size_t i = 0; i < p.count; ++i) {
        out.append(static_cast<const char*>(p.parts[i].data()), p.parts[i].size());
    }
    return out;
}

// The bytes as a client's parser reads them; fails the test when they are not one whole answer.
inline boost::beast::http::response<boost::beast::http::string_body> parse(const std::string& bytes,
                                                                           bool head_request) {
    boost::beast::http::response_parser<boost::beast::http::string_body> parser;
    parser.skip(head_request);
    parser.eager(true);
    boost::beast::error_code ec;
    const auto used = parser.put(boost::asio::buffer(bytes), ec);
    EXPECT_FALSE(ec) << ec.message() << "\n" << bytes.substr(0, 300);
    EXPECT_TRUE(parser.is_done()) << bytes.substr(0, 300);
    EXPECT_EQ(used, bytes.size()) << "nothing after the answer";
    return parser.release();
}

// The answer to an HTTP/1.1 GET that keeps the connection, as the client receives it.
inline boost::beast::http::response<boost::beast::http::string_body>
received(const studio::Response& response) {
    return parse(joined(studio::answer_pieces(response, 11, true, false, date_field)), false);
}

} // namespace wire
