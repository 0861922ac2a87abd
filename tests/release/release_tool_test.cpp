// quillo-release make and verify over real signed packages on the loopback HTTPS server: a good release
// end to end, the packages make refuses, and what verify catches on the server after make.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "common/build_config.h"
#include "manifest/release_manifest.h"
#include "release_tool_runner.h"
#include "harness/test_support.h"

namespace {

using release_test::HostHarnessPath;
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
    ToolRun run = RunTool(MakeArguments(PackageFile("setup-x64.exe"), PackageFile("setup-x86.exe")));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");

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
    "--version cannot hold a quotation mark, a backslash, a control, format or separator character (such as a tab, "
    "a right-to-left override or a zero-width space; the blank is fine) or broken Unicode.";

struct Refusal {
    const char* name;
    std::vector<std::wstring> arguments;
    std::string line;  // what standard error must hold
    int exitCode = 1;
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
    const std::vector<Refusal> cases = {
        {"an unsigned package", with(good, 6, PackageFile("unsigned.exe")),
         "The x64 package unsigned.exe does not have a valid, trusted Authenticode signature. (WinVerifyTrust "
         "0x800B0100)"},
        {"a package from another signer", with(good, 8, PackageFile("other-signer.exe")),
         "The x86 package other-signer.exe is signed by \"OTHER PUBLISHER\", not by \"BRIMLOW AI LABS PRIVATE "
         "LIMITED\"."},
        {"a version the validation refuses", with(good, 2, std::wstring(33, L'v')),
         "Refused: the manifest would not pass the installer's validation: \"version\": must be at most 32 "
         "characters, found 33."},
        {"an empty package, signature check skipped", plus(with(good, 6, empty), L"--skip-signature-check"),
         "Refused: the manifest would not pass the installer's validation: \"x64\" \"size\": must be from 1 to "
         "629,145,600 bytes, found 0."},
        {"a version that would end the JSON text early", with(good, 2, L"9.8\"7"), kVersionRefusal},
        {"a version with a right-to-left override", with(good, 2, L"9.8\u202E7"), kVersionRefusal},
        {"a version with a byte-order mark", with(good, 2, L"\uFEFF9.8.7"), kVersionRefusal},
        {"a version with a lone surrogate", with(good, 2, L"9.8.7\xD800"), kVersionRefusal},
        {"a release path that climbs out of the release folder", with(good, 4, L"9.8.7/../../other"),
         "--path must be one or more folder names made of letters, digits, \".\", \"-\", \"_\" and \"~\", "
         "none of them only dots, separated by \"/\" (for example 2.3.1)."},
        {"a release path with a folder of three dots", with(good, 4, L"9.8.7/..."),
         "--path must be one or more folder names"},
        {"a release path with a query", with(good, 4, L"9.8.7?x=1"),
         "--path must be one or more folder names"},
        {"a release path with an empty folder name", with(good, 4, L"9.8.7//x"),
         "--path must be one or more folder names"},
        {"a release path ending in a slash", with(good, 4, L"9.8.7/"), "--path must be one or more folder names"},
        {"a file name that needs escaping in a URL", with(good, 6, spaced),
         "The x64 package file name \"setup x64.exe\" can hold only letters, digits"},
        {"two different packages under one name", with(good, 8, sameName),
         "The x64 and x86 packages are different files with the same name \"setup-x64.exe\", so they would share "
         "one download URL."},
        {"a missing package", with(good, 8, PackageFile("missing.exe")), "The x86 package "},
        // An x86 package must start on 32-bit Windows; the x64 one is not held to that.
        {"an x64 program as the x86 package", with(good, 8, PackageFile("x64-machine.exe")),
         "The x86 package x64-machine.exe is built for x64 (machine type 0x8664), not for 32-bit x86, so it could "
         "never start on 32-bit Windows."},
        {"a DLL as the x86 package", with(good, 8, PackageFile("library.dll")),
         "The x86 package library.dll is a DLL, not a program, so it could never start as a setup program on "
         "32-bit Windows."},
        {"a text file as the x86 package, signature check skipped",
         plus(with(good, 8, text), L"--skip-signature-check"),
         "The x86 package notes.exe is not a Windows program: it has no valid PE headers."},
        {"--out naming a package", with(good, 10, x86), "--out must name a file of its own, not one of the packages."},
        {"no --out", std::vector<std::wstring>(good.begin(), good.end() - 2),
         "make needs --out. Run \"quillo-release --help\" for usage.", 2},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.name);
        const ToolRun run = RunTool(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
        EXPECT_TRUE(Contains(run.err, c.line)) << run.err;
        EXPECT_EQ(run.err.find("\r\n"), run.err.size() - 2) << "one line: " << run.err;
        EXPECT_EQ(test_support::CountEntries(folder_), 0) << "no manifest and no partial file";
    }

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
         "Warning: the x86 package old-version.exe has product version 1.2.3.0, which differs from --version "
         "9.8.7.\r\n"},
        {"another build of both", L"9.8.7.1", "setup-x64.exe", "setup-x86.exe",
         "Warning: the x64 package setup-x64.exe has product version 9.8.7.0, which differs from --version 9.8.7.1.\r\n"
         "Warning: the x86 package setup-x86.exe has product version 9.8.7.0, which differs from --version "
         "9.8.7.1.\r\n"},
        {"no version resource", L"9.8.7", "unversioned.exe", "setup-x86.exe",
         "Warning: the x64 package unversioned.exe has no version resource, so its product version cannot be "
         "compared with --version 9.8.7.\r\n"},
        {"a DLL as the x64 package", L"9.8.7", "library.dll", "setup-x86.exe",
         "Warning: the x64 package library.dll has no version resource, so its product version cannot be compared "
         "with --version 9.8.7.\r\n"},
        {"a version without a number", L"Autumn", "setup-x64.exe", "old-version.exe",
         "Warning: --version Autumn does not start with a version number such as 2.3.1, so it cannot be compared "
         "with the product version 9.8.7.0 of the x64 package setup-x64.exe.\r\n"
         "Warning: --version Autumn does not start with a version number such as 2.3.1, so it cannot be compared "
         "with the product version 1.2.3.0 of the x86 package old-version.exe.\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::wstring> arguments = MakeArguments(PackageFile(c.x64), PackageFile(c.x86));
        arguments[2] = c.version;
        const ToolRun run = RunTool(arguments);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.err, c.warnings);
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
    EXPECT_EQ(run.err, "x86: warning: the package has product version 1.2.3.0, which differs from the manifest's "
                       "version 9.8.7.\r\n");

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
    EXPECT_EQ(run.err, "x86: FAILED: The package is built for x64 (machine type 0x8664), not for 32-bit x86, so it "
                       "could never start on 32-bit Windows.\r\n");
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
    EXPECT_EQ(run.err, "x64: FAILED: Security check failed: the installer SHA-256 does not match. The manifest says " +
                           size + " bytes with SHA-256 " + Sha256Of("setup-x64.exe") + "; the file at " + url +
                           " is " + size + " bytes with SHA-256 " + Sha256Of("tampered-x64.exe") +
                           " (fetched again to measure it). If that file is the package you meant, make the "
                           "manifest again from it; if not, upload the package the manifest describes.\r\n");
    EXPECT_TRUE(Contains(run.out, "x86: OK: ")) << "the other architecture is still reported: " << run.out;
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
    EXPECT_TRUE(Contains(run.err, "x64: FAILED: The server sent more data than the release metadata allows. The "
                                  "manifest says " + Grouped(SizeOf("setup-x64.exe") - 1) + " bytes with SHA-256 " +
                                  Sha256Of("setup-x64.exe") + "; the file at " + BaseUrl() + kReleasePath +
                                  "/setup-x64.exe is " + Grouped(SizeOf("setup-x64.exe")) + " bytes with SHA-256 " +
                                  Sha256Of("setup-x64.exe") + " (fetched again to measure it)."))
        << run.err;

