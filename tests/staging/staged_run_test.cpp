// The run folder in the machine's temporary folder, the one owner of the staged setup program, and the
// clean-up of this run and of earlier ones, with real folders, files, links and downloads. The user's
// temporary folder is pointed elsewhere by TMP and TEMP in some cases, to show that nothing is ever made
// there.
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
#include "staging/earlier_runs.h"
#include "staging/staged_run.h"
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

StagingCalls WithKnownGuid() {
    StagingCalls calls;
    calls.createGuid = KnownGuid;
    return calls;
}

// A trust check that passes, for cases about the files rather than the signature.
TrustVerdict Trusted(HANDLE, const WideString&, const WideString&) {
    TrustVerdict verdict;
    verdict.kind = TrustVerdict::Kind::Trusted;
    return verdict;
}

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

// Whether every run folder there is now was there before: the runs of a case left nothing. (A run may
// also have removed an earlier run's folder, which other tests left.)
bool NoNewRunFolders(const std::vector<std::wstring>& before) {
    for (const std::wstring& name : RunFolders()) {
        if (std::find(before.begin(), before.end(), name) == before.end()) return false;
    }
    return true;
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
    ASSERT_TRUE(run1.Open());
    const std::wstring tag = run1.FolderPath().substr(run1.FolderPath().size() - 32);
    EXPECT_TRUE(IsRunTag(tag)) << transfer_test::Narrow(run1.FolderPath());
    EXPECT_TRUE(SamePath(run1.FolderPath(), MachineTemp() + L"\\BrimlowAIQuillo-" + tag))
        << transfer_test::Narrow(run1.FolderPath());
    EXPECT_EQ(run1.FinalPath(), run1.FolderPath() + L"\\BrimlowAIQuillo-Setup-" + tag + L".exe");
    EXPECT_EQ(run1.PartialPath(), run1.FinalPath() + L".part");
    EXPECT_TRUE(run1.IsOpen());
    EXPECT_EQ(run1.TempFolderPath(), run1.FolderPath() + L"\\Temp");
    EXPECT_EQ(CountEntries(run1.FolderPath()), 1) << "only the setup program's temporary folder, no file yet";
    EXPECT_EQ(CountEntries(run1.TempFolderPath()), 0);

    StagedRun run2;
    ASSERT_TRUE(run2.Open());
    EXPECT_NE(run2.FolderPath(), run1.FolderPath());

    // Nothing was made in the user's temporary folder.
    EXPECT_EQ(CountEntries(root), 0);
    run1.Remove();
    run2.Remove();
    EXPECT_FALSE(run1.IsOpen());
    EXPECT_FALSE(FileExists(run1.FolderPath()));
    EXPECT_FALSE(FileExists(run2.FolderPath()));
    EXPECT_TRUE(NoNewRunFolders(foldersBefore));
}

TEST_F(StagingPathsTest, TheRunFolderIsAdministratorsAndSystemOnlyAndInheritsNothing) {
    const UniqueLocalMemory security = staging_internal::MakeRunFolderSecurity();
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
        ASSERT_TRUE(run.Open());
        EXPECT_TRUE(SamePath(run.FolderPath().substr(0, MachineTemp().size() + 1), MachineTemp() + L"\\"));
        run.Remove();
    }
    EXPECT_EQ(CountEntries(root), 2) << "only x. and x, both empty";
    EXPECT_EQ(CountEntries(root + L"\\x"), 0);
    EXPECT_EQ(CountEntries(linked + L"\\real-tmp"), 0);
    EXPECT_TRUE(NoNewRunFolders(foldersBefore));
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
        if (!staging_internal::HeldObjectPath(held.Get(), 0, path)) {
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
        StagedRun run(RunFolderPlace::MachineTemp, WithKnownGuid());
        EXPECT_FALSE(run.Open());
        EXPECT_TRUE(run.FinalPath().empty());
        EXPECT_FALSE(run.IsOpen());
        EXPECT_TRUE(FileExists(planted));
        test_support::RemoveTree(planted);
    }

    // With nothing in the way, the same name is the run's.
    StagedRun run(RunFolderPlace::MachineTemp, WithKnownGuid());
    ASSERT_TRUE(run.Open());
    EXPECT_TRUE(SamePath(run.FolderPath(), planted));
}

