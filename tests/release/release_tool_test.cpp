// quillo-release make and verify over real signed packages on the loopback HTTPS server: a good release
// end to end, the packages make refuses, and what verify catches on the server after make.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/build_config.h"
#include "manifest/release_manifest.h"
#include "release_tool_runner.h"
#include "harness/test_support.h"

namespace {

using release_test::HostHarnessPath;
using release_test::LastLine;
using release_test::LinesWith;
using release_test::RunTool;
using release_test::ToolRun;

constexpr char kReleasePath[] = "release-tool/9.8.7";
constexpr char kManifestRoute[] = "/download/releases/online-latest.json";
constexpr char kStagedRoute[] = "/download/releases/release-tool/staged.json";

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::string BaseUrl() { return Narrow(kReleaseBaseUrl); }

std::wstring PackageFile(const std::string& name) { return test_support::HarnessPath("release/files/" + name); }

std::string Sha256Of(const std::string& name) {
    std::string digest = test_support::ReadWholeFile(PackageFile(name + ".sha256"));
    return digest.substr(0, 64);
}

std::size_t SizeOf(const std::string& name) { return test_support::ReadWholeFile(PackageFile(name)).size(); }

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The text with the first occurrence of from replaced.
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    text.replace(text.find(from), from.size(), to);
    return text;
}

// The verdict of a command whose packages all passed, from the loopback build's tool: its host is this
// machine, which users cannot reach.
std::string LoopbackOkVerdict() {
    return "2 of 2 packages OK, but do not publish: this tool was built for RELEASE_HOST " + Narrow(kReleaseHost) +
           ", which users cannot reach";
}

// 1234567 as "1,234,567", as the tool writes sizes.
std::string Grouped(std::size_t value) {
    std::string digits = std::to_string(value);
    for (std::size_t at = digits.size(); at > 3; at -= 3) {
        digits.insert(at - 3, 1, ',');
    }
    return digits;
}

class ReleaseTool : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = test_support::MakeScratchFolder(L"release-tool");
        out_ = folder_ + L"\\online-latest.json";
    }
    // The fixed manifest route is shared with other tests: leave nothing of ours behind.
    void TearDown() override { test_support::WriteRoutes("release_tool", "{}"); }

    std::vector<std::wstring> MakeArguments(const std::wstring& x64, const std::wstring& x86) const {
        return {L"make", L"--version", L"9.8.7", L"--path", L"release-tool/9.8.7", L"--x64", x64, L"--x86", x86,
                L"--out", out_};
    }

    // Serves the manifest at the fixed route and at the staged route, and packages under the release path
    // by name, each from a file on the host.
    static void Serve(const std::string& manifestHostPath,
                      const std::vector<std::pair<std::string, std::string>>& packages) {
        std::string routes = "{\"" + std::string(kManifestRoute) + "\": {\"body_file\": \"" + manifestHostPath +
                             "\"}, \"" + kStagedRoute + "\": {\"body_file\": \"" + manifestHostPath + "\"}";
        for (const auto& [name, file] : packages) {
            routes += ", \"/download/releases/" + std::string(kReleasePath) + "/" + name + "\": {\"body_file\": \"" +
                      HostHarnessPath("release/files/" + file) + "\"}";
        }
        test_support::WriteRoutes("release_tool", routes + "}");
    }

    static std::string ManifestHostPath() { return HostHarnessPath("scratch/release-tool/online-latest.json"); }

    std::wstring folder_;
    std::wstring out_;
};

