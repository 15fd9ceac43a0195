#include "asset_bundle.hpp"

#include <array>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// SHA-256 from coreutils, so the digest is checked against an implementation of its own.
std::string sha256sum_of(const std::string& path) {
    const std::string command = "sha256sum '" + path + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return {};
    }
    std::array<char, 65> hex{};
    const auto n = std::fread(hex.data(), 1, 64, pipe);
    ::pclose(pipe);
    return std::string(hex.data(), n);
}

std::string to_hex(const std::array<std::uint8_t, 32>& digest) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (const auto b : digest) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

} // namespace

TEST(AssetBundle, HoldsTheFivePageFilesInByteOrder) {
    const auto table = studio::asset_bundle();
    std::vector<std::string> names;
    for (const auto& e : table) {
        names.emplace_back(e.name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"app.js", "index.html", "quillcan-icon.png",
                                               "style.css", "tevolark-logo.svg"}));
    for (std::size_t i = 1; i < table.size(); ++i) {
        EXPECT_LT(table[i - 1].name, table[i].name);
    }
}

TEST(AssetBundle, EntriesMatchTheSourceFilesByteForByte) {
    for (const auto& e : studio::asset_bundle()) {
        const std::string path = std::string(STUDIO_WEB_DIR) + "/" + std::string(e.name);
        const auto source = read_file(path);
        EXPECT_EQ(e.text(), source) << e.name;
        EXPECT_EQ(to_hex(e.digest), sha256sum_of(path)) << e.name;
    }
}

TEST(AssetBundle, EveryEntryCarriesTheOneBundleTime) {
    const auto table = studio::asset_bundle();
    ASSERT_FALSE(table.empty());
    ASSERT_TRUE(table[0].modified.has_value());
    for (const auto& e : table) {
        ASSERT_TRUE(e.modified && e.created) << e.name;
        EXPECT_EQ(*e.modified, *table[0].modified);
        EXPECT_EQ(*e.created, *table[0].modified);
    }
    // A plausible build time: after 2020, not in the distant future.
    EXPECT_GT(*table[0].modified, 1577836800u);
}

TEST(AssetBundle, LookupIsExactAndCaseSensitive) {
    const auto* app = studio::get_asset("app.js");
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(app->name, "app.js");
    EXPECT_EQ(app->bytes.data(), studio::asset_bundle()[0].bytes.data()) << "no copy is made";

    for (const char* miss : {"App.js", "APP.JS", "/app.js", "./app.js", "", "app.js ", "app",
                             "app.js/", "index.htm", "zzz"}) {
        EXPECT_EQ(studio::get_asset(miss), nullptr) << '"' << miss << '"';
    }
    for (const char* hit : {"index.html", "quillcan-icon.png", "style.css", "tevolark-logo.svg"}) {
        const auto* e = studio::get_asset(hit);
        ASSERT_NE(e, nullptr) << hit;
        EXPECT_EQ(e->name, hit);
    }
}

TEST(AssetBundle, BackslashesAreLookedUpAsSlashesAndNeverMatch) {
    EXPECT_EQ(studio::get_asset("\\app.js"), nullptr);
    EXPECT_EQ(studio::get_asset(".\\app.js"), nullptr);
    EXPECT_EQ(studio::get_asset("app.js\\"), nullptr);
}