    std::vector<std::wstring> arguments = MakeArguments(PackageFile("wrong-case.exe"), PackageFile("setup-x86.exe"));
    arguments.push_back(L"--skip-signature-check");
    run = RunTool(arguments);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    Serve(ManifestHostPath(), {{"wrong-case.exe", "wrong-case.exe"}, {"setup-x86.exe", "setup-x86.exe"}});
    run = RunTool({L"verify"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "x64: FAILED: Security check failed: the installer publisher does not match Brimlow AI Labs. "
                       "It is signed by \"Brimlow AI Labs Private Limited\", not by \"BRIMLOW AI LABS PRIVATE "
                       "LIMITED\". The names differ only in letter case, and the installer compares them "
                       "exactly.\r\n");
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
    EXPECT_EQ(run.err, "The x64 package no-signer-name.exe does not name its signer; it must be signed by " +
                           publisher + "\r\n");

    arguments.push_back(L"--skip-signature-check");
    run = RunTool(arguments);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    Serve(ManifestHostPath(), {{"no-signer-name.exe", "no-signer-name.exe"}, {"setup-x86.exe", "setup-x86.exe"}});
    const int leftovers = release_test::CountVerifyLeftovers();
    run = RunTool({L"verify"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "x64: FAILED: Security check failed: the installer publisher does not match Brimlow AI Labs. "
                       "Its signer's name cannot be read; it must be " + publisher + "\r\n");
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
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "Checked the text only: the packages were not compared with it. Give "
                                  "--release-dir with the folder you will publish as " + BaseUrl()))
        << run.out;