TEST_F(ReleaseTool, AGoodReleaseIsMadeCheckedAndVerified) {
    // Every option in its --option=value form.
    ToolRun run = RunTool({L"make", L"--version=9.8.7", L"--path=release-tool/9.8.7",
                           L"--x64=" + PackageFile("setup-x64.exe"), L"--x86=" + PackageFile("setup-x86.exe"),
                           L"--out=" + out_});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(Contains(run.out, "x64: OK: setup-x64.exe: " + Grouped(SizeOf("setup-x64.exe")) + " bytes, SHA-256 " +
                                      Sha256Of("setup-x64.exe") + ", signed by BRIMLOW AI LABS PRIVATE LIMITED.\r\n"))
        << run.out;
    EXPECT_EQ(LastLine(run.out), LoopbackOkVerdict());

    // The worked layout, with sizes and digests as the host computes them.
    const std::string base = BaseUrl() + kReleasePath + "/";
    const std::string expected =
        "{\n"
        "  \"schemaVersion\": 1,\n"
        "  \"published\": true,\n"
        "  \"version\": \"9.8.7\",\n"
        "  \"publisher\": \"BRIMLOW AI LABS PRIVATE LIMITED\",\n"
        "  \"x64\": {\n"
        "    \"url\": \"" + base + "setup-x64.exe\",\n"
        "    \"sha256\": \"" + Sha256Of("setup-x64.exe") + "\",\n"
        "    \"size\": " + std::to_string(SizeOf("setup-x64.exe")) + "\n"
        "  },\n"
        "  \"x86\": {\n"
        "    \"url\": \"" + base + "setup-x86.exe\",\n"
        "    \"sha256\": \"" + Sha256Of("setup-x86.exe") + "\",\n"
        "    \"size\": " + std::to_string(SizeOf("setup-x86.exe")) + "\n"
        "  }\n"
        "}\n";
    EXPECT_EQ(test_support::ReadWholeFile(out_), expected);
    EXPECT_EQ(test_support::CountEntries(folder_), 1) << "only the manifest, no partial file";

    run = RunTool({L"check", out_});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "is a valid release manifest. Version 9.8.7, published")) << run.out;

    Serve(ManifestHostPath(), {{"setup-x64.exe", "setup-x64.exe"}, {"setup-x86.exe", "setup-x86.exe"}});
    const int leftovers = release_test::CountVerifyLeftovers();
    run = RunTool({L"verify"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(LastLine(run.out), "2 of 2 packages OK: the release is live");
    EXPECT_TRUE(Contains(run.out, "Manifest " + Narrow(kManifestUrl) + " is valid. Version 9.8.7, published"))
        << run.out;
    EXPECT_TRUE(Contains(run.out, "x64: OK: ")) << run.out;
    EXPECT_TRUE(Contains(run.out, "x86: OK: ")) << run.out;
    EXPECT_TRUE(Contains(run.out, "SHA-256 matches, signed by BRIMLOW AI LABS PRIVATE LIMITED, from " + base +
                                      "setup-x86.exe"))
        << run.out;
    EXPECT_EQ(release_test::CountVerifyLeftovers(), leftovers) << "verify leaves no download behind";

    // A manifest staged under another https URL before it goes live.
    run = RunTool({L"verify", L"https://localhost:" + std::to_wstring(test_support::TestPort()) +
                                  L"/download/releases/release-tool/staged.json"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(release_test::CountVerifyLeftovers(), leftovers);
}

TEST_F(ReleaseTool, AnUnpublishedReleaseIsWrittenWithPublishedFalse) {
    std::vector<std::wstring> arguments = MakeArguments(PackageFile("setup-x64.exe"), PackageFile("setup-x86.exe"));
    arguments.push_back(L"--unpublished");
    const ToolRun run = RunTool(arguments);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ReleaseManifest manifest;
    ASSERT_TRUE(ValidateReleaseManifest(test_support::ReadWholeFile(out_), manifest));
    EXPECT_FALSE(manifest.published);
    EXPECT_TRUE(Contains(run.out, "not published")) << run.out;
}

constexpr char kVersionRefusal[] =
    "FAILED: --version cannot hold a quotation mark, a backslash, a control, format or separator character (such as a tab, "
    "a right-to-left override or a zero-width space; the blank is fine) or broken Unicode.";

// What a signer's name in other letter case is told to do.
constexpr char kCaseAdvice[] =
    "The names differ only in letter case, and the installer compares them exactly: sign it with a certificate "
    "issued to exactly \"BRIMLOW AI LABS PRIVATE LIMITED\", or, if \"Brimlow AI Labs Private Limited\" is your "
    "certificate's name, build with -DEXPECTED_PUBLISHER=\"Brimlow AI Labs Private Limited\" and make the release "
    "again with that build.";

constexpr char kNothingWritten[] = "do not publish: no manifest written";
constexpr char kOnePackageFailed[] = "do not publish: 1 package FAILED, no manifest written";

struct Refusal {
    const char* name;
    std::vector<std::wstring> arguments;
    std::string line;     // what the failure line holds
    std::string verdict;  // the last line
};

TEST_F(ReleaseTool, MakeRefusesWhatTheInstallerWouldRefuseAndLeavesNoFile) {
    const std::wstring x64 = PackageFile("setup-x64.exe");
    const std::wstring x86 = PackageFile("setup-x86.exe");
    // An empty package and a second package with the first one's name, in folders of their own.
    const std::wstring empty = test_support::MakeScratchFolder(L"release-tool-empty") + L"\\setup-x64.exe";
    test_support::WriteWholeFile(empty, "");
    const std::wstring sameName = test_support::MakeScratchFolder(L"release-tool-same") + L"\\setup-x64.exe";
    test_support::WriteWholeFile(sameName, test_support::ReadWholeFile(x86));
    const std::wstring spaced = test_support::MakeScratchFolder(L"release-tool-spaced") + L"\\setup x64.exe";
    test_support::WriteWholeFile(spaced, test_support::ReadWholeFile(x64));
    const std::wstring text = test_support::MakeScratchFolder(L"release-tool-text") + L"\\notes.exe";
    test_support::WriteWholeFile(text, "Release notes: not a program.");

    auto with = [&](std::vector<std::wstring> arguments, std::size_t at, const std::wstring& value) {
        arguments[at] = value;
        return arguments;
    };
    auto plus = [&](std::vector<std::wstring> arguments, const std::wstring& extra) {
        arguments.push_back(extra);
        return arguments;
    };
    const std::vector<std::wstring> good = MakeArguments(x64, x86);
    const std::string publisher = "\"BRIMLOW AI LABS PRIVATE LIMITED\"";
    const std::vector<Refusal> cases = {
        {"an unsigned package", with(good, 6, PackageFile("unsigned.exe")),
         "x64: FAILED: unsigned.exe does not have a valid, trusted Authenticode signature. (WinVerifyTrust "
         "0x800B0100: the file has no signature: sign it with the code-signing certificate)",
         kOnePackageFailed},
        // A root the machine does not trust: the number, what it means, and where to trust a private root.
        {"a package under a root only the user trusts", with(good, 6, PackageFile("user-root.exe")),
         "x64: FAILED: user-root.exe does not have a valid, trusted Authenticode signature. (WinVerifyTrust "
         "0x800B0109: the certificate chain ends in a root this machine does not trust: for a private or test root, "
         "trust it in this Wine prefix with tools/trust-root.sh ROOT.pem (docs/releasing.md, section 2), or on "
         "Windows in the machine's Trusted Root Certification Authorities)",
         kOnePackageFailed},
        {"a package from another signer", with(good, 8, PackageFile("other-signer.exe")),
         "x86: FAILED: other-signer.exe is signed by \"OTHER PUBLISHER\", not by " + publisher +
             ". Sign it with the certificate issued to " + publisher + ".",
         kOnePackageFailed},
        {"a version the validation refuses", with(good, 2, std::wstring(33, L'v')),
         "FAILED: the manifest would not pass the installer's validation: \"version\": must be at most 32 "
         "characters, found 33.",
         kNothingWritten},
        {"an empty package, signature check skipped", plus(with(good, 6, empty), L"--skip-signature-check"),
         "FAILED: the manifest would not pass the installer's validation: \"x64\" \"size\": must be from 1 to "
         "629,145,600 bytes, found 0.",
         kNothingWritten},
        {"a version that would end the JSON text early", with(good, 2, L"9.8\"7"), kVersionRefusal, kNothingWritten},
        {"a version with a right-to-left override", with(good, 2, L"9.8\u202E7"), kVersionRefusal, kNothingWritten},
        {"a version with a byte-order mark", with(good, 2, L"\uFEFF9.8.7"), kVersionRefusal, kNothingWritten},
        {"a version with a lone surrogate", with(good, 2, L"9.8.7\xD800"), kVersionRefusal, kNothingWritten},
        {"a release path that climbs out of the release folder", with(good, 4, L"9.8.7/../../other"),
         "FAILED: --path must be one or more folder names made of letters, digits, \".\", \"-\", \"_\" and \"~\", "
         "none of them only dots, separated by \"/\" (for example 2.3.1).",
         kNothingWritten},
        {"a release path with a folder of three dots", with(good, 4, L"9.8.7/..."),
         "FAILED: --path must be one or more folder names", kNothingWritten},
        {"a release path with a query", with(good, 4, L"9.8.7?x=1"), "FAILED: --path must be one or more folder names",
         kNothingWritten},
        {"a release path with an empty folder name", with(good, 4, L"9.8.7//x"),
         "FAILED: --path must be one or more folder names", kNothingWritten},
        {"a release path ending in a slash", with(good, 4, L"9.8.7/"), "FAILED: --path must be one or more folder names",
         kNothingWritten},
        {"a file name that needs escaping in a URL", with(good, 6, spaced),
         "x64: FAILED: the file name \"setup x64.exe\" can hold only letters, digits", kOnePackageFailed},
        {"two different packages under one name", with(good, 8, sameName),
         "FAILED: the x64 and x86 packages are different files with the same name \"setup-x64.exe\", so they would "
         "share one download URL: rename one of them.",
         kNothingWritten},
        {"a missing package", with(good, 8, PackageFile("missing.exe")),
         "x86: FAILED: " + Narrow(PackageFile("missing.exe")) +
             " cannot be opened for reading. (error 2: the file was not found)",
         kOnePackageFailed},
        // An x86 package must start on 32-bit Windows; the x64 one is not held to that.
        {"an x64 program as the x86 package", with(good, 8, PackageFile("x64-machine.exe")),
         "x86: FAILED: x64-machine.exe is built for x64 (machine type 0x8664), not for 32-bit x86, so it could never "
         "start on 32-bit Windows. The x86 package must be the 32-bit x86 build of the setup program.",
         kOnePackageFailed},
        {"a DLL as the x86 package", with(good, 8, PackageFile("library.dll")),
         "x86: FAILED: library.dll is a DLL, not a program, so it could never start as a setup program on 32-bit "
         "Windows.",
         kOnePackageFailed},
        {"a text file as the x86 package, signature check skipped",
         plus(with(good, 8, text), L"--skip-signature-check"),
         "x86: FAILED: notes.exe is not a Windows program: it has no valid PE headers.", kOnePackageFailed},
        {"--out naming a package", with(good, 10, x86),
         "FAILED: --out must name a file of its own, not one of the packages.", kNothingWritten},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.name);
        const ToolRun run = RunTool(c.arguments);
        EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
        EXPECT_EQ(run.err, "");
        // One failure line, with what to do, then the verdict.
        const std::string failures = LinesWith(run.out, "FAILED: ");
        EXPECT_TRUE(Contains(failures, c.line)) << run.out;
        EXPECT_EQ(failures.find("\r\n"), failures.size() - 2) << "one line: " << run.out;
        EXPECT_EQ(LastLine(run.out), c.verdict);
        EXPECT_EQ(test_support::CountEntries(folder_), 0) << "no manifest and no partial file";
    }

    // Both packages are reported before make stops.
    ToolRun run = RunTool(with(with(good, 6, PackageFile("unsigned.exe")), 8, PackageFile("other-signer.exe")));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Contains(run.out, "x64: FAILED: unsigned.exe does not have")) << run.out;
    EXPECT_TRUE(Contains(run.out, "x86: FAILED: other-signer.exe is signed by")) << run.out;
    EXPECT_EQ(LastLine(run.out), "do not publish: 2 packages FAILED, no manifest written");
    run = RunTool(with(good, 6, PackageFile("unsigned.exe")));
    EXPECT_TRUE(Contains(run.out, "x86: OK: setup-x86.exe: ")) << "the good one is reported too: " << run.out;

    // A wrong command line: what is wrong on standard error, exit code 2, and nothing checked.
    run = RunTool(std::vector<std::wstring>(good.begin(), good.end() - 2));
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err, "make needs --out. Run \"quillo-release make --help\" for usage.\r\n");
    EXPECT_EQ(run.out, "nothing checked: the command line is wrong\r\n");

    // The package named as --out is untouched.
    EXPECT_EQ(test_support::ReadWholeFile(x86).size(), SizeOf("setup-x86.exe"));

    // A refused make leaves an earlier manifest as it was.
    test_support::WriteWholeFile(out_, "earlier");
    EXPECT_EQ(RunTool(with(good, 6, PackageFile("unsigned.exe"))).exitCode, 1);
    EXPECT_EQ(test_support::ReadWholeFile(out_), "earlier");
    EXPECT_EQ(test_support::CountEntries(folder_), 1);
}

