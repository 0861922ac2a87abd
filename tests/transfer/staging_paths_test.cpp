// Staging paths under a temporary directory that each case points somewhere of its own, through the
// TMP and TEMP variables that GetTempPathW reads.
#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"
#include "transfer/package_download.h"
#include "transfer/staging_paths.h"
#include "transfer/transfer_test_util.h"

namespace {

using test_support::CountEntries;
using test_support::FileExists;

class StagingPathsTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = test_support::MakeScratchFolder(L"transfer-staging");
        RemoveStagingFolder();
        saved = {Variable(L"TMP"), Variable(L"TEMP")};
        UseTemp(root + L"\\");
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"TMP", saved.first.c_str());
        SetEnvironmentVariableW(L"TEMP", saved.second.c_str());
        RemoveStagingFolder();
    }

    static std::wstring Variable(const wchar_t* name) {
        wchar_t value[32768] = {};
        GetEnvironmentVariableW(name, value, 32768);
        return value;
    }
    static void UseTemp(const std::wstring& path) {
        SetEnvironmentVariableW(L"TMP", path.c_str());
        SetEnvironmentVariableW(L"TEMP", path.c_str());
    }
    // What an earlier case left under the staging name: a folder, a link or a file.
    void RemoveStagingFolder() {
        const std::wstring staging = StagingFolder();
        const DWORD attributes = GetFileAttributesW(staging.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return;
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                WIN32_FIND_DATAW data;
                HANDLE find = FindFirstFileW((staging + L"\\*").c_str(), &data);
                if (find != INVALID_HANDLE_VALUE) {
                    do DeleteFileW((staging + L"\\" + data.cFileName).c_str());
                    while (FindNextFileW(find, &data));
                    FindClose(find);
                }
            }
            RemoveDirectoryW(staging.c_str());
        } else {
            DeleteFileW(staging.c_str());
        }
    }
    std::wstring StagingFolder() const { return root + L"\\BrimlowAIQuillo"; }

    std::wstring root;
    std::pair<std::wstring, std::wstring> saved;
};

bool IsRunTag(const std::wstring& tag) {
    if (tag.size() != 32) return false;
    for (wchar_t c : tag) {
        if (!((c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F'))) return false;
    }
    return true;
}

TEST_F(StagingPathsTest, CreatesTheFolderOnceAndNamesEachRunAfterItsOwnGuid) {
    ASSERT_FALSE(FileExists(StagingFolder()));
    WideString partial1;
    WideString final1;
    ASSERT_TRUE(MakeStagingPaths(partial1, final1));
    EXPECT_TRUE(GetFileAttributesW(StagingFolder().c_str()) & FILE_ATTRIBUTE_DIRECTORY);

    const std::wstring prefix = StagingFolder() + L"\\BrimlowAIQuillo-Setup-";
    ASSERT_EQ(final1.substr(0, prefix.size()), prefix);
    ASSERT_EQ(final1.size(), prefix.size() + 32 + 4);
    EXPECT_TRUE(IsRunTag(final1.substr(prefix.size(), 32))) << transfer_test::Narrow(final1);
    EXPECT_EQ(final1.substr(final1.size() - 4), L".exe");
    EXPECT_EQ(partial1, final1 + L".part");
    EXPECT_EQ(CountEntries(StagingFolder()), 0) << "no file is made for the run";

    // A second run reuses the folder, and what stands in it, and gets names of its own.
    test_support::WriteWholeFile(StagingFolder() + L"\\earlier-run.exe", "left by an earlier run");
    WideString partial2;
    WideString final2;
    ASSERT_TRUE(MakeStagingPaths(partial2, final2));
    EXPECT_NE(final2, final1);
    EXPECT_NE(partial2, partial1);
    EXPECT_EQ(final2.substr(0, prefix.size()), prefix);
    EXPECT_EQ(test_support::ReadWholeFile(StagingFolder() + L"\\earlier-run.exe"), "left by an earlier run");
}

TEST_F(StagingPathsTest, ATemporaryDirectoryThatCannotHoldTheFolderGivesNoPaths) {
    const std::wstring tooLong = root + L"\\" + std::wstring(260, L'x') + L"\\";
    const struct {
        const char* what;
        std::wstring temp;
    } cases[] = {
        {"missing temporary directory", root + L"\\does-not-exist\\"},
        {"temporary directory longer than 259 characters", tooLong},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        UseTemp(c.temp);
        WideString partial = L"untouched";
        WideString final = L"untouched";
        EXPECT_FALSE(MakeStagingPaths(partial, final));
        EXPECT_EQ(partial, L"untouched");
        EXPECT_EQ(final, L"untouched");
    }
    EXPECT_EQ(CountEntries(root), 0);
}

TEST_F(StagingPathsTest, ALinkInPlaceOfTheFolderIsRefusedAndNothingIsMadeThroughIt) {
    // This Wine's CreateSymbolicLinkW reports success and makes nothing, so the link is a host symbolic
    // link that the test's CTest fixture made: tmp\BrimlowAIQuillo -> target. Wine shows it as a
    // reparse point, as Windows shows a junction or a directory link.
    const std::wstring linked = test_support::HarnessPath("transfer-link");
    UseTemp(linked + L"\\tmp\\");
    const DWORD attributes = GetFileAttributesW((linked + L"\\tmp\\BrimlowAIQuillo").c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    ASSERT_TRUE(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    WideString partial;
    WideString final;
    EXPECT_FALSE(MakeStagingPaths(partial, final));
    EXPECT_TRUE(partial.empty());
    EXPECT_TRUE(final.empty());
    EXPECT_EQ(CountEntries(linked + L"\\target"), 0);
}

TEST_F(StagingPathsTest, APlainFileInPlaceOfTheFolderGivesPathsButTheDownloadCannotCreateItsFile) {
    test_support::WriteWholeFile(StagingFolder(), "not a folder");
    WideString partial;
    WideString final;
    ASSERT_TRUE(MakeStagingPaths(partial, final));

    test_support::WriteRoutes("transfer_staging", R"({"/transfer/staging/package": {"body": "abc"}})");
    const PackageEntry package{transfer_test::LocalUrl("/transfer/staging/package"),
                               transfer_test::Widen(transfer_test::Sha256Hex("abc")), 3};
    ErrorText error;
    EXPECT_FALSE(DownloadPackage(package, partial, nullptr, error));
    transfer_test::RemoveRoutes("transfer_staging");
    EXPECT_EQ(error, L"Could not create the temporary installer file.");
    EXPECT_EQ(test_support::ReadWholeFile(StagingFolder()), "not a folder");
    EXPECT_FALSE(FileExists(partial));
}

}  // namespace
