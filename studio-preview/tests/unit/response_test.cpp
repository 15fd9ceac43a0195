// The ready-made answers: how they are built, and the pieces a connection writes for them.

#include "asset_bundle.hpp"
#include "http_connection.hpp"
#include "http_date.hpp"
#include "response.hpp"
#include "routes.hpp"

#include <boost/asio/buffer.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>
#include <gtest/gtest.h>
#include <string>

namespace http = boost::beast::http;

namespace {

constexpr std::string_view date_field = "Date: Tue, 08 Dec 2026 07:00:00 GMT\r\n\r\n";

std::string joined(const studio::AnswerPieces& p) {
    std::string out;
    for (std::size_t i = 0; i < p.count; ++i) {
        out.append(static_cast<const char*>(p.parts[i].data()), p.parts[i].size());
    }
    return out;
}

// The bytes as a client's parser reads them; fails the test when they are not one whole answer.
http::response<http::string_body> parse(const std::string& bytes, bool head_request) {
    http::response_parser<http::string_body> parser;
    parser.skip(head_request);
    parser.eager(true);
    boost::beast::error_code ec;
    const auto used = parser.put(boost::asio::buffer(bytes), ec);
    EXPECT_FALSE(ec) << ec.message() << "\n" << bytes.substr(0, 300);
    EXPECT_TRUE(parser.is_done()) << bytes.substr(0, 300);
    EXPECT_EQ(used, bytes.size()) << "nothing after the answer";
    return parser.release();
}

studio::Router router_with_fresh_heartbeat() {
    return studio::Router(studio::HeartbeatState::create(studio::SteadyClock::now()));
}

} // namespace

