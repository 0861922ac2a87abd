#include "manifest_cases.h"

#include <cstdio>
#include <stdexcept>

#include "common/build_config.h"
#include "utf8_encode.h"

namespace manifest_cases {

std::string BaseUrl() {
    std::string url;
    for (const WideChar* p = kReleaseBaseUrl; *p != 0; ++p) {
        url.push_back(static_cast<char>(*p));
    }
    return url;
}

std::string ValidManifest() {
    const std::string base = BaseUrl();
    return "{\n"
           "  \"schemaVersion\": 1,\n"
           "  \"published\": true,\n"
           "  \"version\": \"2.3.1\",\n"
           "  \"publisher\": \"BRIMLOW AI LABS PRIVATE LIMITED\",\n"
           "  \"x64\": {\n"
           "    \"url\": \"" + base + "2.3.1/setup-x64.exe\",\n"
           "    \"sha256\": \"0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef\",\n"
           "    \"size\": 52428800\n"
           "  },\n"
           "  \"x86\": {\n"
           "    \"url\": \"" + base + "2.3.1/setup-x86.exe\",\n"
           "    \"sha256\": \"FEDCBA9876543210FEDCBA9876543210FEDCBA9876543210FEDCBA9876543210\",\n"
           "    \"size\": 48234496\n"
           "  }\n"
           "}\n";
}

std::string Edit(const std::string& from, const std::string& to) {
    std::string text = ValidManifest();
    const std::size_t at = text.find(from);
    if (at == std::string::npos) {
        throw std::logic_error("edit does not apply: " + from);
    }
    return text.replace(at, from.size(), to);
}

namespace {

const std::string kDigest64 = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
const std::string kX64Url = "2.3.1/setup-x64.exe";

std::string Repeat(const std::string& unit, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) {
        out += unit;
    }
    return out;
}

std::string Padded(std::size_t total) {
    std::string text = ValidManifest();
    text.append(total - text.size(), ' ');
    return text;
}

// Replaces the x64 digest with the given one.
std::string Digest(const std::string& digest) { return Edit(kDigest64, digest); }

// Replaces the x64 url after the base URL is taken off.
std::string X64Url(const std::string& url) { return Edit(BaseUrl() + kX64Url, url); }

// Replaces the version.
std::string Version(const std::string& version) { return Edit("2.3.1\"", version + "\""); }

std::string Utf8Of(char32_t codePoint) {
    std::string text;
    AppendUtf8(codePoint, text);
    return text;
}

std::string CodePointName(char32_t codePoint) {
    char name[16];
    std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(codePoint));
    return name;
}

// Controls, format characters and separators that could hide or reorder the version's text, at the ends
// of each refused range and the ones named most often (U+202E, U+200B, U+FEFF), some as surrogate pairs.
constexpr char32_t kUnshowable[] = {
    0x01,    0x1F,    0x7F,    0x80,    0x85,    0x9F,    0xA0,    0xAD,    0x600,   0x605,   0x61C,
    0x6DD,   0x70F,   0x890,   0x8E2,   0x1680,  0x180E,  0x2000,  0x200A,  0x200B,  0x200D,  0x200E,
    0x200F,  0x2028,  0x2029,  0x202A,  0x202E,  0x202F,  0x205F,  0x2060,  0x2064,  0x2066,  0x2069,
    0x206A,  0x206F,  0x3000,  0xFEFF,  0xFFF9,  0xFFFB,  0x110BD, 0x13430, 0x1BCA3, 0x1D173, 0x1D17A,
    0xE0001, 0xE0020, 0xE007F,
};

// Their neighbours, which are letters, marks, symbols or punctuation and show as themselves.
constexpr char32_t kShowableNeighbours[] = {
    0x7E,   0xA1,   0xAC,   0xAE,   0x606,  0x61B,  0x6DE,  0x710,  0x167F, 0x1681, 0x1810,
    0x2010, 0x2027, 0x2030, 0x205E, 0x2070, 0x3001, 0xFF01, 0xFFFC, 0x1D172, 0x1D17B, 0xE0100,
};

}  // namespace

