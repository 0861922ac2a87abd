// quillo-release check: it passes exactly when the installer's validation passes, and on a failure it
// names the first rule that failed, in the order the validation checks them.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "common/build_config.h"
#include "common/win32_handles.h"
#include "manifest/manifest_cases.h"
#include "manifest/release_manifest.h"
#include "manifest_fault_text.h"
#include "release_host.h"
#include "release_tool_runner.h"
#include "transfer/sha256_digest.h"
#include "harness/test_support.h"

namespace {

using manifest_cases::BaseUrl;
using manifest_cases::Edit;
using manifest_cases::ValidManifest;
using release_test::RunTool;

std::string Utf8(const std::wstring& text) {
    std::string out(text.size() * 4, '\0');
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(),
                                      static_cast<int>(out.size()), nullptr, nullptr);
    out.resize(static_cast<std::size_t>(n));
    return out;
}

// The line the loopback build's tool prints first: its host is this machine, which users cannot reach.
std::string HostWarningLine() { return Utf8(UnpublishableHostWarning(kReleaseHost)) + "\r\n"; }

std::wstring ManifestFile(const std::string& text) {
    const std::wstring folder = test_support::MakeScratchFolder(L"release-check");
    const std::wstring path = folder + L"\\online-latest.json";
    test_support::WriteWholeFile(path, text);
    return path;
}

TEST(ReleaseCheck, PassesExactlyWhenTheInstallersValidationPassesOverTheManifestTable) {
    for (const manifest_cases::ValidationCase& c : manifest_cases::ValidationCases()) {
        SCOPED_TRACE(c.name);
        ReleaseManifest manifest;
        const bool valid = ValidateReleaseManifest(c.text, manifest);
        const release_test::ToolRun run = RunTool({L"check", ManifestFile(c.text)});
        EXPECT_EQ(run.exitCode, valid ? 0 : 1) << run.out << run.err;
        // Everything on standard output: a pass reports the manifest, a failure is one line; the verdict last.
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(release_test::LastLine(run.out), valid ? "manifest OK, packages not compared: check again with "
                                                           "--release-dir before uploading"
                                                         : "do not publish: the manifest FAILED")
            << run.out;
        if (!valid) {
            EXPECT_EQ(release_test::LinesWith(run.out, "FAILED: ").find("\r\n"),
                      release_test::LinesWith(run.out, "FAILED: ").size() - 2)
                << run.out;
        }
    }
}

// Mutants of the valid manifest and of the table's texts: deleted, inserted, replaced and duplicated
// bytes, chosen among those the scanner treats specially.
std::string Mutate(std::string text, std::mt19937& random) {
    static const std::string kInteresting = std::string("\"\\{}:, \t\n0123456789xtfaeg.-+\x80\xC3\xFF") + '\0';
    const int edits = 1 + static_cast<int>(random() % 3);
    for (int e = 0; e < edits && !text.empty(); ++e) {
        const std::size_t at = random() % text.size();
        switch (random() % 5) {
            case 0:
                text.erase(at, 1 + random() % 4);
                break;
            case 1:
                text.insert(at, 1, kInteresting[random() % kInteresting.size()]);
                break;
            case 2:
                text[at] = kInteresting[random() % kInteresting.size()];
                break;
            case 3: {
                const std::size_t from = random() % text.size();
                text.insert(at, text.substr(from, 1 + random() % 24));
                break;
            }
            default:
                text.resize(at);
                break;
        }
    }
    return text;
}

TEST(ReleaseCheck, AFaultIsNamedExactlyWhenValidationFailsOnEveryMutatedManifest) {
    std::vector<std::string> seeds{ValidManifest(), Edit("true", "false")};
    for (const auto& c : manifest_cases::ValidationCases()) {
        seeds.push_back(c.text);
    }
    std::mt19937 random(20261210);
    int passes = 0;
    for (int i = 0; i < 20000; ++i) {
        const std::string text = Mutate(seeds[random() % seeds.size()], random);
        ReleaseManifest plain;
        ReleaseManifest reported;
        ManifestFault fault;
        const bool valid = ValidateReleaseManifest(text, plain);
        // Asking for the fault does not change the verdict.
        ASSERT_EQ(ValidateReleaseManifest(text, reported, fault), valid) << text;
        if (valid) {
            ++passes;
            EXPECT_EQ(fault.rule, ManifestRule::None);
            continue;
        }
        ASSERT_NE(fault.rule, ManifestRule::None) << text;
        EXPECT_EQ(fault.rule == ManifestRule::Unreadable, fault.scan != ScanFault::None) << text;
        EXPECT_EQ(fault.key.empty(), fault.rule == ManifestRule::TooLarge) << text;
        const bool packageKey = fault.key == "url" || fault.key == "sha256" || fault.key == "size";
        EXPECT_EQ(packageKey, fault.object == "x64" || fault.object == "x86") << text;
        const WideString line = ManifestFaultText(fault, reported);
        ASSERT_FALSE(line.empty()) << text;
        EXPECT_EQ(line.back(), L'.');
        EXPECT_EQ(line.find(L"breaks a rule"), WideString::npos) << text;
    }
    // The mutants must reach both verdicts, or the comparison proves little.
    EXPECT_GT(passes, 500);
    EXPECT_LT(passes, 19500);
}