TEST(MakeResponse, WritesTheStatusLineTheFieldsAndTheLength) {
    const auto r = studio::make_response(200, {{"Content-Type", "text/css"}}, std::string("abc"));
    EXPECT_EQ(r.head, "HTTP/1.1 200 OK\r\nContent-Type: text/css\r\nContent-Length: 3\r\n");
    EXPECT_EQ(r.body(), "abc");
    EXPECT_EQ(r.field("content-type"), "text/css") << "names compare without case";
    EXPECT_EQ(r.field("CONTENT-LENGTH"), "3");
    EXPECT_FALSE(r.has_field("Cache-Control"));

    const auto empty = studio::make_response(404, {});
    EXPECT_EQ(empty.head, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n");
    const auto none = studio::make_response(204, {}, {}, studio::ContentLength::omitted);
    EXPECT_EQ(none.head, "HTTP/1.1 204 No Content\r\n");
    EXPECT_FALSE(none.has_field("Content-Length"));
}

TEST(MakeResponse, BorrowsBundleBytesWithoutCopyingThem) {
    const auto* file = studio::get_asset("style.css");
    ASSERT_NE(file, nullptr);
    const auto r = studio::make_response(200, {}, file->bytes);
    EXPECT_EQ(r.body().data(), file->text().data());
    EXPECT_EQ(r.field("Content-Length"), std::to_string(file->bytes.size()));
}

TEST(AnswerPieces, MakeOneWellFormedAnswerForEachVersionAndConnectionChoice) {
    const auto router = router_with_fresh_heartbeat();
    const auto& css = router.handle(studio::Method::get, "/style.css");
    const auto* file = studio::get_asset("style.css");
    ASSERT_NE(file, nullptr);
    const struct {
        unsigned version;
        bool keep_alive;
        const char* connection; // the field the client sees, "" for none
    } cases[] = {{11, true, ""}, {11, false, "close"}, {10, true, "keep-alive"}, {10, false, ""}};
    for (const auto& c : cases) {
        const auto bytes =
            joined(studio::answer_pieces(css, c.version, c.keep_alive, false, date_field));
        const auto res = parse(bytes, false);
        EXPECT_EQ(res.version(), c.version);
        EXPECT_EQ(res.result_int(), 200u);
        EXPECT_EQ(res[http::field::connection], c.connection) << c.version << c.keep_alive;
        EXPECT_EQ(res.keep_alive(), c.keep_alive) << c.version << c.keep_alive;
        EXPECT_EQ(res[http::field::date], "Tue, 08 Dec 2026 07:00:00 GMT");
        EXPECT_EQ(res[http::field::content_type], "text/css");
        EXPECT_EQ(res[http::field::cache_control], "no-store");
        EXPECT_TRUE(res.body() == file->text()) << "the file, byte for byte";
    }
}

TEST(AnswerPieces, HeadKeepsTheLengthAndLeavesTheBodyOut) {
    const auto router = router_with_fresh_heartbeat();
    const auto& index = router.handle(studio::Method::head, "/");
    const auto bytes = joined(studio::answer_pieces(index, 11, true, true, date_field));
    EXPECT_EQ(bytes.size(), index.head.size() + date_field.size());
    const auto res = parse(bytes, true);
    EXPECT_EQ(res[http::field::content_length], std::to_string(index.body().size()));
    EXPECT_TRUE(res.body().empty());
}

TEST(AnswerPieces, TheBodyIsWrittenFromWhereItLives) {
    const auto router = router_with_fresh_heartbeat();
    const auto& js = router.handle(studio::Method::get, "/app.js");
    const auto p = studio::answer_pieces(js, 11, true, false, date_field);
    ASSERT_GE(p.count, 2u);
    EXPECT_EQ(p.parts[p.count - 1].data(), js.body().data()) << "no copy of the body";
    for (std::size_t i = 0; i < p.count; ++i) {
        EXPECT_GT(p.parts[i].size(), 0u) << "no empty pieces";
    }
}

TEST(Refusals, AreEmptyAnswersWithTheirStatus) {
    const auto router = router_with_fresh_heartbeat();
    for (const unsigned status : {400u, 413u, 431u, 505u}) {
        const auto& r = router.refused(status);
        EXPECT_EQ(r.status, status);
        EXPECT_EQ(r.field("Content-Length"), "0");
        EXPECT_TRUE(r.body().empty());
        const auto res =
            parse(joined(studio::answer_pieces(r, 11, false, false, date_field)), false);
        EXPECT_EQ(res.result_int(), status);
        EXPECT_FALSE(res.keep_alive());
    }
    EXPECT_EQ(router.refused(418).status, 400u) << "anything else is a plain bad request";
}

TEST(Refusals, ParserErrorsMapToTheirStatusOrToASilentClose) {
    EXPECT_EQ(studio::refusal_status(http::error::header_limit), 431u);
    EXPECT_EQ(studio::refusal_status(http::error::body_limit), 413u);
    EXPECT_EQ(studio::refusal_status(http::error::bad_method), 400u);
    EXPECT_EQ(studio::refusal_status(http::error::bad_version), 400u);
    EXPECT_FALSE(studio::refusal_status(http::error::partial_message));
    EXPECT_FALSE(studio::refusal_status(http::error::end_of_stream));
    EXPECT_FALSE(studio::refusal_status(boost::asio::error::eof));
    EXPECT_FALSE(studio::refusal_status(boost::asio::error::connection_reset));
}

TEST(Router, AnswersAreMadeOnceAndReusedForEveryRequest) {
    const auto router = router_with_fresh_heartbeat();
    EXPECT_EQ(&router.handle(studio::Method::get, "/"),
              &router.handle(studio::Method::get, "/index.html?x"));
    EXPECT_EQ(&router.handle(studio::Method::get, "/app.js"),
              &router.handle(studio::Method::head, "/%61pp.js"));
    EXPECT_EQ(router.handle(studio::Method::get, "/").body().data(),
              router.handle(studio::Method::get, "/").body().data());
}

TEST(DateField, EndsTheHeadWithTheCurrentDateAndTheBlankLine) {
    studio::DateCache cache;
    const std::string field(cache.head_end());
    ASSERT_EQ(field.size(), 6u + 29u + 4u);
    EXPECT_EQ(field.substr(0, 6), "Date: ");
    EXPECT_EQ(field.substr(35), "\r\n\r\n");
    EXPECT_EQ(field.substr(6, 29), cache.now());
    const auto year = std::to_string(
        static_cast<int>(std::chrono::year_month_day(std::chrono::floor<std::chrono::days>(
                                                         std::chrono::system_clock::now()))
                             .year()));
    EXPECT_NE(field.find(" " + year + " "), std::string::npos) << field;
}