    run = RunTool({L"check", out_, L"--release-dir", release});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.err, "");
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
    const std::vector<Case> cases = {
        {"a hand-edited size", Replaced(good, size, size + "0"), "setup-x64.exe",
         "x64: FAILED: " + x64Path + " is " + Grouped(SizeOf("setup-x64.exe")) + " bytes, but the manifest says " +
             Grouped(SizeOf("setup-x64.exe") * 10) + " bytes.\r\n"},
        {"another build of the same size", good, "tampered-x64.exe",
         "x64: FAILED: " + x64Path + " has SHA-256 " + Sha256Of("tampered-x64.exe") + ", but the manifest says " +
             Sha256Of("setup-x64.exe") + ".\r\n"},
        {"a signer's name in other letter case",
         Replaced(Replaced(good, Sha256Of("setup-x64.exe"), Sha256Of("wrong-case.exe")), size,
                  "\"size\": " + std::to_string(SizeOf("wrong-case.exe"))),
         "wrong-case.exe",
         "x64: FAILED: " + x64Path + " is signed by \"Brimlow AI Labs Private Limited\", not by \"BRIMLOW AI LABS "
             "PRIVATE LIMITED\". The names differ only in letter case, and the installer compares them exactly.\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        place(c.package, "setup-x64.exe");
        test_support::WriteWholeFile(out_, c.manifest);
        run = RunTool({L"check", out_, L"--release-dir", release});
        EXPECT_EQ(run.exitCode, 1) << run.out;
        EXPECT_EQ(run.err, c.line);
        EXPECT_TRUE(Contains(run.out, "x86: OK: ")) << "the other package is still reported: " << run.out;
    }

    // The x86 package is held to make's program type too: an x64 program with its own digest and size.
    place("setup-x64.exe", "setup-x64.exe");
    place("x64-machine.exe", "setup-x86.exe");
    const std::string x64Program = Replaced(good, Sha256Of("setup-x86.exe"), Sha256Of("x64-machine.exe"));
    test_support::WriteWholeFile(out_, Replaced(x64Program, "\"size\": " + std::to_string(SizeOf("setup-x86.exe")),
                                                "\"size\": " + std::to_string(SizeOf("x64-machine.exe"))));
    run = RunTool({L"check", out_, L"--release-dir", release});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "x86: FAILED: " + Narrow(x86) +
                           " is built for x64 (machine type 0x8664), not for 32-bit x86, so it could never start on "
                           "32-bit Windows.\r\n");

    // A package missing from the folder, with the system's number.
    test_support::WriteWholeFile(out_, good);
    DeleteFileW(x86.c_str());
    run = RunTool({L"check", out_, L"--release-dir", release});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Contains(run.err, "x86: FAILED: " + Narrow(x86) + ", the file to publish as " + BaseUrl() +
                                      kReleasePath + "/setup-x86.exe, cannot be opened. (error 2)"))
        << run.err;
}

TEST_F(ReleaseTool, VerifyRefusesAPackageWhoseSignatureWasSkippedAtMake) {
    std::vector<std::wstring> arguments = MakeArguments(PackageFile("setup-x64.exe"), PackageFile("unsigned.exe"));
    arguments.push_back(L"--skip-signature-check");
    ToolRun run = RunTool(arguments);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "signatures were not checked")) << run.out;
    Serve(ManifestHostPath(), {{"setup-x64.exe", "setup-x64.exe"}, {"unsigned.exe", "unsigned.exe"}});
    const int leftovers = release_test::CountVerifyLeftovers();
    run = RunTool({L"verify"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err,
              "x86: FAILED: Security check failed: the downloaded installer does not have a valid trusted "
              "Authenticode signature. (WinVerifyTrust 0x800B0100)\r\n");
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
    EXPECT_EQ(run.err, "The manifest at " + Narrow(kManifestUrl) + " is not valid: \"x64\" \"url\": must start with "
                           "the release base URL " + BaseUrl() + ", found " + outside + ".\r\n");
    EXPECT_EQ(run.out, "");
}

TEST_F(ReleaseTool, VerifyReportsAManifestItCannotFetch) {
    test_support::WriteRoutes("release_tool", "{\"" + std::string(kManifestRoute) + "\": {\"status\": 404}}");
    ToolRun run = RunTool({L"verify"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "Could not fetch the manifest from " + Narrow(kManifestUrl) +
                           ": The download server returned an unexpected response.\r\n");

    const std::wstring plain = L"http://localhost:" + std::to_wstring(test_support::TestPort()) + L"/x.json";
    run = RunTool({L"verify", plain});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "Could not fetch the manifest from " + Narrow(plain) +
                           ": The release URL is not a valid HTTPS address.\r\n");

    // WinHTTP's own number tells a name that does not resolve from a certificate or a closed port.
    const std::wstring unknownHost = L"https://nonexistent.invalid/online-latest.json";
    run = RunTool({L"verify", unknownHost});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "Could not fetch the manifest from " + Narrow(unknownHost) +
                           ": The secure download request failed. Check the internet connection and try again. "
                           "(error 12007)\r\n");
}

}  // namespace