// text with the first occurrence of from replaced by to.
std::string Replace(std::string text, const std::string& from, const std::string& to) {
    return text.replace(text.find(from), from.size(), to);
}

struct RuleCase {
    const char* name;
    std::string text;
    std::wstring finding;
};

TEST(ReleaseCheck, NamesTheFirstRuleThatFails) {
    const std::string base = BaseUrl();
    const std::wstring wideBase(kReleaseBaseUrl);
    const std::string x64Url = base + "2.3.1/setup-x64.exe";
    const std::string digest = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
    const std::string httpUrl = "http" + x64Url.substr(5);
    std::string tabbedDigest = digest;
    tabbedDigest[0] = '\t';
    const std::string climbingUrl = base + "2.3.1/%2e%2E/setup-x64.exe";
    const std::string otherPathUrl = "https" + base.substr(5, base.size() - 5 - 9) + "beta/setup-x64.exe";
    const std::vector<RuleCase> cases = {
        {"too large", ValidManifest() + std::string(65537 - ValidManifest().size(), ' '),
         L"The manifest is larger than 65,536 bytes."},
        {"schemaVersion 2", Edit("\"schemaVersion\": 1", "\"schemaVersion\": 2"),
         L"\"schemaVersion\": must be 1, found 2."},
        {"schemaVersion missing", Edit("\"schemaVersion\": 1,", ""),
         L"\"schemaVersion\": not found, or nothing follows its colon."},
        {"schemaVersion quoted", Edit("\"schemaVersion\": 1", "\"schemaVersion\": \"1\""),
         L"\"schemaVersion\": is not an unsigned number (digits only, no sign or quotation marks)."},
        {"schemaVersion overflows", Edit("\"schemaVersion\": 1", "\"schemaVersion\": 18446744073709551617"),
         L"\"schemaVersion\": is larger than the largest 64-bit number."},
        {"published True", Edit("true", "True"), L"\"published\": must be true or false, without quotation marks."},
        {"published missing", Edit("\"published\": true,", ""),
         L"\"published\": not found, or nothing follows its colon."},
        {"version of 33", Edit("2.3.1\"", std::string(33, 'v') + "\""),
         L"\"version\": must be at most 32 characters, found 33."},
        {"version empty", Edit("\"2.3.1\"", "\"\""), L"\"version\": is empty."},
        {"version with a backslash", Edit("2.3.1\"", "2.3\\1\""),
         L"\"version\": holds a backslash; escapes are not supported."},
        {"version with a tab", Edit("2.3.1\"", "2.3\t1\""),
         L"\"version\": holds a control character such as a tab or a line break."},
        {"version not UTF-8", Edit("2.3.1\"", "2.3\xFF\""), L"\"version\": is not valid UTF-8."},
        {"version unquoted", Edit("\"2.3.1\"", "2.3.1"), L"\"version\": is not a text in quotation marks."},
        {"version cut off by the end of the text", ValidManifest().substr(0, ValidManifest().find("2.3.1") + 3),
         L"\"version\": has no closing quotation mark."},
        {"version with a right-to-left override", Edit("2.3.1\"", "2.3\xE2\x80\xAE" "1\""),
         L"\"version\": holds U+202E, a control, format or separator character that the installer will not show; "
         L"only letters, digits, marks, symbols, punctuation and the ordinary blank are allowed."},
        {"version with a tag character", Edit("2.3.1\"", "2.3.1\xF3\xA0\x81\x81\""),
         L"\"version\": holds U+E0041, a control, format or separator character that the installer will not show; "
         L"only letters, digits, marks, symbols, punctuation and the ordinary blank are allowed."},
        {"version too long and with a zero-width space: the length is checked first",
         Edit("2.3.1\"", std::string(31, 'v') + "\xE2\x80\x8B\xE2\x80\x8B\""),
         L"\"version\": must be at most 32 characters, found 33."},
        {"publisher in other case", Edit("BRIMLOW AI LABS PRIVATE LIMITED", "Brimlow AI Labs Private Limited"),
         L"\"publisher\": must be exactly \"BRIMLOW AI LABS PRIVATE LIMITED\", found \"Brimlow AI Labs Private "
         L"Limited\"."},
        {"x64 not an object", Edit("\"x64\": {", "\"x64\": [{"), L"\"x64\": is not an object in braces."},
        {"x86 missing", Edit("\"x86\"", "\"arm\""), L"\"x86\": not found, or nothing follows its colon."},
        {"x86 unbalanced", Edit("48234496\n  }\n}", "48234496\n"), L"\"x86\": is not closed: its braces do not balance."},
        {"x64 url over http", Edit(x64Url, httpUrl),
         L"\"x64\" \"url\": must start with the release base URL " + wideBase + L", found " +
             std::wstring(httpUrl.begin(), httpUrl.end()) + L"."},
        {"x64 url under another path", Edit(x64Url, otherPathUrl),
         L"\"x64\" \"url\": must start with the release base URL " + wideBase + L", found " +
             std::wstring(otherPathUrl.begin(), otherPathUrl.end()) + L"."},
        {"x64 url climbing out of the release folder", Edit(x64Url, climbingUrl),
         L"\"x64\" \"url\": must stay inside the release folder: no path segment made only of dots (such as "
         L"\"..\", also written with %2e) and no encoded slash or backslash (%2f, %5c), found " +
             std::wstring(climbingUrl.begin(), climbingUrl.end()) + L"."},
        {"x86 url with an encoded slash", Edit("2.3.1/setup-x86", "2.3.1%2Fsetup-x86"),
         L"\"x86\" \"url\": must stay inside the release folder: no path segment made only of dots (such as "
         L"\"..\", also written with %2e) and no encoded slash or backslash (%2f, %5c), found " + wideBase +
             L"2.3.1%2Fsetup-x86.exe."},
        {"x64 digest of 63", Edit(digest, digest.substr(1)),
         L"\"x64\" \"sha256\": must be 64 hexadecimal digits, found 63 characters."},
        {"x86 digest with a G", Edit("FEDCBA98", "FEDCBA9G"),
         L"\"x86\" \"sha256\": must hold only hexadecimal digits, character 8 is \"G\"."},
        {"x64 size 0", Edit("52428800", "0"), L"\"x64\" \"size\": must be from 1 to 629,145,600 bytes, found 0."},
        {"x86 size one past the cap", Edit("48234496", "629145601"),
         L"\"x86\" \"size\": must be from 1 to 629,145,600 bytes, found 629,145,601."},
        {"x64 size quoted", Edit("52428800", "\"52428800\""),
         L"\"x64\" \"size\": is not an unsigned number (digits only, no sign or quotation marks)."},
        // Order: the earlier check wins when two fail.
        {"schemaVersion before version",
         Replace(Edit("\"schemaVersion\": 1", "\"schemaVersion\": 2"), "2.3.1\"", std::string(33, 'v') + "\""),
         L"\"schemaVersion\": must be 1, found 2."},
        {"x86 is cut out before the x64 values are checked",
         Replace(Edit("\"x86\"", "\"arm\""), "52428800", "0"),
         L"\"x86\": not found, or nothing follows its colon."},
        {"all three package values are read before the url is checked",
         Replace(Edit(x64Url, httpUrl), digest, tabbedDigest),
         L"\"x64\" \"sha256\": holds a control character such as a tab or a line break."},
    };
    for (const RuleCase& c : cases) {
        SCOPED_TRACE(c.name);
        // The library's verdict on the same text, so the table cannot drift from the validation.
        ReleaseManifest manifest;
        ASSERT_FALSE(ValidateReleaseManifest(c.text, manifest));
        const std::wstring file = ManifestFile(c.text);
        const release_test::ToolRun run = RunTool({L"check", file});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, HostWarningLine() + "FAILED: " +
                               Utf8(file + L" is not a valid release manifest: " + c.finding) +
                               " Make the manifest again with make rather than editing it by hand.\r\n"
                               "do not publish: the manifest FAILED\r\n");
        EXPECT_EQ(run.err, "");
    }
}

