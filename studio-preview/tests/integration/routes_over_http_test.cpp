// Every route and failure answer as a client sees it on the wire, headers included.

#include "../shape.hpp"
#include "fixture.hpp"

using itest::fetch;
using itest::LauncherTest;

namespace {
const std::string inserted = "  <meta name=\"quillcan-studio-launcher\" content=\"1\">\n";

void expect_date(const itest::HttpAnswer& a) {
    EXPECT_TRUE(testing_shape::has_shape(a.get("date"), testing_shape::http_date_shape))
        << a.get("date");
}
} // namespace

TEST_F(LauncherTest, IndexRoutesServeTheDocumentWithTheMarkerOnce) {
    const auto file = itest::web_file("index.html");
    const auto root = fetch(port, "GET", "/");
    const auto named = fetch(port, "GET", "/index.html");
    const auto queried = fetch(port, "GET", "/?concept=bench&scenario=live");
    ASSERT_TRUE(root && named && queried);
    for (const auto* a : {&*root, &*named, &*queried}) {
        EXPECT_EQ(a->status, 200);
        EXPECT_EQ(a->get("content-type"), "text/html; charset=utf-8");
        EXPECT_EQ(a->get("cache-control"), "no-store");
        EXPECT_EQ(a->get("content-length"), std::to_string(file.size() + 53));
        expect_date(*a);
        EXPECT_EQ(a->body, root->body);
    }
    const auto at = root->body.find(inserted);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(root->body.find("quillcan-studio-launcher", at + inserted.size()), std::string::npos);
    EXPECT_EQ(root->body.find("</head>"), at + inserted.size());
    EXPECT_EQ(root->body.substr(0, at) + root->body.substr(at + inserted.size()), file);
}

TEST_F(LauncherTest, AssetsAreServedByteForByteWithTheirTypes) {
    const struct {
        const char* target;
        const char* file;
        const char* type;
    } cases[] = {
        {"/app.js", "app.js", "text/javascript"},
        {"/style.css", "style.css", "text/css"},
        {"/quillcan-icon.png", "quillcan-icon.png", "image/png"},
        {"/tevolark-logo.svg", "tevolark-logo.svg", "image/svg+xml"},
        {"/%61pp.js", "app.js", "text/javascript"},
        {"/index%2Ehtml", "index.html", "text/html"},
        {"/style.css?v=2", "style.css", "text/css"},
    };
    for (const auto& c : cases) {
        const auto a = fetch(port, "GET", c.target);
        ASSERT_TRUE(a) << c.target;
        EXPECT_EQ(a->status, 200) << c.target;
        EXPECT_EQ(a->get("content-type"), c.type) << c.target;
        EXPECT_EQ(a->get("cache-control"), "no-store");
        EXPECT_EQ(a->body, itest::web_file(c.file)) << c.target;
        EXPECT_FALSE(a->has("etag"));
        EXPECT_FALSE(a->has("last-modified"));
        expect_date(*a);
    }
}

TEST_F(LauncherTest, HeadGivesTheGetHeadersWithoutABody) {
    itest::RawConnection c(port);
    for (const auto& [name, type] :
         {std::pair{"style.css", "text/css"}, std::pair{"app.js", "text/javascript"},
          std::pair{"quillcan-icon.png", "image/png"}}) {
        c.send("HEAD /" + std::string(name) + " HTTP/1.1\r\nHost: x\r\n\r\n");
        const auto head = c.read_answer(true);
        ASSERT_TRUE(head) << name;
        EXPECT_EQ(head->status, 200) << name;
        EXPECT_EQ(head->get("content-type"), type);
        EXPECT_EQ(head->get("content-length"), std::to_string(itest::web_file(name).size()));
    }
    // The connection stays usable: no body bytes were sent before the next answer.
    c.send("HEAD / HTTP/1.1\r\nHost: x\r\n\r\n");
    const auto index = c.read_answer(true);
    ASSERT_TRUE(index);
    EXPECT_EQ(index->get("content-length"),
              std::to_string(itest::web_file("index.html").size() + 53));
    c.send("GET /__studio/ping HTTP/1.1\r\nHost: x\r\n\r\n");
    const auto ping = c.read_answer();
    ASSERT_TRUE(ping);
    EXPECT_EQ(ping->status, 204);
}

TEST_F(LauncherTest, FailuresAnswerWithTheirStatusAndNoBody) {
    for (const char* target :
         {"/App.js", "/app.js/", "/a/b", "/__studio", "/nope.css", "/%zz", "/__studio/ping/",
          "/..%2F..%2Fetc%2Fpasswd", "/%2e%2e", "/app.js%00", "/.%5Capp.js"}) {
        const auto a = fetch(port, "GET", target);
        ASSERT_TRUE(a) << target;
        EXPECT_EQ(a->status, 404) << target;
        EXPECT_EQ(a->get("content-length"), "0") << target;
        EXPECT_FALSE(a->has("content-type")) << target;
        EXPECT_FALSE(a->has("cache-control")) << target;
        expect_date(*a);
    }
    const auto bad = fetch(port, "GET", "/%FF");
    ASSERT_TRUE(bad);
    EXPECT_EQ(bad->status, 400);
    EXPECT_EQ(bad->get("content-type"), "text/plain; charset=utf-8");
    EXPECT_EQ(bad->body, "Invalid URL: Invalid UTF-8 in `name`");

    for (const char* method : {"POST", "PUT", "DELETE", "OPTIONS"}) {
        for (const char* target : {"/", "/index.html", "/__studio/ping", "/app.js"}) {
            const auto a = fetch(port, method, target);
            ASSERT_TRUE(a) << method << " " << target;
            EXPECT_EQ(a->status, 405) << method << " " << target;
            EXPECT_EQ(a->get("allow"), "GET,HEAD");
            EXPECT_EQ(a->get("content-length"), "0");
            EXPECT_TRUE(a->body.empty());
        }
    }
    const auto unrouted = fetch(port, "POST", "/a/b");
    ASSERT_TRUE(unrouted);
    EXPECT_EQ(unrouted->status, 404);
}

TEST_F(LauncherTest, PingAnswers204WithoutLengthOrType) {
    const auto a = fetch(port, "GET", "/__studio/ping?t=1");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->status, 204);
    EXPECT_FALSE(a->has("content-length"));
    EXPECT_FALSE(a->has("content-type"));
    EXPECT_FALSE(a->has("cache-control"));
    EXPECT_TRUE(a->body.empty());
    expect_date(*a);
}