std::vector<ScanCase> ScanCases() {
    using namespace std::string_literals;
    return {
        // Finding a value.
        {"first occurrence wins", Op::Unsigned, R"({"a": 1, "a": 2})", "a", true, 1},
        {"nesting is ignored: a nested key earlier in the text is read", Op::Unsigned,
         R"({"inner": {"size": 5}, "size": 9})", "size", true, 5},
        {"needle includes the quotes: size is not found in filesize", Op::Unsigned, R"({"filesize": 5})", "size",
         false},
        {"needle includes the quotes: url is not found in baseurl", Op::String, R"({"baseurl": "x"})", "url", false},
        {"a quoted word as value reads the value after the next colon", Op::String,
         R"({"name": "x64", "other": "later"})", "x64", true, 0, "", u"later"},
        {"bytes between key and colon are skipped unexamined", Op::Unsigned, R"({"k" , "junk" } { : 42})", "k",
         true, 42},
        {"no colon after the key", Op::Find, R"({"k" 1})", "k", false},
        {"text ends right after the needle", Op::Find, R"("k")", "k", false},
        {"only whitespace after the colon", Op::Find, "{\"k\": \t\r\n\v\f ", "k", false},
        {"needle longer than the text", Op::Find, "\"k", "key", false},
        {"all six whitespace bytes are skipped", Op::Find, "\"k\":\t\n\v\f\r 7", "k", true, 10},
        {"0xA0 is not whitespace and starts the value", Op::Find, "\"k\": \xA0" "7", "k", true, 5},
        {"a zero byte is not whitespace", Op::Find, "\"k\":\0" "7"s, "k", true, 4},
        {"a zero byte before the key is an ordinary byte", Op::Unsigned, "\0{\"k\": 3}"s, "k", true, 3},
        {"0xA0 before a number fails the read", Op::Unsigned, "\"k\": \xA0" "7", "k", false},
        {"keys are case-sensitive", Op::Find, R"({"Size": 1})", "size", false},
        // Objects.
        {"object text is cut out with both braces and nested objects", Op::Object,
         "{\"o\" :\n { \"a\": {\"b\": 1}\n } , \"z\": 2}", "o", true, 0, "{ \"a\": {\"b\": 1}\n }"},
        {"unbalanced braces: object not found", Op::Object, R"({"o": {"a": {"b": 1})", "o", false},
        {"a right brace inside a string does not count", Op::Object, R"({"o": {"u": "a}b"}, "z": 1})", "o", true, 0,
         R"({"u": "a}b"})"},
        {"a left brace inside a string does not count", Op::Object, R"({"o": {"u": "{"}})", "o", true, 0,
         R"({"u": "{"})"},
        {"an escaped quote does not end the string", Op::Object, R"({"o": {"u": "a\"}"}})", "o", true, 0,
         R"({"u": "a\"}"})"},
        {"a backslash as the last byte inside a string", Op::Object, "{\"o\": {\"u\": \"\\", "o", false},
        {"a backslash outside a string has no effect", Op::Object, R"({"o": {\}})", "o", true, 0, R"({\})"},
        {"square brackets are not tracked", Op::Object, R"({"o": {"a": [}]}})", "o", true, 0, R"({"a": [})"},
        {"a value that is not an object", Op::Object, R"({"o": [1]})", "o", false},
        // Strings.
        {"plain string", Op::String, R"({"v": "2.3.1"})", "v", true, 0, "", u"2.3.1"},
        {"non-ASCII UTF-8 converts", Op::String, "{\"v\": \"caf\xC3\xA9 \xE2\x9C\x93 \xF0\x9F\x98\x80\"}", "v", true,
         0, "", u"caf\u00e9 \u2713 \U0001F600"},
        {"0x7F is copied", Op::String, "{\"v\": \"a\x7F\"}", "v", true, 0, "", u"a\u007f"},
        {"an escaped quote fails", Op::String, R"({"v": "a\"b"})", "v", false},
        {"any backslash escape fails", Op::String, R"({"v": "a\nb"})", "v", false},
        {"a tab fails", Op::String, "{\"v\": \"a\tb\"}", "v", false},
        {"a raw line break fails", Op::String, "{\"v\": \"a\nb\"}", "v", false},
        {"a zero byte fails", Op::String, "{\"v\": \"a\0b\"}"s, "v", false},
        {"a lone 0xFF fails", Op::String, "{\"v\": \"a\xFF\"}", "v", false},
        {"a sequence cut short by the closing quote fails", Op::String, "{\"v\": \"a\xC3\"}", "v", false},
        {"an overlong form fails", Op::String, "{\"v\": \"\xC0\xAF\"}", "v", false},
        {"an encoded surrogate fails", Op::String, "{\"v\": \"\xED\xA0\x80\"}", "v", false},
        {"an empty string fails", Op::String, R"({"v": ""})", "v", false},
        {"an unclosed string fails", Op::String, R"({"v": "abc)", "v", false},
        {"an unquoted value fails", Op::String, R"({"v": abc})", "v", false},
        // Numbers.
        {"leading zeros are accepted", Op::Unsigned, R"({"n": 007})", "n", true, 7},
        {"a fraction is not read", Op::Unsigned, R"({"n": 12.5})", "n", true, 12},
        {"an exponent is not read", Op::Unsigned, R"({"n": 1e9})", "n", true, 1},
        {"a number may end the text", Op::Unsigned, R"("n":42)", "n", true, 42},
        {"the largest 64-bit value reads", Op::Unsigned, R"({"n": 18446744073709551615})", "n", true,
         18446744073709551615ull},
        {"one more than the largest 64-bit value fails", Op::Unsigned, R"({"n": 18446744073709551616})", "n", false},
        {"ten times the largest value fails", Op::Unsigned, R"({"n": 184467440737095516150})", "n", false},
        {"many leading zeros before the largest value", Op::Unsigned,
         R"({"n": 000000000000000000000000018446744073709551615})", "n", true, 18446744073709551615ull},
        {"a minus sign fails", Op::Unsigned, R"({"n": -1})", "n", false},
        {"a plus sign fails", Op::Unsigned, R"({"n": +1})", "n", false},
        {"a quoted number fails", Op::Unsigned, R"({"n": "1"})", "n", false},
        {"a leading decimal point fails", Op::Unsigned, R"({"n": .5})", "n", false},
        {"a non-ASCII digit-like byte fails", Op::Unsigned, "{\"n\": \xD9\xA1}", "n", false},
        // Literals.
        {"true followed by more letters still matches", Op::Literal, "\"p\": trueish", "true", true, 5},
        {"a text ending after tru does not match", Op::Literal, "\"p\": tru", "true", false, 5},
        {"literals are case-sensitive", Op::Literal, "\"p\": True", "true", false, 5},
    };
}

