// Staging paths under a temporary directory that each case points somewhere of its own, through the
// TMP and TEMP variables that GetTempPathW reads.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>

#include "harness/test_support.h"
#include "transfer/package_download.h"
#include "transfer/staging_paths.h"
#include "transfer/transfer_test_util.h"

namespace {

using test_support::CountEntries;
using test_support::FileExists;

// The GUID 6B29FC40-CA47-1067-B31D-00DD010662DA, for cases that must know the run's name beforehand.
HRESULT WINAPI KnownGuid(GUID* guid) {
    *guid = {0x6B29FC40, 0xCA47, 0x1067, {0xB3, 0x1D, 0x00, 0xDD, 0x01, 0x06, 0x62, 0xDA}};
    return S_OK;
}
const wchar_t kKnownTag[] = L"6B29FC40CA471067B31D00DD010662DA";

class StagingPathsTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = test_support::MakeScratchFolder(L"transfer-staging");
        test_support::RemoveTree(StagingFolder());
        saved = {Variable(L"TMP"), Variable(L"TEMP")};
        UseTemp(root + L"\\");
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"TMP", saved.first.c_str());
        SetEnvironmentVariableW(L"TEMP", saved.second.c_str());
        test_support::RemoveTree(StagingFolder());
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

TEST_F(StagingPathsTest, EachRunGetsAFolderOfItsOwnNamedAfterItsGuidWithTheFilesInside) {
    ASSERT_FALSE(FileExists(StagingFolder()));
    StagedRun run1;
    ASSERT_TRUE(MakeStagingPaths(run1));
    EXPECT_TRUE(GetFileAttributesW(StagingFolder().c_str()) & FILE_ATTRIBUTE_DIRECTORY);

    // staging\TAG\BrimlowAIQuillo-Setup-TAG.exe, and the same with .part
    const std::wstring tag = run1.folderPath.substr(run1.folderPath.size() - 32);
    EXPECT_TRUE(IsRunTag(tag)) << transfer_test::Narrow(run1.folderPath);
    EXPECT_EQ(run1.folderPath, StagingFolder() + L"\\" + tag);
    EXPECT_EQ(run1.finalPath, run1.folderPath + L"\\BrimlowAIQuillo-Setup-" + tag + L".exe");
    EXPECT_EQ(run1.partialPath, run1.finalPath + L".part");
    EXPECT_TRUE(run1.folder);
    EXPECT_EQ(CountEntries(StagingFolder()), 1);
    EXPECT_EQ(CountEntries(run1.folderPath), 0) << "no file is made for the run";

    // A second run reuses the staging folder, and what stands in it, and gets a folder of its own.
    test_support::WriteWholeFile(StagingFolder() + L"\\earlier-run.exe", "left by an earlier run");
    StagedRun run2;
    ASSERT_TRUE(MakeStagingPaths(run2));
    EXPECT_NE(run2.folderPath, run1.folderPath);
    EXPECT_NE(run2.finalPath, run1.finalPath);
    EXPECT_EQ(test_support::ReadWholeFile(StagingFolder() + L"\\earlier-run.exe"), "left by an earlier run");

    // Removing a run takes its folder and nothing else.
    RemoveRunFolder(run1);
    RemoveRunFolder(run2);
    EXPECT_FALSE(run1.folder);
    EXPECT_FALSE(FileExists(run1.folderPath));
    EXPECT_FALSE(FileExists(run2.folderPath));
    EXPECT_EQ(CountEntries(StagingFolder()), 1);
}

TEST_F(StagingPathsTest, TheRunFolderIsAdministratorsAndSystemOnlyAndInheritsNothing) {
    const UniqueLocalMemory security = MakeRunFolderSecurity();
    ASSERT_TRUE(security);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(security.Get(), &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED) << "no entry may be inherited from the user's folders";
    EXPECT_TRUE(control & SE_DACL_PRESENT);

    LPWSTR text = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
        security.Get(), SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr));
    const std::wstring sddl = text;
    LocalFree(text);
    EXPECT_EQ(sddl, L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
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
        StagedRun run;
        run.finalPath = L"untouched";
        EXPECT_FALSE(MakeStagingPaths(run));
        EXPECT_EQ(run.finalPath, L"untouched");
        EXPECT_TRUE(run.partialPath.empty());
        EXPECT_FALSE(run.folder);
    }
    EXPECT_EQ(CountEntries(root), 0);
}