// A package's own product version is compared with the release's; a difference is a warning on standard
// error, and the manifest is written all the same.
TEST_F(ReleaseTool, MakeWarnsWhenAPackageSaysItIsAnotherVersion) {
    struct Case {
        const char* name;
        std::wstring version;
        std::string x64;
        std::string x86;
        std::string warnings;
    };
    const std::vector<Case> cases = {
        {"the same version", L"9.8.7", "setup-x64.exe", "setup-x86.exe", ""},
        {"the same version with a label", L"9.8.7 beta", "setup-x64.exe", "setup-x86.exe", ""},
        {"the same version with its fourth part", L"9.8.7.0", "setup-x64.exe", "setup-x86.exe", ""},
        {"an older x86 package", L"9.8.7", "setup-x64.exe", "old-version.exe",
         "x86: WARNING: the x86 package old-version.exe has product version 1.2.3.0, which differs from --version "
         "9.8.7. Check that you gave the right build.\r\n"},
        {"another build of both", L"9.8.7.1", "setup-x64.exe", "setup-x86.exe",
         "x64: WARNING: the x64 package setup-x64.exe has product version 9.8.7.0, which differs from --version "
         "9.8.7.1. Check that you gave the right build.\r\n"
         "x86: WARNING: the x86 package setup-x86.exe has product version 9.8.7.0, which differs from --version "
         "9.8.7.1. Check that you gave the right build.\r\n"},
        {"no version resource", L"9.8.7", "unversioned.exe", "setup-x86.exe",
         "x64: WARNING: the x64 package unversioned.exe has no version resource, so its product version cannot be "
         "compared with --version 9.8.7. Check that you gave the right build.\r\n"},
        {"a DLL as the x64 package", L"9.8.7", "library.dll", "setup-x86.exe",
         "x64: WARNING: the x64 package library.dll has no version resource, so its product version cannot be "
         "compared with --version 9.8.7. Check that you gave the right build.\r\n"},
        {"a version without a number", L"Autumn", "setup-x64.exe", "old-version.exe",
         "x64: WARNING: --version Autumn does not start with a version number such as 2.3.1, so it cannot be "
         "compared with the product version 9.8.7.0 of the x64 package setup-x64.exe. Check that you gave the right "
         "build.\r\n"
         "x86: WARNING: --version Autumn does not start with a version number such as 2.3.1, so it cannot be "
         "compared with the product version 1.2.3.0 of the x86 package old-version.exe. Check that you gave the "
         "right build.\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::wstring> arguments = MakeArguments(PackageFile(c.x64), PackageFile(c.x86));
        arguments[2] = c.version;
        const ToolRun run = RunTool(arguments);
        EXPECT_EQ(run.exitCode, 0) << run.out;
        EXPECT_EQ(LinesWith(run.out, ": WARNING: "), c.warnings);
        EXPECT_EQ(LastLine(run.out), LoopbackOkVerdict());
        ReleaseManifest manifest;
        EXPECT_TRUE(ValidateReleaseManifest(test_support::ReadWholeFile(out_), manifest));
    }
}

TEST_F(ReleaseTool, VerifyWarnsOfAnotherProductVersionAndFailsAnX86PackageBuiltForX64) {
    ToolRun run = RunTool(MakeArguments(PackageFile("setup-x64.exe"), PackageFile("old-version.exe")));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    Serve(ManifestHostPath(), {{"setup-x64.exe", "setup-x64.exe"}, {"old-version.exe", "old-version.exe"}});
    const int leftovers = release_test::CountVerifyLeftovers();
    run = RunTool({L"verify"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "x86: OK: ")) << run.out;
    EXPECT_EQ(LinesWith(run.out, ": WARNING: "), "x86: WARNING: the package has product version 1.2.3.0, which "
                                                 "differs from the manifest's version 9.8.7. Check that the right "
                                                 "build was uploaded.\r\n");
    EXPECT_EQ(LastLine(run.out), "2 of 2 packages OK: the release is live");

    // make refuses the x64 program as the x86 package, so it is put in a made manifest by hand, with its
    // own digest and size: it downloads and its signature holds, and verify still fails it.
    run = RunTool(MakeArguments(PackageFile("setup-x64.exe"), PackageFile("setup-x86.exe")));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::string text = test_support::ReadWholeFile(out_);
    const auto swap = [&text](const std::string& from, const std::string& to) {
        text.replace(text.find(from), from.size(), to);
    };
    swap("setup-x86.exe", "x64-machine.exe");
    swap(Sha256Of("setup-x86.exe"), Sha256Of("x64-machine.exe"));
    swap("\"size\": " + std::to_string(SizeOf("setup-x86.exe")) + "\n  }\n}",
         "\"size\": " + std::to_string(SizeOf("x64-machine.exe")) + "\n  }\n}");
    test_support::WriteWholeFile(out_, text);
    Serve(ManifestHostPath(), {{"setup-x64.exe", "setup-x64.exe"}, {"x64-machine.exe", "x64-machine.exe"}});
    run = RunTool({L"verify"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(LinesWith(run.out, "FAILED: "),
              "x86: FAILED: The package is built for x64 (machine type 0x8664), not for 32-bit x86, so it could never "
              "start on 32-bit Windows. Upload the 32-bit x86 build of the setup program and make the manifest again "
              "from it.\r\n");
    EXPECT_EQ(LastLine(run.out), "do not announce the release: 1 package FAILED");
    EXPECT_TRUE(Contains(run.out, "x64: OK: ")) << run.out;
    EXPECT_EQ(release_test::CountVerifyLeftovers(), leftovers);
}

TEST_F(ReleaseTool, VerifyCatchesAPackageReplacedOnTheServerAfterMake) {
    ToolRun run = RunTool(MakeArguments(PackageFile("setup-x64.exe"), PackageFile("setup-x86.exe")));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // Same size, one byte changed.
    ASSERT_EQ(SizeOf("tampered-x64.exe"), SizeOf("setup-x64.exe"));
    Serve(ManifestHostPath(), {{"setup-x64.exe", "tampered-x64.exe"}, {"setup-x86.exe", "setup-x86.exe"}});
    const int leftovers = release_test::CountVerifyLeftovers();
    run = RunTool({L"verify"});
    EXPECT_EQ(run.exitCode, 1);
    // The installer's own text, then the manifest's figures beside the server's.
    const std::string url = BaseUrl() + kReleasePath + "/setup-x64.exe";
    const std::string size = Grouped(SizeOf("setup-x64.exe"));
    EXPECT_EQ(LinesWith(run.out, "FAILED: "), "x64: FAILED: Security check failed: the installer SHA-256 does not match. The manifest says " +
                           size + " bytes with SHA-256 " + Sha256Of("setup-x64.exe") + "; the file at " + url +
                           " is " + size + " bytes with SHA-256 " + Sha256Of("tampered-x64.exe") +
                           " (fetched again to measure it). If that file is the package you meant, make the "
                           "manifest again from it; if not, upload the package the manifest describes.\r\n");
    EXPECT_TRUE(Contains(run.out, "x86: OK: ")) << "the other architecture is still reported: " << run.out;
    EXPECT_EQ(LastLine(run.out), "do not announce the release: 1 package FAILED");
    EXPECT_EQ(release_test::CountVerifyLeftovers(), leftovers);
}

// A manifest whose size is one byte short: the installer's text speaks of the server, so the tool adds
// both sizes, and that the server's file is the one make measured. A signer's name in other letter case
// is named beside the expected one.
TEST_F(ReleaseTool, VerifyGivesBothFiguresAndBothNames) {
    ToolRun run = RunTool(MakeArguments(PackageFile("setup-x64.exe"), PackageFile("setup-x86.exe")));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    test_support::WriteWholeFile(out_, Replaced(test_support::ReadWholeFile(out_),
                                                "\"size\": " + std::to_string(SizeOf("setup-x64.exe")),
                                                "\"size\": " + std::to_string(SizeOf("setup-x64.exe") - 1)));
    Serve(ManifestHostPath(), {{"setup-x64.exe", "setup-x64.exe"}, {"setup-x86.exe", "setup-x86.exe"}});
    const int leftovers = release_test::CountVerifyLeftovers();
    run = RunTool({L"verify"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Contains(run.out, "x64: FAILED: The server sent more data than the release metadata allows. The "
                                  "manifest says " + Grouped(SizeOf("setup-x64.exe") - 1) + " bytes with SHA-256 " +
                                  Sha256Of("setup-x64.exe") + "; the file at " + BaseUrl() + kReleasePath +
                                  "/setup-x64.exe is " + Grouped(SizeOf("setup-x64.exe")) + " bytes with SHA-256 " +
                                  Sha256Of("setup-x64.exe") + " (fetched again to measure it)."))
        << run.out;

    std::vector<std::wstring> arguments = MakeArguments(PackageFile("wrong-case.exe"), PackageFile("setup-x86.exe"));
    arguments.push_back(L"--skip-signature-check");
    run = RunTool(arguments);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    Serve(ManifestHostPath(), {{"wrong-case.exe", "wrong-case.exe"}, {"setup-x86.exe", "setup-x86.exe"}});
    run = RunTool({L"verify"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(LinesWith(run.out, "FAILED: "),
              "x64: FAILED: Security check failed: the installer publisher does not match Brimlow AI Labs. It is signed "
              "by \"Brimlow AI Labs Private Limited\", not by \"BRIMLOW AI LABS PRIVATE LIMITED\". " +
                  std::string(kCaseAdvice) + "\r\n");
    EXPECT_EQ(release_test::CountVerifyLeftovers(), leftovers);
}

// A signature the machine trusts, by a certificate that names nobody: make and verify say that the
// signer has no name to compare, from the one reading of the signature the trust check made.
TEST_F(ReleaseTool, ASignerWithNoNameIsSaidToBeUnnamedByMakeAndVerify) {
    const std::string publisher = "\"BRIMLOW AI LABS PRIVATE LIMITED\".";
    std::vector<std::wstring> arguments =
        MakeArguments(PackageFile("no-signer-name.exe"), PackageFile("setup-x86.exe"));
    ToolRun run = RunTool(arguments);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(LinesWith(run.out, "FAILED: "), "x64: FAILED: no-signer-name.exe does not name its signer; it must be "
                                              "signed by " + publisher + " Sign it with the certificate issued to "
                                              "that name.\r\n");

    arguments.push_back(L"--skip-signature-check");
    run = RunTool(arguments);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    Serve(ManifestHostPath(), {{"no-signer-name.exe", "no-signer-name.exe"}, {"setup-x86.exe", "setup-x86.exe"}});
    const int leftovers = release_test::CountVerifyLeftovers();
    run = RunTool({L"verify"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(LinesWith(run.out, "FAILED: "), "x64: FAILED: Security check failed: the installer publisher does not "
                                              "match Brimlow AI Labs. Its signer's name cannot be read; it must be " +
                                              publisher + "\r\n");
    EXPECT_TRUE(Contains(run.out, "x86: OK: ")) << run.out;
    EXPECT_EQ(release_test::CountVerifyLeftovers(), leftovers);
}

// check --release-dir: the folder that will be published, compared with the manifest and inspected as
// make does, so that what verify would find after publishing is found before.
TEST_F(ReleaseTool, CheckWithTheReleaseFolderCatchesAWrongSizeDigestOrSignerBeforePublishing) {
    const std::wstring release = test_support::MakeScratchFolder(L"release-dir");
    const std::wstring packages = release + L"\\release-tool";
    CreateDirectoryW(packages.c_str(), nullptr);
    CreateDirectoryW((packages + L"\\9.8.7").c_str(), nullptr);
    const auto place = [&](const std::string& name, const std::string& as) {
        const std::wstring to = packages + L"\\9.8.7\\" + std::wstring(as.begin(), as.end());
        test_support::WriteWholeFile(to, test_support::ReadWholeFile(PackageFile(name)));
        return to;
    };
    const std::wstring x64 = place("setup-x64.exe", "setup-x64.exe");
    const std::wstring x86 = place("setup-x86.exe", "setup-x86.exe");
    ToolRun run = RunTool(MakeArguments(x64, x86));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string good = test_support::ReadWholeFile(out_);

    run = RunTool({L"check", out_});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(Contains(run.out, "Checked the text only: the packages were not compared with it. Give "
                                  "--release-dir with the folder you will publish as " + BaseUrl()))
        << run.out;
    EXPECT_EQ(LastLine(run.out), "manifest OK, packages not compared: check again with --release-dir before uploading");

    run = RunTool({L"check", out_, L"--release-dir", release});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(LastLine(run.out), LoopbackOkVerdict());
    const std::string x64Path = Narrow(release) + "\\release-tool\\9.8.7\\setup-x64.exe";
    EXPECT_TRUE(Contains(run.out, "x64: OK: " + x64Path + ": " + Grouped(SizeOf("setup-x64.exe")) +
                                      " bytes, SHA-256 matches, signed by BRIMLOW AI LABS PRIVATE LIMITED."))
        << run.out;
    EXPECT_TRUE(Contains(run.out, "x86: OK: ")) << run.out;
    EXPECT_FALSE(Contains(run.out, "Checked the text only")) << run.out;

    const std::string size = "\"size\": " + std::to_string(SizeOf("setup-x64.exe"));
    struct Case {
        const char* name;
        std::string manifest;
        std::string package;  // what stands in the folder as setup-x64.exe
        std::string line;
    };
    const std::string nextStep = " If this file is the package to publish, make the manifest again from it; if not, "
                                 "put the package the manifest describes in its place and upload that one.\r\n";
    const std::vector<Case> cases = {
        {"a hand-edited size", Replaced(good, size, size + "0"), "setup-x64.exe",
         "x64: FAILED: " + x64Path + " is " + Grouped(SizeOf("setup-x64.exe")) + " bytes with SHA-256 " +
             Sha256Of("setup-x64.exe") + ", but the manifest says " + Grouped(SizeOf("setup-x64.exe") * 10) +
             " bytes with SHA-256 " + Sha256Of("setup-x64.exe") + "." + nextStep},
        // Signed again after make, this time with a timestamp: both digests, and what to do.
        {"a package signed again after make", good, "resigned-x64.exe",
         "x64: FAILED: " + x64Path + " is " + Grouped(SizeOf("resigned-x64.exe")) + " bytes with SHA-256 " +
             Sha256Of("resigned-x64.exe") + ", but the manifest says " + Grouped(SizeOf("setup-x64.exe")) +
             " bytes with SHA-256 " + Sha256Of("setup-x64.exe") + "." + nextStep},
        {"another build of the same size", good, "tampered-x64.exe",
         "x64: FAILED: " + x64Path + " has SHA-256 " + Sha256Of("tampered-x64.exe") + ", but the manifest says " +
             Sha256Of("setup-x64.exe") + "." + nextStep},
        {"a signer's name in other letter case",
         Replaced(Replaced(good, Sha256Of("setup-x64.exe"), Sha256Of("wrong-case.exe")), size,
                  "\"size\": " + std::to_string(SizeOf("wrong-case.exe"))),
         "wrong-case.exe",
         "x64: FAILED: " + x64Path + " is signed by \"Brimlow AI Labs Private Limited\", not by \"BRIMLOW AI LABS "
             "PRIVATE LIMITED\". " + std::string(kCaseAdvice) + "\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        place(c.package, "setup-x64.exe");
        test_support::WriteWholeFile(out_, c.manifest);
        run = RunTool({L"check", out_, L"--release-dir", release});
        EXPECT_EQ(run.exitCode, 1) << run.out;
        EXPECT_EQ(LinesWith(run.out, "FAILED: "), c.line);
        EXPECT_TRUE(Contains(run.out, "x86: OK: ")) << "the other package is still reported: " << run.out;
        EXPECT_EQ(LastLine(run.out), "do not publish: 1 package FAILED");
        EXPECT_EQ(run.err, "");
    }

    // The x86 package is held to make's program type too: an x64 program with its own digest and size.
    place("setup-x64.exe", "setup-x64.exe");
    place("x64-machine.exe", "setup-x86.exe");
    const std::string x64Program = Replaced(good, Sha256Of("setup-x86.exe"), Sha256Of("x64-machine.exe"));
    test_support::WriteWholeFile(out_, Replaced(x64Program, "\"size\": " + std::to_string(SizeOf("setup-x86.exe")),
                                                "\"size\": " + std::to_string(SizeOf("x64-machine.exe"))));
    run = RunTool({L"check", out_, L"--release-dir", release});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(LinesWith(run.out, "FAILED: "),
              "x86: FAILED: " + Narrow(x86) +
                  " is built for x64 (machine type 0x8664), not for 32-bit x86, so it could never start on 32-bit "
                  "Windows. The x86 package must be the 32-bit x86 build of the setup program.\r\n");

    // A package missing from the folder, with the system's number.
    test_support::WriteWholeFile(out_, good);
    DeleteFileW(x86.c_str());
    run = RunTool({L"check", out_, L"--release-dir", release});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(LinesWith(run.out, "FAILED: "),
              "x86: FAILED: " + Narrow(x86) + ", the file to publish as " + BaseUrl() + kReleasePath +
                  "/setup-x86.exe, cannot be opened. (error 2: the file was not found) Put the package there, or "
                  "give --release-dir the folder that stands for " + BaseUrl() + ".\r\n");
    EXPECT_EQ(LastLine(run.out), "do not publish: 1 package FAILED");
}

// A release folder holding the two good packages under the release path, for the tools of other builds.
std::wstring GoodReleaseFolder() {
    const std::wstring release = test_support::MakeScratchFolder(L"release-dir-other-builds");
    const std::wstring packages = release + L"\\release-tool\\9.8.7";
    CreateDirectoryW((release + L"\\release-tool").c_str(), nullptr);
    CreateDirectoryW(packages.c_str(), nullptr);
    for (const char* name : {"setup-x64.exe", "setup-x86.exe"}) {
        test_support::WriteWholeFile(packages + L"\\" + std::wstring(name, name + std::strlen(name)),
                                     test_support::ReadWholeFile(PackageFile(name)));
    }
    return release;
}

// A build whose RELEASE_HOST was left at its default: its tool says so, naming the option, in make,
// check and --version, and no verdict of it says "ready to upload".
TEST_F(ReleaseTool, AToolBuiltForTheDefaultHostSaysSoInMakeCheckAndVersion) {
    constexpr char kTool[] = "RELEASE_TOOL_EXAMPLE_EXE";
    const std::string warning =
        "WARNING: this tool and its web setup were built for RELEASE_HOST releases.brimlow.example, which is under "
        ".example, a name reserved for examples and tests that never resolves: that web setup fails on every user's "
        "machine. Build with -DRELEASE_HOST=<the release server's host name>, then sign and make the release again "
        "with that build.\r\n";
    const std::string verdict = "2 of 2 packages OK, but do not publish: this tool was built for RELEASE_HOST "
                                "releases.brimlow.example, which users cannot reach";
    const std::wstring release = GoodReleaseFolder();
    const std::wstring manifest = release + L"\\online-latest.json";
    std::vector<std::wstring> arguments = MakeArguments(release + L"\\release-tool\\9.8.7\\setup-x64.exe",
                                                        release + L"\\release-tool\\9.8.7\\setup-x86.exe");
    arguments.back() = manifest;
    ToolRun run = RunTool(arguments, kTool);
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(LinesWith(run.out, "WARNING: "), warning);
    EXPECT_EQ(LastLine(run.out), verdict);

    for (const std::vector<std::wstring>& check :
         {std::vector<std::wstring>{L"check", manifest, L"--release-dir", release}, {L"check", manifest}}) {
        run = RunTool(check, kTool);
        EXPECT_EQ(run.exitCode, 0) << run.out;
        EXPECT_EQ(LinesWith(run.out, "WARNING: "), warning);
        EXPECT_EQ(LastLine(run.out).find("ready to upload"), std::string::npos) << run.out;
    }
    EXPECT_EQ(LastLine(run.out), "manifest OK, packages not compared: check again with --release-dir before uploading");

    run = RunTool({L"--version"}, kTool);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(LinesWith(run.out, "WARNING: "), warning);
}

// A build for a host that can be the release server: nothing to warn of, and ready to upload.
TEST_F(ReleaseTool, AToolOfARealReleaseHostFindsTheReleaseReadyToUpload) {
    constexpr char kTool[] = "RELEASE_TOOL_PUBLISHABLE_EXE";
    const std::wstring release = GoodReleaseFolder();
    const std::wstring manifest = release + L"\\online-latest.json";
    std::vector<std::wstring> arguments = MakeArguments(release + L"\\release-tool\\9.8.7\\setup-x64.exe",
                                                        release + L"\\release-tool\\9.8.7\\setup-x86.exe");
    arguments.back() = manifest;
    for (const std::vector<std::wstring>& command :
         {arguments, std::vector<std::wstring>{L"check", manifest, L"--release-dir", release}}) {
        const ToolRun run = RunTool(command, kTool);
        EXPECT_EQ(run.exitCode, 0) << run.out;
        EXPECT_EQ(LinesWith(run.out, "WARNING"), "");
        EXPECT_EQ(LastLine(run.out), "2 of 2 packages OK: ready to upload");
    }
}

// check-websetup: the signed web setup is checked like the packages, and both of its digests are named.
TEST_F(ReleaseTool, TheSignedWebSetupIsCheckedForItsSignerTimestampAndBytes) {
    constexpr char kTool[] = "RELEASE_TOOL_PUBLISHABLE_EXE";
    const std::string built = Sha256Of("websetup-built.exe");
    const std::string unsignedLine = "Unsigned build, what a rebuild of the commit gives: SHA-256 " + built + "\r\n";
    const auto signedLine = [](const std::string& name) {
        return "Signed web setup, the file users download (" + Grouped(SizeOf(name)) + " bytes): SHA-256 " +
               Sha256Of(name) + "\r\n";
    };

    // Against the web setup built beside the tool.
    const std::wstring signedFile = PackageFile("websetup-signed.exe");
    ToolRun run = RunTool({L"check-websetup", signedFile}, kTool);
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(run.out, "OK: " + Narrow(signedFile) + " is signed by BRIMLOW AI LABS PRIVATE LIMITED, and Windows trusts "
                       "the signature.\r\n"
                       "WARNING: the signature has no timestamp, so Windows stops trusting this web setup the day the "
                       "certificate expires. For a release, sign with your certificate authority's timestamp service "
                       "(osslsigncode -t URL, signtool /tr URL /td sha256); a dry run does without.\r\n"
                       "OK: with its signature removed, it is byte for byte the web setup built beside this tool.\r\n" +
                           signedLine("websetup-signed.exe") + unsignedLine +
                           "web setup OK with 1 warning: ready to upload\r\n");

    // Against the build's file given by name; with a timestamp there is nothing to warn of.
    const std::wstring builtFile = PackageFile("websetup-built.exe");
    run = RunTool({L"check-websetup", L"--built=" + builtFile, PackageFile("websetup-timestamped.exe")}, kTool);
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(Contains(run.out, "OK: the signature is timestamped.\r\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, "OK: with its signature removed, it is byte for byte " + Narrow(builtFile) + ".\r\n"))
        << run.out;
    EXPECT_TRUE(Contains(run.out, signedLine("websetup-timestamped.exe") + unsignedLine)) << run.out;
    EXPECT_EQ(LastLine(run.out), "web setup OK: ready to upload");

    // Signed by the publisher's name in other letter case: named, with what to do.
    const std::wstring wrongCase = PackageFile("websetup-wrong-case.exe");
    run = RunTool({L"check-websetup", wrongCase}, kTool);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(LinesWith(run.out, "FAILED: "), "FAILED: " + Narrow(wrongCase) + " is signed by \"Brimlow AI Labs "
                                              "Private Limited\", not by \"BRIMLOW AI LABS PRIVATE LIMITED\". " +
                                              std::string(kCaseAdvice) + "\r\n");
    EXPECT_TRUE(Contains(run.out, unsignedLine)) << run.out;
    EXPECT_EQ(LastLine(run.out), "do not publish: the web setup FAILED 1 check");

    // One byte changed under the signature: the signature no longer holds, and the bytes are not the build's
    // (the first difference is the header checksum, computed again over the changed byte).
    const std::wstring tampered = PackageFile("websetup-tampered.exe");
    run = RunTool({L"check-websetup", tampered, L"--built", builtFile}, kTool);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Contains(run.out, "FAILED: " + Narrow(tampered) + " does not have a valid, trusted Authenticode "
                                  "signature. (WinVerifyTrust 0x80096010: the file was changed after it was signed: "
                                  "sign the original file again)\r\n"))
        << run.out;
    EXPECT_TRUE(Contains(run.out, "FAILED: with its signature removed, " + Narrow(tampered) + " is not the build's file " +
                                  Narrow(builtFile) + ": they differ from byte "))
        << run.out;
    EXPECT_TRUE(Contains(run.out, "Sign the build's own file again (osslsigncode sign ... -in " + Narrow(builtFile) +
                                  " -out <a new file>: osslsigncode does not overwrite an existing file) and check "
                                  "that file.\r\n"))
        << run.out;
    EXPECT_EQ(LastLine(run.out), "do not publish: the web setup FAILED 2 checks");
    EXPECT_EQ(run.err, "");

    // Bytes appended after the signature: it can no longer be taken off to compare the rest.
    const std::wstring appended = PackageFile("websetup-appended.exe");
    run = RunTool({L"check-websetup", appended, L"--built", builtFile}, kTool);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Contains(run.out, "FAILED: the signature of " + Narrow(appended) + " does not end the file, so "
                                  "something was added after signing or the file was signed twice. Sign the build's "
                                  "own file again"))
        << run.out;
    EXPECT_EQ(LastLine(run.out).rfind("do not publish: the web setup FAILED", 0), 0u) << run.out;
}

TEST_F(ReleaseTool, VerifyRefusesAPackageWhoseSignatureWasSkippedAtMake) {
    std::vector<std::wstring> arguments = MakeArguments(PackageFile("setup-x64.exe"), PackageFile("unsigned.exe"));
    arguments.push_back(L"--skip-signature-check");
    ToolRun run = RunTool(arguments);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(LastLine(run.out), "2 of 2 packages written without a signature check: do not publish until they are "
                                 "signed and the manifest is made again");
    Serve(ManifestHostPath(), {{"setup-x64.exe", "setup-x64.exe"}, {"unsigned.exe", "unsigned.exe"}});
    const int leftovers = release_test::CountVerifyLeftovers();
    run = RunTool({L"verify"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(LinesWith(run.out, "FAILED: "),
              "x86: FAILED: Security check failed: the downloaded installer does not have a valid trusted "
              "Authenticode signature. (WinVerifyTrust 0x800B0100: the file has no signature: sign it with the "
              "code-signing certificate)\r\n");
    EXPECT_EQ(LastLine(run.out), "do not announce the release: 1 package FAILED");
    EXPECT_EQ(release_test::CountVerifyLeftovers(), leftovers);
}

TEST_F(ReleaseTool, VerifyRefusesAManifestWhoseUrlLeavesTheReleaseBaseUrl) {
    ToolRun run = RunTool(MakeArguments(PackageFile("setup-x64.exe"), PackageFile("setup-x86.exe")));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::string text = test_support::ReadWholeFile(out_);
    const std::string inside = BaseUrl() + kReleasePath + "/setup-x64.exe";
    const std::string outside = "https://localhost:" + std::to_string(test_support::TestPort()) +
                                "/download/other/setup-x64.exe";
    text.replace(text.find(inside), inside.size(), outside);
    test_support::WriteWholeFile(out_, text);
    Serve(ManifestHostPath(), {{"setup-x64.exe", "setup-x64.exe"}, {"setup-x86.exe", "setup-x86.exe"}});
    run = RunTool({L"verify"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "FAILED: The manifest at " + Narrow(kManifestUrl) + " is not valid: \"x64\" \"url\": must "
                           "start with the release base URL " + BaseUrl() + ", found " + outside + ". Upload the "
                           "manifest that make wrote, unchanged.\r\ndo not announce the release: the manifest "
                           "FAILED\r\n");
    EXPECT_EQ(run.err, "");
}

TEST_F(ReleaseTool, VerifyReportsAManifestItCannotFetch) {
    test_support::WriteRoutes("release_tool", "{\"" + std::string(kManifestRoute) + "\": {\"status\": 404}}");
    ToolRun run = RunTool({L"verify"});
    EXPECT_EQ(run.exitCode, 1);
    constexpr char kVerdict[] = "do not announce the release: the manifest FAILED\r\n";
    EXPECT_EQ(run.out, "FAILED: Could not fetch the manifest from " + Narrow(kManifestUrl) +
                           ": The download server returned an unexpected response.\r\n" + kVerdict);

    const std::wstring plain = L"http://localhost:" + std::to_wstring(test_support::TestPort()) + L"/x.json";
    run = RunTool({L"verify", plain});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "FAILED: Could not fetch the manifest from " + Narrow(plain) +
                           ": The release URL is not a valid HTTPS address.\r\n" + kVerdict);

    // WinHTTP's own number tells a name that does not resolve from a certificate or a closed port.
    const std::wstring unknownHost = L"https://nonexistent.invalid/online-latest.json";
    run = RunTool({L"verify", unknownHost});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "FAILED: Could not fetch the manifest from " + Narrow(unknownHost) +
                           ": The secure download request failed. Check the internet connection and try again. "
                           "(error 12007: the host name could not be resolved: check RELEASE_HOST (quillo-release "
                           "--version) and the network)\r\n" + kVerdict);
}

}  // namespace