std::vector<ValidationCase> ValidationCases() {
    const std::string base = BaseUrl();
    const std::string host = base.substr(8, base.size() - 8 - std::string("/download/releases/").size());
    std::string upperHost = host;
    for (char& c : upperHost) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    const std::string emoji = "\xF0\x9F\x98\x80";  // U+1F600: two UTF-16 code units
    std::vector<ValidationCase> cases = {
        {"the example manifest passes", ValidManifest(), true, true, u"2.3.1"},
        {"published false passes with published false", Edit("true", "false"), true, false},
        {"a literal followed by more letters is read as that literal", Edit("true", "trueish"), true},
        {"65536 bytes are examined", Padded(65536), true},
        {"65537 bytes fail", Padded(65537), false},
        {"a byte order mark and text around the members do no harm", "\xEF\xBB\xBF" "junk " + ValidManifest() + " tail",
         true},
        // Format version.
        {"schemaVersion 01 reads 1", Edit("\"schemaVersion\": 1", "\"schemaVersion\": 01"), true},
        {"schemaVersion 1.5 reads 1", Edit("\"schemaVersion\": 1", "\"schemaVersion\": 1.5"), true},
        {"schemaVersion 2 fails", Edit("\"schemaVersion\": 1", "\"schemaVersion\": 2"), false},
        {"schemaVersion 0 fails", Edit("\"schemaVersion\": 1", "\"schemaVersion\": 0"), false},
        {"schemaVersion with a sign fails", Edit("\"schemaVersion\": 1", "\"schemaVersion\": +1"), false},
        {"schemaVersion quoted fails", Edit("\"schemaVersion\": 1", "\"schemaVersion\": \"1\""), false},
        {"schemaVersion missing fails", Edit("\"schemaVersion\": 1,", ""), false},
        {"schemaVersion of 2^64 + 1 fails", Edit("\"schemaVersion\": 1", "\"schemaVersion\": 18446744073709551617"),
         false},
        // Published flag.
        {"published True fails", Edit("true", "True"), false},
        {"published TRUE fails", Edit("true", "TRUE"), false},
        {"published quoted fails", Edit("true", "\"true\""), false},
        {"published 1 fails", Edit("true", "1"), false},
        {"published missing fails", Edit("\"published\": true,", ""), false},
        // Version.
        {"a version of 32 code units passes", Edit("2.3.1\"", std::string(32, 'v') + "\""), true},
        {"a version of 33 code units fails", Edit("2.3.1\"", std::string(33, 'v') + "\""), false},
        {"32 two-byte characters are 32 code units and pass", Edit("2.3.1\"", Repeat("\xC3\xA9", 32) + "\""), true},
        {"16 characters above U+FFFF are 32 code units and pass", Edit("2.3.1\"", Repeat(emoji, 16) + "\""), true},
        {"16 characters above U+FFFF and one more fail", Edit("2.3.1\"", Repeat(emoji, 16) + "a\""), false},
        {"letters, blanks and punctuation in a version pass", Edit("2.3.1\"", "2.3.1 beta (build #7)!\""), true},
        {"an empty version fails", Edit("\"2.3.1\"", "\"\""), false},
        {"a version with a backslash fails", Edit("2.3.1\"", "2.3\\1\""), false},
        {"a version with a tab fails", Edit("2.3.1\"", "2.3\t1\""), false},
        {"a version with a lone 0xFF fails", Edit("2.3.1\"", "2.3\xFF\""), false},
        {"a version whose last sequence is cut short by the quote fails", Edit("2.3.1\"", "2.3\xE2\x9C\""), false},
        {"a version in an earlier nested object is the one read",
         Edit("\"schemaVersion\": 1,", "\"schemaVersion\": 1, \"meta\": {\"version\": \"9\"},"), true, true, u"9"},
        // Publisher.
        {"a publisher in other letter case fails", Edit("BRIMLOW AI LABS PRIVATE LIMITED", "Brimlow AI Labs Private Limited"),
         false},
        {"a publisher with a trailing blank fails", Edit("PRIVATE LIMITED\"", "PRIVATE LIMITED \""), false},
        {"a publisher missing fails", Edit("\"publisher\"", "\"vendor\""), false},
        // Package objects.
        {"x86 missing fails whatever the architecture", Edit("\"x86\"", "\"arm\""), false},
        {"x86 unbalanced fails", Edit("48234496\n  }\n}", "48234496\n"), false},
        {"x86 with a bad digest fails", Edit("FEDCBA98", "FEDCBA9G"), false},
        {"the quoted word x64 as an earlier value makes the x64 lookup fail",
         Edit("\"version\": \"2.3.1\"", "\"version\": \"x64\""), false},
        {"a size outside the package object is not seen",
         Edit("    \"size\": 52428800\n", "    \"length\": 52428800\n") + "\"size\": 5\n", false},
        // Url.
        {"a url continuing the base with a query and fragment passes", X64Url(base + "a/b.exe?x=1#f"), true},
        {"a url equal to the base passes", X64Url(base), true},
        {"a url shorter than the base fails", X64Url(base.substr(0, base.size() - 1)), false},
        {"HTTPS in capitals fails", X64Url(std::string("HTTPS") + base.substr(5) + kX64Url), false},
        {"http fails", X64Url(std::string("http") + base.substr(5) + kX64Url), false},
        {"the host in other letter case fails", X64Url("https://" + upperHost + "/download/releases/" + kX64Url),
         upperHost == host},
        {"another path of the same host fails", X64Url("https://" + host + "/download/beta/" + kX64Url), false},
        {"a url with a backslash fails", X64Url(base + "2.3.1\\setup.exe"), false},
        // Digest.
        {"a digest of 64 upper-case digits passes", Digest("0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF"),
         true},
        {"a digest of 64 mixed-case digits passes", Digest("0123456789aBcDeF0123456789AbCdEf0123456789abcdef0123456789ABCDEF"),
         true},
        {"a digest of 63 digits fails", Digest(kDigest64.substr(1)), false},
        {"a digest of 65 digits fails", Digest(kDigest64 + "0"), false},
        {"a digest holding a blank fails", Digest(kDigest64.substr(1) + " "), false},
        {"a digest holding the letter g fails", Digest(std::string("g") + kDigest64.substr(1)), false},
        {"a digest holding a fullwidth digit fails", Digest(std::string("\xEF\xBC\x90") + kDigest64.substr(1)), false},
        {"a digest holding a superscript two fails", Digest(std::string("\xC2\xB2") + kDigest64.substr(1)), false},
        // Size.
        {"size 0 fails", Edit("52428800", "0"), false},
        {"size 629145600 passes", Edit("52428800", "629145600"), true},
        {"size 629145601 fails", Edit("52428800", "629145601"), false},
        {"a size above the 32-bit range fails", Edit("52428800", "4294967297"), false},
        {"a size of 2^64 fails", Edit("52428800", "18446744073709551616"), false},
        {"a quoted size fails", Edit("52428800", "\"52428800\""), false},
        // Version characters the installer would show as something else, or not at all.
        {"a version with words, blanks, dashes and brackets passes", Version("2.3.1-rc.1 (build 7)"), true, true,
         u"2.3.1-rc.1 (build 7)"},
        {"a version in another script passes", Version("\xE7\x89\x88\xE6\x9C\xAC 2"), true, true, u"\u7248\u672c 2"},
        {"a version with a character above U+FFFF passes", Version("2.3.1 " + emoji), true},
        {"a right-to-left override as a 32nd code unit fails", Version(std::string(31, 'v') + Utf8Of(0x202E)),
         false},
        {"a version made only of a zero-width space fails", Version(Utf8Of(0x200B)), false},
        // Package url paths that would leave the release folder.
        {"a url with dots inside a name passes", X64Url(base + "2.3.1/a..b.exe"), true},
        {"a url with a name that starts with a dot passes", X64Url(base + ".hidden/setup.exe"), true},
        {"a url with a name that starts with two dots passes", X64Url(base + "2.3.1/..setup.exe"), true},
        {"a url with dot segments in its query and fragment passes", X64Url(base + "x.exe?p=../..#./.."), true},
        {"a url with %2e inside a name passes", X64Url(base + "2.3.1/setup%2eexe"), true},
        {"a url with another percent-encoding passes", X64Url(base + "2.3.1/setup%20x64.exe"), true},
        {"a url with an empty path segment passes", X64Url(base + "2.3.1//setup-x64.exe"), true},
        {"a url whose remainder is a lone percent sign passes", X64Url(base + "x%2"), true},
    };
    for (const char* path :
         {"2.3.1/./x", "2.3.1/../x", "../x", "./x", "x/..", "x/.", "..", ".", "...", "x/.../y", "%2e%2E/x",
          ".%2e/x", "%2E./x", "%2e/x", "x/%2E%2e", "2.3.1/%2e%2e?q", "2.3.1/..#f", "2.3.1%2fsetup.exe",
          "2.3.1%2Fsetup.exe", "2.3.1%5csetup.exe", "2.3.1%5Csetup.exe", "x.exe?from=%2F", "x.exe#%5c",
          "%2e%2e%2fx"}) {
        cases.push_back({std::string("a url ending in ") + path + " fails", X64Url(base + path), false});
    }
    for (const char32_t codePoint : kUnshowable) {
        cases.push_back({"a version holding " + CodePointName(codePoint) + " fails",
                         Version("2.3" + Utf8Of(codePoint) + "1"), false});
    }
    for (const char32_t codePoint : kShowableNeighbours) {
        cases.push_back({"a version holding " + CodePointName(codePoint) + " passes",
                         Version("2.3" + Utf8Of(codePoint) + "1"), true});
    }
    return cases;
}

}  // namespace manifest_cases
