#include "asset_bundle.hpp"
#include "routes.hpp"
#include "wire.hpp"

#include <gtest/gtest.h>

using studio::Method;
using studio::RouteKind;
namespace http = boost::beast::http;

namespace {

studio::Router make_router(std::shared_ptr<studio::HeartbeatState>* out = nullptr) {
    auto hb = studio::HeartbeatState::create(studio::SteadyClock::now());
    if (out != nullptr) {
        *out = hb;
    }
    return studio::Router(hb);
}

const std::string marker_line = std::string("  ") + std::string(studio::launcher_marker) + "\n";

} // namespace

TEST(RequestPath, CutsTheQueryAndReducesAbsoluteForm) {
    EXPECT_EQ(studio::request_path("/?concept=bench&scenario=live"), "/");
    EXPECT_EQ(studio::request_path("/app.js?x=1?y"), "/app.js");
    EXPECT_EQ(studio::request_path("/a%3Fb"), "/a%3Fb");
    EXPECT_EQ(studio::request_path("http://127.0.0.1:9/style.css?q"), "/style.css");
    EXPECT_EQ(studio::request_path("http://127.0.0.1:9"), "/");
    EXPECT_EQ(studio::request_path("*"), "*");
}

TEST(MatchRoute, LiteralsComeFirstAndNameIsOneNonEmptySegment) {
    EXPECT_EQ(studio::match_route("/").kind, RouteKind::index);
    EXPECT_EQ(studio::match_route("/index.html").kind, RouteKind::index);
    EXPECT_EQ(studio::match_route("/__studio/ping").kind, RouteKind::ping);

    const auto asset = studio::match_route("/app.js");
    EXPECT_EQ(asset.kind, RouteKind::asset);
    EXPECT_EQ(asset.segment, "app.js");
    // Literals are compared before decoding: an encoded dot is a name, not the index route.
    EXPECT_EQ(studio::match_route("/index%2Ehtml").kind, RouteKind::asset);
    EXPECT_EQ(studio::match_route("/__studio").kind, RouteKind::asset);

    for (const char* none :
         {"/app.js/", "/a/b", "//", "", "*", "app.js", "/__studio/ping/", "/__studio/x"}) {
        EXPECT_EQ(studio::match_route(none).kind, RouteKind::none) << none;
    }
}

TEST(PercentDecode, DecodesValidEscapesAndKeepsBrokenOnes) {
    EXPECT_EQ(studio::percent_decode("%61pp.js"), "app.js");
    EXPECT_EQ(studio::percent_decode("index%2Ehtml"), "index.html");
    EXPECT_EQ(studio::percent_decode("%2e%2E"), "..");
    EXPECT_EQ(studio::percent_decode("%zz"), "%zz");
    EXPECT_EQ(studio::percent_decode("a%"), "a%");
    EXPECT_EQ(studio::percent_decode("a%4"), "a%4");
    EXPECT_EQ(studio::percent_decode("%%41"), "%A");
    EXPECT_EQ(studio::percent_decode("%00"), std::string(1, '\0'));
    EXPECT_EQ(studio::percent_decode("%FF"), "\xFF");
    EXPECT_EQ(studio::percent_decode("a+b"), "a+b");
}

TEST(Utf8, ValidationRejectsEveryMalformedForm) {
    EXPECT_TRUE(studio::is_valid_utf8(""));
    EXPECT_TRUE(studio::is_valid_utf8("plain"));
    EXPECT_TRUE(studio::is_valid_utf8("\xC2\xB7 \xE2\x80\x94 \xEF\xBC\x8B \xF0\x9F\x98\x80"));
    EXPECT_TRUE(studio::is_valid_utf8("\xF4\x8F\xBF\xBF")); // U+10FFFF
    for (const char* bad :
         {"\xFF", "\x80", "\xC0\x80", "\xC1\xBF", "\xE0\x80\xAF", "\xED\xA0\x80",
          "\xF0\x80\x80\xAF", "\xF4\x90\x80\x80", "\xF5\x80", "\xE2\x80", "abc\xC3"}) {
        EXPECT_FALSE(studio::is_valid_utf8(bad)) << bad;
    }
}

