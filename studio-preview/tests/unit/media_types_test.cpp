#include "media_types.hpp"

#include <gtest/gtest.h>

TEST(MediaTypes, TheBundleExtensionsGetTheirBareTypes) {
    EXPECT_EQ(studio::media_type_for("app.js"), "text/javascript");
    EXPECT_EQ(studio::media_type_for("style.css"), "text/css");
    EXPECT_EQ(studio::media_type_for("index.html"), "text/html");
    EXPECT_EQ(studio::media_type_for("tevolark-logo.svg"), "image/svg+xml");
    EXPECT_EQ(studio::media_type_for("quillcan-icon.png"), "image/png");
}

TEST(MediaTypes, ExtensionLookupIgnoresCaseAndUsesTheLastDot) {
    EXPECT_EQ(studio::media_type_for("APP.JS"), "text/javascript");
    EXPECT_EQ(studio::media_type_for("x.Svg"), "image/svg+xml");
    EXPECT_EQ(studio::media_type_for("archive.tar.css"), "text/css");
}

TEST(MediaTypes, MissingOrUnknownExtensionsFallBackToOctetStream) {
    for (const char* name : {"README", ".js", "", "name.", "a.zzzunknown", "dir.js/x"}) {
        EXPECT_EQ(studio::media_type_for(name), "application/octet-stream") << name;
    }
    EXPECT_EQ(studio::file_extension(".profile"), "");
    EXPECT_EQ(studio::file_extension("a.b.c"), "c");
}

TEST(MediaTypes, TheFirstTypeListedForAnExtensionWins) {
    // /etc/mime.types lists "fm" under application/vnd.framemaker before application/x-maker.
    EXPECT_EQ(studio::media_type_for("doc.fm"), "application/vnd.framemaker");
}

TEST(MediaTypes, TableIsStrictlyAscendingAndLowerCase) {
    const auto table = studio::media_type_table();
    ASSERT_GT(table.size(), 500u);
    for (std::size_t i = 0; i < table.size(); ++i) {
        for (const char c : table[i].extension) {
            EXPECT_FALSE(c >= 'A' && c <= 'Z') << table[i].extension;
        }
        if (i > 0) {
            EXPECT_LT(table[i - 1].extension, table[i].extension);
        }
    }
}