TEST_F(StagingPathsTest, TheDownloadWritesThroughTheRunsHandleAndOnlyWhatWasSealedAndVerifiedCanBeLaunched) {
    test_support::WriteRoutes("staging", R"({"/staging/package": {"body": "MZ package"}})");
    const PackageEntry good{transfer_test::LocalUrl("/staging/package"),
                            transfer_test::Widen(transfer_test::Sha256Hex("MZ package")), 10};
    PackageEntry wrongDigest = good;
    wrongDigest.sha256 = std::wstring(64, L'0');
    std::optional<VerifiedInstaller> verified;

    {
        StagedRun run;
        ASSERT_TRUE(run.Open());
        EXPECT_STREQ(run.Download(wrongDigest, nullptr).Text(),
                     L"Security check failed: the installer SHA-256 does not match.");
        EXPECT_FALSE(FileExists(run.PartialPath())) << "a failed download goes at once, through its handle";
        EXPECT_STREQ(run.Promote().Text(), L"Could not prepare the verified installer.");
        const std::wstring folder = run.FolderPath();
        run.Remove();
        EXPECT_FALSE(FileExists(folder));
    }
    {
        StagedRun run;
        ASSERT_TRUE(run.Open());
        // Only a file the run makes itself: a name already taken is refused, and the entry goes with
        // the run's folder.
        test_support::WriteWholeFile(run.PartialPath(), "already there");
        const Outcome created = run.Download(good, nullptr);
        EXPECT_STREQ(created.Text(), L"Could not create the temporary installer file.");
        EXPECT_EQ(created.SystemError(), static_cast<std::uint32_t>(ERROR_FILE_EXISTS));
        EXPECT_STREQ(run.Promote().Text(), L"Could not prepare the verified installer.");
        run.Remove();
        EXPECT_FALSE(FileExists(run.FolderPath()));
    }
    StagingCalls calls;
    calls.verifyTrust = Trusted;
    StagedRun run(RunFolderPlace::MachineTemp, calls);
    ASSERT_TRUE(run.Open());
    EXPECT_STREQ(run.Seal(good).Text(), L"Could not lock the installer for final security verification.")
        << "nothing to lock before the rename";
    EXPECT_STREQ(run.Verify(L"BRIMLOW AI LABS PRIVATE LIMITED", verified).Text(),
                 L"Security check failed: the downloaded installer does not have a valid trusted Authenticode "
                 L"signature.")
        << "nothing is verified before it is sealed";
    EXPECT_FALSE(verified);
    const Outcome downloaded = run.Download(good, nullptr);
    ASSERT_TRUE(downloaded) << transfer_test::Narrow(downloaded.Text());
    EXPECT_STREQ(run.Download(good, nullptr).Text(), L"Could not create the temporary installer file.")
        << "one partial file per run";
    transfer_test::RemoveRoutes("staging");
    ASSERT_TRUE(run.Promote());
    EXPECT_FALSE(FileExists(run.PartialPath()));
    ASSERT_TRUE(run.Seal(good));
    EXPECT_EQ(test_support::ReadWholeFile(run.FinalPath()), "MZ package");
    const HANDLE writer = CreateFileW(run.FinalPath().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE) << "the installer lock keeps writers out";
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    ASSERT_TRUE(run.Verify(L"BRIMLOW AI LABS PRIVATE LIMITED", verified));
    ASSERT_TRUE(verified);
    EXPECT_EQ(verified->Path(), run.FinalPath());
    EXPECT_EQ(verified->Folder(), run.FolderPath());
    EXPECT_EQ(verified->TempFolder(), run.TempFolderPath());
    run.Remove();
    EXPECT_FALSE(FileExists(run.FinalPath()));
    EXPECT_FALSE(FileExists(run.FolderPath()));
}

TEST_F(StagingPathsTest, TheLockedFileIsReadAgainAndAnotherPackagesBytesAreRefused) {
    StagingCalls calls;
    calls.downloadInto = [](const PackageEntry&, HANDLE file, DownloadObserver*) {
        DWORD written = 0;
        return WriteFile(file, "MZ packagf", 10, &written, nullptr) ? Outcome()
                                                                    : Outcome::Failure(L"write failed");
    };
    const PackageEntry package{L"https://x/p", transfer_test::Widen(transfer_test::Sha256Hex("MZ package")), 10};
    StagedRun run(RunFolderPlace::MachineTemp, calls);
    ASSERT_TRUE(run.Open());
    ASSERT_TRUE(run.Download(package, nullptr));
    ASSERT_TRUE(run.Promote());
    EXPECT_STREQ(run.Seal(package).Text(), L"Security check failed: the installer SHA-256 does not match.");
    std::optional<VerifiedInstaller> verified;
    EXPECT_FALSE(run.Verify(L"BRIMLOW AI LABS PRIVATE LIMITED", verified));
    EXPECT_FALSE(verified);
}

