// The manifest scanner and validation against one table of texts, plus the out-parameter rules and
// the fields a failing validation leaves filled. Runs natively and under Wine.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "common/build_config.h"
#include "manifest/manifest_scanner.h"
#include "manifest/release_manifest.h"
#include "manifest_cases.h"

namespace {

using namespace manifest_cases;

std::u16string U16(const WideString& text) { return std::u16string(text.begin(), text.end()); }

std::u16string U16(const WideChar* text) { return U16(WideString(text)); }

TEST(ManifestScanner, EveryCaseOfTheTableReadsAsExpected) {
    for (const ScanCase& c : ScanCases()) {
        SCOPED_TRACE(c.name);
        switch (c.op) {
            case Op::Find: {
                std::size_t position = 0;
                ASSERT_EQ(FindValueStart(c.text, c.key, position), c.ok);
                if (c.ok) {
                    EXPECT_EQ(position, c.number);
                }
                break;
            }
            case Op::Object: {
                Utf8String object = "untouched";
                ASSERT_EQ(ExtractObjectText(c.text, c.key, object), c.ok);
                EXPECT_EQ(object, c.ok ? c.object : "untouched");
                break;
            }
            case Op::String: {
                WideString value;
                ASSERT_EQ(ReadStringValue(c.text, c.key, value), c.ok);
                if (c.ok) {
                    EXPECT_EQ(U16(value), c.string);
                }
                break;
            }
            case Op::Unsigned: {
                std::uint64_t value = 77;
                ASSERT_EQ(ReadUnsignedValue(c.text, c.key, value), c.ok);
                EXPECT_EQ(value, c.ok ? c.number : 77u);
                break;
            }
            case Op::Literal:
                EXPECT_EQ(MatchLiteralAt(c.text, static_cast<std::size_t>(c.number), c.key), c.ok);
                break;
        }
    }
}

// A string value's out-parameter is replaced once the closing quote is reached, and left alone on any
// earlier failure.
TEST(ManifestScanner, AStringReadReplacesItsOutParameterOnlyOnceTheClosingQuoteIsReached) {
    struct Case {
        const char* name;
        std::string text;
        bool replaced;
    };
    const Case cases[] = {
        {"missing key", R"({"w": "x"})", false},
        {"not a string", R"({"v": 1})", false},
        {"backslash", R"({"v": "a\"b"})", false},
        {"control byte", "{\"v\": \"a\rb\"}", false},
        {"unclosed", R"({"v": "abc)", false},
        {"empty value", R"({"v": ""})", true},
        {"lone 0xFF", "{\"v\": \"\xFF\"}", true},
        {"cut short by the closing quote", "{\"v\": \"ab\xF0\x9F\x98\"}", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WideString value = WIDE("previous");
        EXPECT_FALSE(ReadStringValue(c.text, "v", value));
        EXPECT_EQ(U16(value), c.replaced ? u"" : u"previous");
    }
}

TEST(ManifestScanner, Utf8ToWideGivesUtf16OrNothing) {
    EXPECT_TRUE(Utf8ToWide("").empty());
    EXPECT_EQ(U16(Utf8ToWide("a\xF4\x8F\xBF\xBF")), u"a\U0010FFFF");
    EXPECT_EQ(U16(Utf8ToWide(std::string("a\0b", 3))), std::u16string(u"a\0b", 3));
    EXPECT_TRUE(Utf8ToWide("abc\xF4\x90\x80\x80").empty());  // above U+10FFFF
    EXPECT_TRUE(Utf8ToWide("abc\x80").empty());
}

TEST(ManifestValidation, EveryManifestOfTheTableValidatesAsExpected) {
    for (const ValidationCase& c : ValidationCases()) {
        SCOPED_TRACE(c.name);
        ReleaseManifest manifest;
        ASSERT_EQ(ValidateReleaseManifest(c.text, manifest), c.ok);
        if (c.ok) {
            EXPECT_EQ(manifest.published, c.published);
            EXPECT_EQ(U16(manifest.publisher), U16(kExpectedPublisher));
            if (!c.version.empty()) {
                EXPECT_EQ(U16(manifest.version), c.version);
            }
        }
    }
}

// The predicates that the release tool also applies to its own command line, where, unlike in a manifest,
// a lone surrogate can occur.
TEST(ManifestValidation, AVersionIsShowableOnlyWithWholeSurrogatePairsOfShowableCharacters) {
    struct Case {
        const char* name;
        std::u16string version;
        bool showable;
    };
    const Case cases[] = {
        {"a pair for U+1F600", u"2 \xD83D\xDE00", true},
        {"a pair for the variation selector U+E0100", u"2\xDB40\xDD00", true},
        {"a pair for the tag U+E0001", u"2\xDB40\xDC01", false},
        {"a lone high surrogate at the end", u"2.3\xD83D", false},
        {"a lone high surrogate before a letter", u"\xD83D" u"a", false},
        {"a lone low surrogate", u"\xDE00" u"2", false},
        {"two high surrogates", u"\xD83D\xD83D\xDE00", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IsShowableVersion(WideString(c.version.begin(), c.version.end())), c.showable);
    }
}

TEST(ManifestValidation, TheExampleManifestYieldsEveryField) {
    ReleaseManifest manifest;
    ASSERT_TRUE(ValidateReleaseManifest(ValidManifest(), manifest));
    const std::u16string base = U16(kReleaseBaseUrl);
    EXPECT_TRUE(manifest.published);
    EXPECT_EQ(U16(manifest.version), u"2.3.1");
    EXPECT_EQ(U16(manifest.publisher), u"BRIMLOW AI LABS PRIVATE LIMITED");
    EXPECT_EQ(U16(manifest.x64.url), base + u"2.3.1/setup-x64.exe");
    EXPECT_EQ(U16(manifest.x64.sha256), u"0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef");
    EXPECT_EQ(manifest.x64.size, 52428800u);
    EXPECT_EQ(U16(manifest.x86.url), base + u"2.3.1/setup-x86.exe");
    EXPECT_EQ(U16(manifest.x86.sha256), u"FEDCBA9876543210FEDCBA9876543210FEDCBA9876543210FEDCBA9876543210");
    EXPECT_EQ(manifest.x86.size, 48234496u);
}

// Each field is written as soon as it is read, so a failure leaves the earlier fields filled and the
// later ones as the caller created them.
TEST(ManifestValidation, AFailingManifestLeavesTheFieldsFilledAsFarAsTheChecksGot) {
    struct Case {
        const char* name;
        std::string text;
        std::function<void(const ReleaseManifest&)> check;
    };
    const Case cases[] = {
        {"bad schema: nothing filled", Edit("\"schemaVersion\": 1", "\"schemaVersion\": 2"),
         [](const ReleaseManifest& m) {
             EXPECT_FALSE(m.published);
             EXPECT_TRUE(m.version.empty());
         }},
        {"bad version: published filled", Edit("\"2.3.1\"", "\"\""),
         [](const ReleaseManifest& m) {
             EXPECT_TRUE(m.published);
             EXPECT_TRUE(m.version.empty());
         }},
        {"version too long: the long version is kept", Edit("2.3.1\"", std::string(33, 'v') + "\""),
         [](const ReleaseManifest& m) {
             EXPECT_EQ(m.version.size(), 33u);
             EXPECT_TRUE(m.publisher.empty());
         }},
        {"publisher differs: the other publisher is kept", Edit("LIMITED\"", "LTD\""),
         [](const ReleaseManifest& m) {
             EXPECT_EQ(U16(m.publisher), u"BRIMLOW AI LABS PRIVATE LTD");
             EXPECT_TRUE(m.x64.url.empty());
         }},
        {"x86 missing: cut out before the x64 values are read", Edit("\"x86\"", "\"arm\""),
         [](const ReleaseManifest& m) {
             EXPECT_FALSE(m.publisher.empty());
             EXPECT_TRUE(m.x64.url.empty());
         }},
        {"bad x64 size: url and digest filled", Edit("52428800", "0"),
         [](const ReleaseManifest& m) {
             EXPECT_FALSE(m.x64.url.empty());
             EXPECT_EQ(m.x64.sha256.size(), 64u);
             EXPECT_EQ(m.x64.size, 0u);
             EXPECT_TRUE(m.x86.url.empty());
         }},
        {"bad x64 url: all three x64 values are read before checking", Edit(BaseUrl(), "https://elsewhere/"),
         [](const ReleaseManifest& m) {
             EXPECT_EQ(U16(m.x64.url).substr(0, 18), u"https://elsewhere/");
             EXPECT_EQ(m.x64.size, 52428800u);
             EXPECT_TRUE(m.x86.url.empty());
         }},
        {"bad x86 digest: x64 complete, x86 read", Edit("FEDCBA98", "FEDCBA9G"),
         [](const ReleaseManifest& m) {
             EXPECT_EQ(m.x64.size, 52428800u);
             EXPECT_EQ(m.x86.sha256.size(), 64u);
             EXPECT_EQ(m.x86.size, 48234496u);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReleaseManifest manifest;
        ASSERT_FALSE(ValidateReleaseManifest(c.text, manifest));
        c.check(manifest);
    }
}

}  // namespace
