// The run folder in the machine's temporary folder, the one owner of the staged setup program, and the
// clean-up, with real folders, files and downloads. The user's temporary folder is pointed elsewhere
// by TMP and TEMP in some cases, to show that nothing is ever made there.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

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

std::wstring MachineTemp() {
    wchar_t windows[MAX_PATH] = {};
    GetSystemWindowsDirectoryW(windows, MAX_PATH);
    return std::wstring(windows) + L"\\Temp";
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// The entries of the machine's temporary folder that a run of this program makes.
std::vector<std::wstring> RunFolders() {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry = {};
    HANDLE search = FindFirstFileW((MachineTemp() + L"\\BrimlowAIQuillo-*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return names;
    do names.push_back(entry.cFileName);
    while (FindNextFileW(search, &entry));
    FindClose(search);
    return names;
}

bool IsRunTag(const std::wstring& tag) {
    if (tag.size() != 32) return false;
    for (wchar_t c : tag) {
        if (!((c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F'))) return false;
    }
    return true;
}

// The paths of a list of pending renames: pairs of zero-terminated strings, the path with its NT
// prefix and an empty destination; the list itself may end with an extra zero.
std::vector<std::wstring> ScheduledPaths(const std::wstring& list) {
    std::vector<std::wstring> paths;
    std::size_t at = 0;
    while (at < list.size() && list[at] != L'\0') {
        const std::size_t end = list.find(L'\0', at);
        if (end == std::wstring::npos) break;
        std::wstring path = list.substr(at, end - at);
        if (path.rfind(L"\\??\\", 0) == 0) path.erase(0, 4);
        paths.push_back(path);
        // Past the destination, empty for a deletion.
        const std::size_t destinationEnd = list.find(L'\0', end + 1);
        if (destinationEnd == std::wstring::npos) break;
        at = destinationEnd + 1;
    }
    return paths;
}

// What was scheduled for deletion since the list read as before.
std::vector<std::wstring> ScheduledSince(const std::wstring& before) {
    const std::vector<std::wstring> earlier = ScheduledPaths(before);
    std::vector<std::wstring> now = ScheduledPaths(test_support::PendingFileRenames());
    now.erase(now.begin(), now.begin() + static_cast<std::ptrdiff_t>(std::min(earlier.size(), now.size())));
    return now;
}

class StagingPathsTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = test_support::MakeScratchFolder(L"transfer-staging");
        saved = {Variable(L"TMP"), Variable(L"TEMP")};
        UseTemp(root + L"\\");
        foldersBefore = RunFolders();
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"TMP", saved.first.c_str());
        SetEnvironmentVariableW(L"TEMP", saved.second.c_str());
        test_support::RemoveTree(MachineTemp() + L"\\BrimlowAIQuillo-" + kKnownTag);
        // Only the \\?\ form names a folder with a trailing dot.
        RemoveDirectoryW((L"\\\\?\\" + root + L"\\x.").c_str());
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

    std::wstring root;
    std::pair<std::wstring, std::wstring> saved;
    std::vector<std::wstring> foldersBefore;
};

TEST_F(StagingPathsTest, EachRunGetsAFolderOfItsOwnDirectlyInTheMachinesTemporaryFolder) {
    StagedRun run1;
    ASSERT_TRUE(MakeStagingPaths(run1));
    const std::wstring tag = run1.FolderPath().substr(run1.FolderPath().size() - 32);
    EXPECT_TRUE(IsRunTag(tag)) << transfer_test::Narrow(run1.FolderPath());
    EXPECT_TRUE(SamePath(run1.FolderPath(), MachineTemp() + L"\\BrimlowAIQuillo-" + tag))
        << transfer_test::Narrow(run1.FolderPath());
    EXPECT_EQ(run1.FinalPath(), run1.FolderPath() + L"\\BrimlowAIQuillo-Setup-" + tag + L".exe");
    EXPECT_EQ(run1.PartialPath(), run1.FinalPath() + L".part");
    EXPECT_TRUE(run1.IsMade());
    EXPECT_EQ(CountEntries(run1.FolderPath()), 0) << "no file is made for the run yet";

    StagedRun run2;
    ASSERT_TRUE(MakeStagingPaths(run2));
    EXPECT_NE(run2.FolderPath(), run1.FolderPath());

    // Nothing was made in the user's temporary folder.
    EXPECT_EQ(CountEntries(root), 0);
    run1.Remove();
    run2.Remove();
    EXPECT_FALSE(run1.IsMade());
    EXPECT_FALSE(FileExists(run1.FolderPath()));
    EXPECT_FALSE(FileExists(run2.FolderPath()));
    EXPECT_EQ(RunFolders(), foldersBefore);
}

TEST_F(StagingPathsTest, TheRunFolderIsAdministratorsAndSystemOnlyAndInheritsNothing) {
    const UniqueLocalMemory security = transfer_internal::MakeRunFolderSecurity();
    ASSERT_TRUE(security);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(security.Get(), &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED) << "no entry may be inherited from above";
    EXPECT_TRUE(control & SE_DACL_PRESENT);

    LPWSTR text = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
        security.Get(), SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr));
    const std::wstring sddl = text;
    LocalFree(text);
    EXPECT_EQ(sddl, L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
}

TEST_F(StagingPathsTest, WhatTheUsersTemporaryVariablesNameChangesNothing) {
    // A folder named with a trailing dot (which a path without \\?\ would read as "x", a folder the user
    // also made), a link (a host symbolic link, tmp-link -> real-tmp, made by the CTest fixture), and a
    // folder that does not exist.
    const std::wstring linked = test_support::HarnessPath("transfer-link");
    CreateDirectoryW((L"\\\\?\\" + root + L"\\x.").c_str(), nullptr);
    CreateDirectoryW((root + L"\\x").c_str(), nullptr);
    const std::wstring temps[] = {L"\\\\?\\" + root + L"\\x.\\", root + L"\\x.\\", linked + L"\\tmp-link\\",
                                  root + L"\\missing\\"};
    for (const std::wstring& temp : temps) {
        SCOPED_TRACE(transfer_test::Narrow(temp));
        UseTemp(temp);
        StagedRun run;
        ASSERT_TRUE(MakeStagingPaths(run));
        EXPECT_TRUE(SamePath(run.FolderPath().substr(0, MachineTemp().size() + 1), MachineTemp() + L"\\"));
        run.Remove();
    }
    EXPECT_EQ(CountEntries(root), 2) << "only x. and x, both empty";
    EXPECT_EQ(CountEntries(root + L"\\x"), 0);
    EXPECT_EQ(CountEntries(linked + L"\\real-tmp"), 0);
    EXPECT_EQ(RunFolders(), foldersBefore);
}

// Same volume and file ID.
bool SameObject(HANDLE a, const std::wstring& path) {
    const UniqueFile b(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    FILE_ID_INFO first = {};
    FILE_ID_INFO second = {};
    return b && GetFileInformationByHandleEx(a, FileIdInfo, &first, sizeof(first)) &&
           GetFileInformationByHandleEx(b.Get(), FileIdInfo, &second, sizeof(second)) &&
           first.VolumeSerialNumber == second.VolumeSerialNumber &&
           memcmp(&first.FileId, &second.FileId, sizeof(first.FileId)) == 0;
}

TEST_F(StagingPathsTest, APathIsHandedOnOnlyWhenItReachesTheHeldFolder) {
    // "x." and "x" side by side: the short form of x.'s path names x. Windows reports x. in the long
    // form, which is kept; this Wine reports it without its dot, which names x too, so no path is given.
    const std::wstring dotted = L"\\\\?\\" + root + L"\\x.";
    CreateDirectoryW(dotted.c_str(), nullptr);
    CreateDirectoryW((root + L"\\x").c_str(), nullptr);
    ASSERT_NE(GetFileAttributesW(dotted.c_str()), INVALID_FILE_ATTRIBUTES);
    const struct {
        std::wstring open;
        bool shortForm;
    } cases[] = {{dotted, false}, {root + L"\\x", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(transfer_test::Narrow(c.open));
        const UniqueFile held(CreateFileW(c.open.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        ASSERT_TRUE(held);
        std::wstring path;
        if (!transfer_internal::HeldObjectPath(held.Get(), 0, path)) {
            EXPECT_FALSE(c.shortForm) << "the short form reaches x itself";
            std::printf("  no path names %s here\n", transfer_test::Narrow(c.open).c_str());
            continue;
        }
        EXPECT_EQ(path.rfind(L"\\\\?\\", 0) != 0, c.shortForm) << transfer_test::Narrow(path);
        EXPECT_TRUE(SameObject(held.Get(), path)) << transfer_test::Narrow(path);
    }
}

TEST_F(StagingPathsTest, AnEntryAlreadyUnderTheRunsNameIsRefusedAndLeftAlone) {
    // Someone who learnt the run's name first, in the machine's temporary folder.
    const std::wstring planted = MachineTemp() + L"\\BrimlowAIQuillo-" + kKnownTag;
    const struct {
        const char* what;
        void (*plant)(const std::wstring& planted);
    } cases[] = {
        {"file", [](const std::wstring& path) { test_support::WriteWholeFile(path, "planted"); }},
        {"folder",
         [](const std::wstring& path) {
             CreateDirectoryW(path.c_str(), nullptr);
             test_support::WriteWholeFile(path + L"\\inside", "planted");
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.plant(planted);
        StagedRun run;
        EXPECT_FALSE(transfer_internal::MakeStagingPaths(run, StagingCalls{KnownGuid}));
        EXPECT_TRUE(run.FinalPath().empty());
        EXPECT_FALSE(run.IsMade());
        EXPECT_TRUE(FileExists(planted));
        test_support::RemoveTree(planted);
    }

    // With nothing in the way, the same name is the run's.
    StagedRun run;
    ASSERT_TRUE(transfer_internal::MakeStagingPaths(run, StagingCalls{KnownGuid}));
    EXPECT_TRUE(SamePath(run.FolderPath(), planted));
}

TEST_F(StagingPathsTest, TheDownloadWritesThroughTheRunsHandleAndAFailedOneGoesThroughItToo) {
    test_support::WriteRoutes("transfer_staging", R"({"/transfer/staging/package": {"body": "MZ package"}})");
    const PackageEntry good{transfer_test::LocalUrl("/transfer/staging/package"),
                            transfer_test::Widen(transfer_test::Sha256Hex("MZ package")), 10};
    PackageEntry wrongDigest = good;
    wrongDigest.sha256 = std::wstring(64, L'0');

    {
        StagedRun run;
        ASSERT_TRUE(MakeStagingPaths(run));
        ASSERT_TRUE(run.CreatePartialFile());
        const HANDLE file = run.PartialFile();
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        EXPECT_STREQ(run.CreatePartialFile().Text(), L"Could not create the temporary installer file.")
            << "one partial file per run";
        EXPECT_STREQ(DownloadPackageInto(wrongDigest, file, nullptr).Text(),
                     L"Security check failed: the installer SHA-256 does not match.");
        const std::wstring folder = run.FolderPath();
        run.Remove();
        EXPECT_FALSE(FileExists(run.PartialPath()));
        EXPECT_FALSE(FileExists(folder));
    }
    {
        StagedRun run;
        ASSERT_TRUE(MakeStagingPaths(run));
        // Only a file the run makes itself: a name already taken is refused, and the entry goes with
        // the run's folder.
        test_support::WriteWholeFile(run.PartialPath(), "already there");
        const Outcome created = run.CreatePartialFile();
        EXPECT_STREQ(created.Text(), L"Could not create the temporary installer file.");
        EXPECT_EQ(created.SystemError(), static_cast<std::uint32_t>(ERROR_FILE_EXISTS));
        EXPECT_EQ(run.PartialFile(), INVALID_HANDLE_VALUE);
        EXPECT_STREQ(run.PromotePartialFile().Text(), L"Could not prepare the verified installer.");
        run.Remove();
        EXPECT_FALSE(FileExists(run.FolderPath()));
    }
    StagedRun run;
    ASSERT_TRUE(MakeStagingPaths(run));
    EXPECT_STREQ(run.LockFinalFile().Text(), L"Could not lock the installer for final security verification.")
        << "nothing to lock before the rename";
    ASSERT_TRUE(run.CreatePartialFile());
    const Outcome downloaded = DownloadPackageInto(good, run.PartialFile(), nullptr);
    ASSERT_TRUE(downloaded) << transfer_test::Narrow(downloaded.Text());
    transfer_test::RemoveRoutes("transfer_staging");
    ASSERT_TRUE(run.PromotePartialFile());
    EXPECT_FALSE(FileExists(run.PartialPath()));
    ASSERT_TRUE(run.LockFinalFile());
    EXPECT_EQ(test_support::ReadWholeFile(run.FinalPath()), "MZ package");
    const HANDLE writer = CreateFileW(run.FinalPath().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE) << "the installer lock keeps writers out";
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    run.Remove();
    EXPECT_FALSE(FileExists(run.FinalPath()));
    EXPECT_FALSE(FileExists(run.FolderPath()));
}

TEST_F(StagingPathsTest, WhatCanGoGoesAtOnceAndOnlyWhatIsInUseIsScheduledByRunFolderPaths) {
    StagedRun run;
    ASSERT_TRUE(MakeStagingPaths(run));
    const std::wstring folder = run.FolderPath();
    // Left behind by the setup program: a file, a read-only file and a folder with a file in it.
    test_support::WriteWholeFile(folder + L"\\setup.log", "left");
    test_support::WriteWholeFile(folder + L"\\readonly.dat", "left");
    SetFileAttributesW((folder + L"\\readonly.dat").c_str(), FILE_ATTRIBUTE_READONLY);
    CreateDirectoryW((folder + L"\\cache").c_str(), nullptr);
    test_support::WriteWholeFile(folder + L"\\cache\\part.bin", "left");
    // Still open without delete sharing, as a setup program's leftover child can hold one.
    const std::wstring inUse = folder + L"\\cache\\in-use.dll";
    test_support::WriteWholeFile(inUse, "in use");
    HANDLE holder = CreateFileW(inUse.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);

    const std::wstring pendingBefore = test_support::PendingFileRenames();
    run.Remove();
    EXPECT_FALSE(FileExists(folder + L"\\setup.log"));
    EXPECT_FALSE(FileExists(folder + L"\\readonly.dat"));
    EXPECT_FALSE(FileExists(folder + L"\\cache\\part.bin"));
    EXPECT_TRUE(FileExists(inUse));
    const std::vector<std::wstring> scheduled = ScheduledSince(pendingBefore);
    CloseHandle(holder);

    const std::vector<std::wstring> expected = {inUse, folder + L"\\cache", folder};
    ASSERT_EQ(scheduled.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_TRUE(SamePath(scheduled[i], expected[i])) << transfer_test::Narrow(scheduled[i]);
    }
    test_support::RemoveTree(folder);
}

}  // namespace