TEST_F(StagingPathsTest, WhatCanGoGoesAtOnceAndOnlyAFileStillInUseIsScheduledByItsPathInTheRunFolder) {
    StagedRun run;
    ASSERT_TRUE(run.Open());
    const std::wstring folder = run.FolderPath();
    // Left behind by the setup program: a file, a read-only file and a folder with a file in it.
    test_support::WriteWholeFile(folder + L"\\setup.log", "left");
    test_support::WriteWholeFile(folder + L"\\readonly.dat", "left");
    SetFileAttributesW((folder + L"\\readonly.dat").c_str(), FILE_ATTRIBUTE_READONLY);
    CreateDirectoryW((folder + L"\\cache").c_str(), nullptr);
    test_support::WriteWholeFile(folder + L"\\cache\\part.bin", "left");
    test_support::WriteWholeFile(run.TempFolderPath() + L"\\helper.dll", "left");
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
    EXPECT_FALSE(FileExists(folder + L"\\Temp"));
    EXPECT_TRUE(FileExists(inUse));
    const std::vector<std::wstring> scheduled = ScheduledSince(pendingBefore);
    ASSERT_EQ(scheduled.size(), 1u) << "only the file in use; never a folder, never the run folder's name";
    EXPECT_TRUE(SamePath(scheduled[0], inUse)) << transfer_test::Narrow(scheduled[0]);
    EXPECT_TRUE(FileExists(folder)) << "the folder stays for the next run";
    CloseHandle(holder);

    // The next run finds it let go and removes it (taking its descriptor as proved, which only Windows
    // keeps: see the killed run's case).
    StagingCalls trusting;
    trusting.provesRunFolder = [](HANDLE) { return true; };
    StagedRun next(RunFolderPlace::MachineTemp, trusting);
    ASSERT_TRUE(next.Open());
    EXPECT_FALSE(FileExists(folder)) << "an earlier run's folder goes when the next run starts";
    next.Remove();
    EXPECT_TRUE(NoNewRunFolders(foldersBefore));
}

// Runs killed_run.exe until its download has written data, kills it, and gives the folder it left.
std::wstring RunKilledMidDownload() {
    const std::wstring report = test_support::MakeScratchFolder(L"staging-killed") + L"\\folder.txt";
    const UniqueEvent ready(CreateEventW(nullptr, TRUE, FALSE, L"Local\\websetup-killed-run.ready"));
    wchar_t program[MAX_PATH] = {};
    GetEnvironmentVariableW(L"KILLED_RUN", program, MAX_PATH);
    std::wstring commandLine = L"\"" + std::wstring(program) + L"\" \"" + report + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!ready || !CreateProcessW(program, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                  &info)) {
        ADD_FAILURE() << "killed_run.exe did not start";
        return {};
    }
    const UniqueProcess process(info.hProcess);
    const UniqueThread thread(info.hThread);
    const HANDLE waits[] = {ready.Get(), process.Get()};
    const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, 30000);
    TerminateProcess(process.Get(), 1);
    WaitForSingleObject(process.Get(), 30000);
    if (woke != WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(process.Get(), &code);
        ADD_FAILURE() << "killed_run.exe never reached its download; exit code " << code;
        return {};
    }
    const std::string bytes = test_support::ReadWholeFile(report);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

// A folder outside every run, with files in it (transfer-fixtures.sh).
std::wstring Outside() { return test_support::HarnessPath("transfer-link/outside"); }
void ExpectOutsideUntouched() {
    EXPECT_EQ(test_support::ReadWholeFile(Outside() + L"\\kept.txt"), "outside\n");
    EXPECT_EQ(test_support::ReadWholeFile(Outside() + L"\\sub\\kept.txt"), "outside\n");
}

TEST_F(StagingPathsTest, ALinkInTheRunFolderIsRemovedAsALinkAndNeverEntered) {
    StagedRun run;
    ASSERT_TRUE(run.Open());
    // The setup program replaced the folder it made by a link to a folder outside.
    ASSERT_TRUE(test_support::MakeFolderLink(run.FolderPath() + L"\\cache", Outside()));
    ASSERT_TRUE(FileExists(run.FolderPath() + L"\\cache\\kept.txt")) << "the link leads outside";
    const std::wstring pendingBefore = test_support::PendingFileRenames();
    const std::wstring folder = run.FolderPath();
    run.Remove();
    EXPECT_TRUE(ScheduledSince(pendingBefore).empty());
    ExpectOutsideUntouched();
    if (test_support::RunsUnderWine()) {
        // Wine opens a host link's target even when asked for the link itself, so the link cannot be
        // removed through a handle there: it stays, with its folder, and nothing it leads to is touched.
        EXPECT_TRUE(FileExists(folder + L"\\cache"));
        test_support::RemoveFolderLink(folder + L"\\cache");
        test_support::RemoveTree(folder);
    }
    EXPECT_FALSE(FileExists(folder));
}