TEST(ReleaseCheck, ReportsAValidManifestAndAnUnreadableFile) {
    const std::wstring file = ManifestFile(Edit("true", "false"));
    release_test::ToolRun run = RunTool({L"check", file});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("is a valid release manifest. Version 2.3.1, not published"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("x86: 48,234,496 bytes, SHA-256 FEDCBA98"), std::string::npos) << run.out;

    run = RunTool({L"check", file + L".missing"});
    EXPECT_EQ(run.exitCode, 1);
    // With the system's own number and what it means.
    EXPECT_EQ(run.out, HostWarningLine() + Utf8(L"FAILED: Could not read " + file + L".missing.") +
                           " (error 2: the file was not found)\r\ndo not publish: the manifest FAILED\r\n");
}

// What is wrong goes to standard error, the verdict to standard output like every other.
TEST(ReleaseCheck, CommandLineMistakesExitWithTwoAndSayWhereTheHelpIs) {
    struct Case {
        std::vector<std::wstring> arguments;
        const char* line;
        const char* help;  // the help the line points to
    };
    const std::vector<Case> cases = {
        {{}, "No command given.", "quillo-release --help"},
        {{L"publish"}, "Unknown command \"publish\".", "quillo-release --help"},
        {{L"check"}, "check takes exactly one manifest file and, optionally, --release-dir FOLDER.",
         "quillo-release check --help"},
        {{L"check", L"a.json", L"b.json"}, "check does not take \"b.json\" here.", "quillo-release check --help"},
        {{L"check", L"a.json", L"--release-dir"}, "--release-dir needs a value.", "quillo-release check --help"},
        {{L"check", L"a.json", L"--release-dir="}, "--release-dir needs a value.", "quillo-release check --help"},
        {{L"verify", L"https://a/", L"https://b/"}, "verify does not take \"https://b/\" here.",
         "quillo-release verify --help"},
        {{L"make", L"--version", L"1"}, "make needs --path.", "quillo-release make --help"},
        {{L"make", L"--version"}, "--version needs a value.", "quillo-release make --help"},
        {{L"make", L"--version", L"1", L"--version=2"}, "--version is given twice.", "quillo-release make --help"},
        {{L"make", L"--unpublished=yes"}, "--unpublished takes no value.", "quillo-release make --help"},
        {{L"make", L"--signed"}, "make does not know \"--signed\".", "quillo-release make --help"},
        {{L"check-websetup"}, "check-websetup takes the signed web setup and, optionally, --built FILE.",
         "quillo-release check-websetup --help"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const release_test::ToolRun run = RunTool(c.arguments);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.err, std::string(c.line) + " Run \"" + c.help + "\" for usage.\r\n");
        EXPECT_EQ(run.out, "nothing checked: the command line is wrong\r\n");
    }
    const release_test::ToolRun help = RunTool({L"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* usage : {"quillo-release make --version V", "quillo-release check FILE",
                              "quillo-release verify [URL]", "quillo-release check-websetup SIGNED_FILE"}) {
        EXPECT_NE(help.out.find(usage), std::string::npos) << usage;
    }
    // One command's help, wherever --help stands, and nothing else is done.
    for (const std::vector<std::wstring>& arguments :
         {std::vector<std::wstring>{L"check", L"--help"}, {L"check", L"missing.json", L"-h"}}) {
        const release_test::ToolRun one = RunTool(arguments);
        EXPECT_EQ(one.exitCode, 0);
        EXPECT_EQ(one.out.rfind("quillo-release check FILE [--release-dir FOLDER]\r\n", 0), 0u) << one.out;
        EXPECT_EQ(one.out.find("quillo-release make"), std::string::npos) << one.out;
        EXPECT_EQ(one.out.find("FAILED"), std::string::npos) << one.out;
    }
}