TEST(Utf8, LossyConversionReplacesEachMaximalInvalidPart) {
    EXPECT_EQ(studio::to_utf8_lossy("ok"), "ok");
    EXPECT_EQ(studio::to_utf8_lossy("a\xFF"
                                    "b"),
              "a\xEF\xBF\xBD"
              "b");
    // A truncated three-byte sequence is one replacement, not two.
    EXPECT_EQ(studio::to_utf8_lossy("\xE2\x80"
                                    "x"),
              "\xEF\xBF\xBD"
              "x");
    EXPECT_EQ(studio::to_utf8_lossy("\xC0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(studio::to_utf8_lossy("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(LauncherMarker, IsInsertedOnItsOwnLineBeforeTheFirstHeadEnd) {
    EXPECT_EQ(studio::launcher_marker.size(), 50u);
    const std::string doc = "<html><head><title>t</title></head><body></head></body></html>";
    const auto out = studio::with_launcher_marker(doc);
    EXPECT_EQ(out.size(), doc.size() + 53);
    EXPECT_EQ(out,
              "<html><head><title>t</title>" + marker_line + "</head><body></head></body></html>");
}

TEST(LauncherMarker, KeepsCrLfDocumentsAndUsesABareLineFeed) {
    const std::string doc = "<head>\r\n<title>t</title>\r\n</head>\r\n";
    EXPECT_EQ(studio::with_launcher_marker(doc),
              "<head>\r\n<title>t</title>\r\n" + marker_line + "</head>\r\n");
}

TEST(LauncherMarker, LeavesADocumentWithoutHeadEndUnchanged) {
    EXPECT_EQ(studio::with_launcher_marker("<p>no head</p></HEAD>"), "<p>no head</p></HEAD>");
    EXPECT_EQ(studio::with_launcher_marker(""), "");
}

TEST(LauncherMarker, ReplacesInvalidUtf8BeforeInserting) {
    const std::string doc = "<head>\xFF</head>";
    EXPECT_EQ(studio::with_launcher_marker(doc), "<head>\xEF\xBF\xBD" + marker_line + "</head>");
}

TEST(Router, IndexAndIndexHtmlServeTheDocumentWithTheMarker) {
    const auto router = make_router();
    const auto* file = studio::get_asset("index.html");
    ASSERT_NE(file, nullptr);
    const auto root = router.handle(Method::get, "/");
    const auto named = router.handle(Method::get, "/index.html?concept=bench&scenario=live");
    const auto queried = router.handle(Method::get, "/?concept=bench&scenario=live");
    for (const auto* r : {&root, &named, &queried}) {
        const auto res = wire::received(*r);
        EXPECT_EQ(res.result_int(), 200u);
        EXPECT_EQ(res[http::field::content_type], "text/html; charset=utf-8");
        EXPECT_EQ(res[http::field::cache_control], "no-store");
        EXPECT_EQ(res.body(), root.body());
    }
    const auto body = std::string(root.body());
    EXPECT_EQ(body.size(), file->bytes.size() + 53);
    const auto first = body.find(marker_line);
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(body.find(studio::launcher_marker, first + marker_line.size()), std::string::npos)
        << "only once";
    EXPECT_EQ(body.compare(first + marker_line.size(), 7, "</head>"), 0);
    EXPECT_EQ(body.find("</head>"), first + marker_line.size());
}

TEST(Router, AssetsAreServedUnchangedWithTheirTypes) {
    const auto router = make_router();
    const struct {
        const char* target;
        const char* name;
        const char* type;
    } cases[] = {
        {"/app.js", "app.js", "text/javascript"},
        {"/%61pp.js", "app.js", "text/javascript"},
        {"/style.css", "style.css", "text/css"},
        {"/quillcan-icon.png", "quillcan-icon.png", "image/png"},
        {"/tevolark-logo.svg", "tevolark-logo.svg", "image/svg+xml"},
        {"/index%2Ehtml", "index.html", "text/html"},
    };
    for (const auto& c : cases) {
        const auto& r = router.handle(Method::get, c.target);
        const auto res = wire::received(r);
        EXPECT_EQ(res.result_int(), 200u) << c.target;
        EXPECT_EQ(res[http::field::content_type], c.type) << c.target;
        EXPECT_EQ(res[http::field::cache_control], "no-store");
        const auto* e = studio::get_asset(c.name);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(r.body(), e->text()) << c.target;
        EXPECT_EQ(r.body().data(), e->text().data()) << "served without copying";
    }
}

TEST(Router, FailuresAnswerAsTabled) {
    const auto router = make_router();
    for (const char* missing : {"/App.js", "/app.js/", "/a/b", "/__studio", "/%zz", "/..%2F",
                                "/app.js%00", "/%5Capp.js"}) {
        const auto r = wire::received(router.handle(Method::get, missing));
        EXPECT_EQ(r.result_int(), 404u) << missing;
        EXPECT_EQ(r[http::field::content_length], "0");
        EXPECT_TRUE(r.body().empty());
        EXPECT_EQ(r.count(http::field::content_type), 0u);
        EXPECT_EQ(r.count(http::field::cache_control), 0u);
    }
    const auto bad = wire::received(router.handle(Method::get, "/%FF"));
    EXPECT_EQ(bad.result_int(), 400u);
    EXPECT_EQ(bad[http::field::content_type], "text/plain; charset=utf-8");
    EXPECT_EQ(bad.body(), "Invalid URL: Invalid UTF-8 in `name`");

    for (const char* routed : {"/", "/index.html", "/__studio/ping", "/app.js", "/nothing"}) {
        const auto r = wire::received(router.handle(Method::other, routed));
        EXPECT_EQ(r.result_int(), 405u) << routed;
        EXPECT_EQ(r[http::field::allow], "GET,HEAD");
        EXPECT_TRUE(r.body().empty());
    }
    EXPECT_EQ(router.handle(Method::other, "/a/b").status, 404u) << "no route, no 405";
}

TEST(Router, PingRecordsAHeartbeatOnlyForGetAndHead) {
    std::shared_ptr<studio::HeartbeatState> hb;
    const auto router = make_router(&hb);
    EXPECT_EQ(router.handle(Method::other, "/__studio/ping").status, 405u);
    EXPECT_FALSE(hb->snapshot().pinged);

    const auto r = wire::received(router.handle(Method::get, "/__studio/ping?x=1"));
    EXPECT_EQ(r.result_int(), 204u);
    EXPECT_EQ(r.count(http::field::content_length), 0u);
    EXPECT_EQ(r.count(http::field::content_type), 0u);
    EXPECT_EQ(r.count(http::field::cache_control), 0u);
    EXPECT_TRUE(hb->snapshot().pinged);

    auto fresh = make_router(&hb);
    EXPECT_EQ(fresh.handle(Method::head, "/__studio/ping").status, 204u);
    EXPECT_TRUE(hb->snapshot().pinged);
}