TEST_F(StagingPathsTest, AKilledRunsFolderIsRemovedByTheNextRunAndEverythingElseOfSuchANameIsLeft) {
    const std::wstring temp = MachineTemp() + L"\\";
    const std::wstring file = temp + L"BrimlowAIQuillo-00000000000000000000000000000001";
    const std::wstring userFolder = temp + L"BrimlowAIQuillo-00000000000000000000000000000002";
    const std::wstring link = temp + L"BrimlowAIQuillo-00000000000000000000000000000003";
    const std::wstring otherName = temp + L"BrimlowAIQuillo-0000000000000000000000000000000G";
    // Made as an unelevated process makes them: a file, a folder with the user's descriptor, a link to a
    // folder outside, and a folder whose name is not a run's.
    test_support::WriteWholeFile(file, "user's");
    ASSERT_TRUE(CreateDirectoryW(userFolder.c_str(), nullptr));
    test_support::WriteWholeFile(userFolder + L"\\kept.txt", "user's");
    ASSERT_TRUE(test_support::MakeFolderLink(link, Outside()));
    ASSERT_TRUE(CreateDirectoryW(otherName.c_str(), nullptr));
    // A run still held by its process, and one whose process was killed in the middle of its download.
    StagedRun live;
    ASSERT_TRUE(live.Open());
    test_support::WriteWholeFile(live.PartialPath(), "partial");
    const std::wstring killed = RunKilledMidDownload();
    ASSERT_FALSE(killed.empty());
    EXPECT_EQ(CountEntries(killed), 2) << "the partial file and the setup program's temporary folder";

    // First with the system's own proof. Wine keeps no descriptor of a folder: it makes one up, owned by
    // the user, for every folder, so there no folder is proved a run's and the killed run's stays too.
    {
        StagedRun next;
        ASSERT_TRUE(next.Open());
        EXPECT_NE(FileExists(killed), !test_support::RunsUnderWine());
        EXPECT_EQ(test_support::ReadWholeFile(userFolder + L"\\kept.txt"), "user's");
        next.Remove();
    }
    // Then with the descriptor taken as proved, as Windows reads back the run's own: only the folder
    // nobody holds goes, through handles.
    StagingCalls trusting;
    trusting.provesRunFolder = [](HANDLE) { return true; };
    StagedRun next(RunFolderPlace::MachineTemp, trusting);
    ASSERT_TRUE(next.Open());
    EXPECT_FALSE(FileExists(killed)) << "the killed run's folder is removed";
    EXPECT_TRUE(FileExists(live.PartialPath())) << "a running web setup's folder is left alone";
    EXPECT_EQ(test_support::ReadWholeFile(file), "user's");
    EXPECT_NE(GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u) << "the link is left";
    EXPECT_TRUE(FileExists(otherName));
    ExpectOutsideUntouched();

    next.Remove();
    live.Remove();
    DeleteFileW(file.c_str());
    test_support::RemoveTree(userFolder);
    test_support::RemoveFolderLink(link);
    RemoveDirectoryW(otherName.c_str());
    EXPECT_TRUE(NoNewRunFolders(foldersBefore));
}

TEST(RunFolderSecurity, OnlyTheRunsOwnOwnerAndProtectedListProveAFolderARuns) {
    const struct {
        const wchar_t* sddl;
        bool proves;
    } cases[] = {
        {L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", true},
        {L"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", true},
        // Owned by a user, as any user can make it.
        {L"O:S-1-5-21-1-2-3-1000D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", false},
        // Inheriting from above, or open to users.
        {L"O:BAD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", false},
        {L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;BU)", false},
        {L"O:BAD:P(A;OICI;FA;;;SY)", false},
        {L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)", false},
    };
    for (const auto& c : cases) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.sddl, SDDL_REVISION_1, &descriptor, nullptr));
        EXPECT_EQ(staging_internal::IsRunFolderSecurity(descriptor), c.proves) << transfer_test::Narrow(c.sddl);
        LocalFree(descriptor);
    }
}

TEST(RunFolderNames, OnlyThePrefixAnd32UpperCaseHexadecimalDigitsNameARun) {
    const struct {
        const wchar_t* name;
        bool run;
    } cases[] = {
        {L"BrimlowAIQuillo-6B29FC40CA471067B31D00DD010662DA", true},
        {L"BrimlowAIQuillo-6b29fc40ca471067b31d00dd010662da", false},
        {L"BrimlowAIQuillo-6B29FC40CA471067B31D00DD010662D", false},
        {L"BrimlowAIQuillo-6B29FC40CA471067B31D00DD010662DA0", false},
        {L"BrimlowAIQuillo-6B29FC40-CA47-1067-B31D-00DD010662DA", false},
        {L"BrimlowAIQuillo-Setup-6B29FC40CA471067B31D00DD0106", false},
        {L"brimlowaiquillo-6B29FC40CA471067B31D00DD010662DA", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(staging_internal::IsRunFolderName(c.name), c.run) << transfer_test::Narrow(c.name);
    }
}

}  // namespace