// --opt=value means the same as --opt value.
TEST(ReleaseCheck, AnOptionsValueMayFollowAnEqualsSign) {
    const std::wstring file = ManifestFile(ValidManifest());
    const std::wstring folder = test_support::MakeScratchFolder(L"release-check-empty");
    const release_test::ToolRun spaced = RunTool({L"check", file, L"--release-dir", folder});
    const release_test::ToolRun joined = RunTool({L"check", L"--release-dir=" + folder, file});
    EXPECT_EQ(spaced.exitCode, 1);
    EXPECT_EQ(joined.exitCode, 1);
    EXPECT_NE(joined.out.find("x64: FAILED: " + Utf8(folder)), std::string::npos) << joined.out;
    EXPECT_EQ(joined.out, spaced.out);
}

// The rule for a host users cannot reach, over the same table as cmake/ReleaseHost.cmake's test.
TEST(ReleaseCheck, AHostUsersCannotReachIsToldApartByTheConfiguringsOwnRule) {
    const char* table = std::getenv("RELEASE_HOSTS_TABLE");
    ASSERT_NE(table, nullptr);
    std::wstring path = L"Z:";
    for (const char* c = table; *c != 0; ++c) {
        path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    }
    const std::string text = test_support::ReadWholeFile(path);
    int rows = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end - at);
        at = end == std::string::npos ? text.size() : end + 1;
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const std::size_t bar = line.find('|');
        const std::string host = line.substr(0, bar);
        const std::string expected = line.substr(bar + 1);
        const std::wstring wideHost(host.begin(), host.end());
        EXPECT_EQ(Utf8(ReleaseHostProblem(wideHost)), expected == "ok" ? "" : expected) << host;
        ++rows;
    }
    EXPECT_GT(rows, 10);
}

