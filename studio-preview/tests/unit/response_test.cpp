// The ready-made answers: how they are built, and the pieces a connection writes for them.

#include "asset_bundle.hpp"
#include "http_connection.hpp"
#include "response.hpp"
#include "routes.hpp"
#include "wire.hpp"

#include <boost/beast/http/error.hpp>
#include <gtest/gtest.h>
#include <string>

namespace http = boost::beast::http;
using wire::date_field;
using wire::joined;
using wire::parse;

namespace {

studio::Router router_with_fresh_heartbeat() {
    return studio::Router(studio::HeartbeatState::create(studio::SteadyClock::now()));
}

} // namespace

TEST(MakeResponse, WritesTheStatusLineTheFieldsAndTheLength) {
    const auto r = studio::make_response(200, {{"Content-Type", "text/css"}}, std::string("abc"));
    EXPECT_EQ(r.head, "HTTP/1.1 200 OK\r\nContent-Type: text/css\r\nContent-Length: 3\r\n");
    EXPECT_EQ(r.body(), "abc");

    const auto empty = studio::make_response(404, {});
    EXPECT_EQ(empty.head, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n");
    const auto none = studio::make_response(204, {}, {}, studio::ContentLength::omitted);
    EXPECT_EQ(none.head, "HTTP/1.1 204 No Content\r\n");
}

TEST(MakeResponse, BorrowsBundleBytesWithoutCopyingThem) {
    const auto* file = studio::get_asset("style.css");
    ASSERT_NE(file, nullptr);
    const auto r = studio::make_response(200, {}, file->bytes);
    EXPECT_EQ(r.body().data(), file->text().data());
    EXPECT_EQ(wire::received(r)[http::field::content_length], std::to_string(file->bytes.size()));
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
        const auto res =
            parse(joined(studio::answer_pieces(r, 11, false, false, date_field)), false);
        EXPECT_EQ(res.result_int(), status);
        EXPECT_EQ(res[http::field::content_length], "0");
        EXPECT_TRUE(res.body().empty());
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