TEST_F(StagingPathsTest, AnythingButAFolderUnderTheStagingNameIsRefusedAndNothingIsMadeThroughIt) {
    // This Wine's CreateSymbolicLinkW reports success and makes nothing, so the link is a host symbolic
    // link that the test's CTest fixture made: tmp\BrimlowAIQuillo -> target. Wine shows it as a
    // reparse point, as Windows shows a junction or a directory link.
    const std::wstring linked = test_support::HarnessPath("transfer-link");
    UseTemp(linked + L"\\tmp\\");
    const DWORD attributes = GetFileAttributesW((linked + L"\\tmp\\BrimlowAIQuillo").c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    ASSERT_TRUE(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    StagedRun run;
    EXPECT_FALSE(MakeStagingPaths(run));
    EXPECT_TRUE(run.finalPath.empty());
    EXPECT_EQ(CountEntries(linked + L"\\target"), 0);

    // A plain file of that name: no folder can be made in it, so the run ends before any download.
    UseTemp(root + L"\\");
    test_support::WriteWholeFile(StagingFolder(), "not a folder");
    EXPECT_FALSE(MakeStagingPaths(run));
    EXPECT_TRUE(run.finalPath.empty());
    EXPECT_EQ(test_support::ReadWholeFile(StagingFolder()), "not a folder");
}

TEST_F(StagingPathsTest, AnEntryAlreadyUnderTheRunsNameIsRefusedAndNothingIsWrittenThroughIt) {
    // Someone who learnt the run's name first: a file, a folder with something in it, or a link to a
    // folder (made by the CTest fixture on the host side: planted-tmp\BrimlowAIQuillo\<name> -> target).
    const std::wstring linked = test_support::HarnessPath("transfer-link");
    const struct {
        const char* what;
        std::wstring temp;
        void (*plant)(const std::wstring& planted);
    } cases[] = {
        {"file", root, [](const std::wstring& path) { test_support::WriteWholeFile(path, "planted"); }},
        {"folder", root,
         [](const std::wstring& path) {
             CreateDirectoryW(path.c_str(), nullptr);
             test_support::WriteWholeFile(path + L"\\inside", "planted");
         }},
        {"link", linked + L"\\planted-tmp", [](const std::wstring&) {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        UseTemp(c.temp + L"\\");
        const std::wstring staging = c.temp + L"\\BrimlowAIQuillo";
        const std::wstring planted = staging + L"\\" + kKnownTag;
        CreateDirectoryW(staging.c_str(), nullptr);
        c.plant(planted);
        ASSERT_NE(GetFileAttributesW(planted.c_str()), INVALID_FILE_ATTRIBUTES);
        StagedRun run;
        EXPECT_FALSE(MakeStagingPaths(run, StagingCalls{KnownGuid}));
        EXPECT_TRUE(run.finalPath.empty());
        EXPECT_FALSE(run.folder);
        EXPECT_EQ(CountEntries(linked + L"\\target"), 0);
        EXPECT_EQ(CountEntries(staging), 1);
        if (c.temp == root) test_support::RemoveTree(planted);
    }

    // With nothing in the way, the same name is the run's.
    UseTemp(root + L"\\");
    StagedRun run;
    ASSERT_TRUE(MakeStagingPaths(run, StagingCalls{KnownGuid}));
    EXPECT_EQ(run.folderPath, StagingFolder() + L"\\" + kKnownTag);
    RemoveRunFolder(run);
}

TEST_F(StagingPathsTest, ATemporaryDirectoryReachedThroughALinkGivesPathsWithoutTheLink) {
    // TMP names tmp-link\, a host symbolic link to real-tmp; every path of the run names real-tmp.
    const std::wstring linked = test_support::HarnessPath("transfer-link");
    UseTemp(linked + L"\\tmp-link\\");
    StagedRun run;
    ASSERT_TRUE(MakeStagingPaths(run));
    const std::wstring real = linked + L"\\real-tmp\\BrimlowAIQuillo\\";
    EXPECT_EQ(run.folderPath.substr(0, real.size()), real) << transfer_test::Narrow(run.folderPath);
    EXPECT_EQ(run.finalPath.find(L"tmp-link"), std::wstring::npos);
    EXPECT_EQ(run.finalPath.substr(0, run.folderPath.size()), run.folderPath);
    RemoveRunFolder(run);
    EXPECT_EQ(CountEntries(linked + L"\\real-tmp\\BrimlowAIQuillo"), 0);
}

TEST_F(StagingPathsTest, ThePartialFileIsOnlyEverANewOne) {
    StagedRun run;
    ASSERT_TRUE(MakeStagingPaths(run));
    test_support::WriteRoutes("transfer_staging", R"({"/transfer/staging/package": {"body": "abc"}})");
    const PackageEntry package{transfer_test::LocalUrl("/transfer/staging/package"),
                               transfer_test::Widen(transfer_test::Sha256Hex("abc")), 3};

    test_support::WriteWholeFile(run.partialPath, "already there");
    ErrorText error;
    EXPECT_FALSE(DownloadPackage(package, run.partialPath, nullptr, error));
    EXPECT_EQ(error, L"Could not create the temporary installer file.");
    EXPECT_EQ(test_support::ReadWholeFile(run.partialPath), "already there");

    DeleteFileW(run.partialPath.c_str());
    error.clear();
    EXPECT_TRUE(DownloadPackage(package, run.partialPath, nullptr, error));
    transfer_test::RemoveRoutes("transfer_staging");
    EXPECT_EQ(test_support::ReadWholeFile(run.partialPath), "abc");
    DeleteFileW(run.partialPath.c_str());
    RemoveRunFolder(run);
}

TEST_F(StagingPathsTest, ARunFolderThatCannotBeRemovedIsScheduledForTheNextRestart) {
    StagedRun run;
    ASSERT_TRUE(MakeStagingPaths(run));
    // A file still open without delete sharing, as a setup program's leftover child can hold one.
    const std::wstring leftover = run.folderPath + L"\\leftover.dll";
    test_support::WriteWholeFile(leftover, "in use");
    HANDLE holder = CreateFileW(leftover.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    const std::wstring folderPath = run.folderPath;
    RemoveRunFolder(run);
    CloseHandle(holder);

    const std::wstring pending = test_support::PendingFileRenames();
    EXPECT_NE(pending.find(leftover), std::wstring::npos);
    const std::size_t folderAt = pending.find(folderPath + L'\0');
    ASSERT_NE(folderAt, std::wstring::npos) << "the folder is scheduled";
    EXPECT_LT(pending.find(leftover), folderAt) << "its contents go first, so the folder is empty by then";
}

}  // namespace