TEST(ReleaseCheck, ABuildWithoutItsPublisherRefusesEveryCommand) {
    const std::wstring file = ManifestFile(ValidManifest());
    for (const std::vector<std::wstring>& arguments :
         {std::vector<std::wstring>{L"check", file}, {L"verify"}, {L"make", L"--version", L"1"}}) {
        const release_test::ToolRun run = RunTool(arguments, "RELEASE_TOOL_UNCONFIGURED_EXE");
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out,
                  "FAILED: This build has no publisher configured: set EXPECTED_PUBLISHER to the code-signing "
                  "certificate's name and build again.\r\ndo not publish: this build is unconfigured\r\n");
        EXPECT_EQ(run.err, "");
    }
    const release_test::ToolRun help = RunTool({L"--help"}, "RELEASE_TOOL_UNCONFIGURED_EXE");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("Expected publisher: PENDING_CERTUM_CERTIFICATE, the placeholder: this build is "
                            "unconfigured"),
              std::string::npos)
        << help.out;
}

// --version names the tool's version and commit, what the build compiled in and the web setup linked
// beside the tool, so that a build for the wrong host or publisher shows before anything is made or
// published.
TEST(ReleaseCheck, VersionNamesTheHostThePublisherAndTheWebSetupOfTheSameBuild) {
    const char* websetup = std::getenv("WEBSETUP_OF_RELEASE_TOOL");
    ASSERT_NE(websetup, nullptr);
    std::wstring path = L"Z:";
    for (const char* c = websetup; *c != 0; ++c) {
        path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    }
    const UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    WideString digest;
    std::uint64_t size = 0;
    ASSERT_TRUE(file && HashOpenFile(file.Get(), UINT64_MAX, digest, size));
    // The installer's hash gives the digest in the one form the tool prints: lower case.
    const std::string lower = Utf8(digest);

    // The commit and whether the tree had changes, as the build found them.
    const char* stateFile = std::getenv("SOURCE_STATE_FILE");
    ASSERT_NE(stateFile, nullptr);
    std::wstring statePath = L"Z:";
    for (const char* c = stateFile; *c != 0; ++c) {
        statePath += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    }
    const std::string state = test_support::ReadWholeFile(statePath);
    const std::string commit = state.substr(0, state.find(' '));
    const bool dirty = state.find(" dirty") != std::string::npos;
    ASSERT_FALSE(commit.empty());

    const release_test::ToolRun run = RunTool({L"--version"});
    EXPECT_EQ(run.exitCode, 0);
    const std::string arch = sizeof(void*) == 8 ? "x86_64" : "i686";
    EXPECT_EQ(run.out, "quillo-release 1.0.5, built from commit " + commit +
                           (dirty ? " with changes that are in no commit" : "") + "\r\n"
                           "Built for release host " + Utf8(kReleaseHost) + ": manifest " + Utf8(kManifestUrl) +
                           "\r\n" + HostWarningLine() + "Expected publisher: BRIMLOW AI LABS PRIVATE LIMITED\r\n"
                           "Web setup of the same build (" + arch + "): SHA-256 " + lower + "\r\n");
    EXPECT_NE(RunTool({L"--help"}).out.find("SHA-256 " + lower), std::string::npos);
}

}  // namespace
