// The driver's every way to end, with stand-in stages around real files, rename and installer lock.
#include <objbase.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "manifest/release_manifest.h"
#include "setup/architecture.h"
#include "setup/confirm_install.h"
#include "setup/dll_redirection.h"
#include "setup/setup_driver.h"
#include "staging/staged_run.h"
#include "transfer/download_observer.h"
#include "trust/installer_trust.h"
#include "ui/progress_window.h"
#include "harness/test_support.h"

namespace {

using test_support::CountEntries;
using test_support::FileExists;

// What the stand-ins do and what they saw, reset for every case.
struct World {
    std::wstring folder;
    // The run's real folder and files, as the staging stand-in made them.
    std::wstring runFolder;
    std::wstring partialPath;
    std::wstring finalPath;
    std::vector<std::wstring> events;
    HRESULT comResult = S_OK;
    bool fetchOk = true;
    std::wstring fetchError;
    std::uint32_t downloadSystemError = 0;
    bool validOk = true;
    bool published = true;
    bool native64 = true;
    int confirmResult = kInstallButtonId;
    bool createOk = true;
    // Whether the stand-in window is open: created and not yet destroyed.
    bool windowOpen = false;
    bool stagingOk = true;
    bool finalIsFolder = false;
    bool partialTaken = false;
    bool downloadOk = true;
    std::wstring downloadError;
    std::function<void(const std::wstring&)> afterRename;
    bool lockedMatches = true;
    TrustVerdict::Kind trustKind = TrustVerdict::Kind::Trusted;
    bool launchOk = true;
    std::uint32_t installerExit = 0;
    // Seen while the stand-ins ran.
    std::uint64_t downloadedSize = 0;
    HANDLE holder = INVALID_HANDLE_VALUE;
    bool lockBlockedWriter = false;
    std::wstring boxText;
    UINT boxStyle = 0;
    int boxes = 0;
    bool downloadAtBox = false;
    bool runFolderAtBox = false;
    bool otherOpener = false;
};
World world;

std::wstring RunFolder() { return world.runFolder; }
std::wstring PartialPath() { return world.partialPath; }
std::wstring FinalPath() { return world.finalPath; }

const SetupStages kStandIns = {
    .coInitializeEx = [](LPVOID, DWORD) { world.events.push_back(L"CoInitializeEx"); return world.comResult; },
    .coUninitialize = [] { world.events.push_back(L"CoUninitialize"); },
    .fetchReleaseManifest = [](Utf8String& body) {
        world.events.push_back(L"fetch");
        body = "{}";
        return world.fetchOk ? Outcome() : Outcome::Failure(world.fetchError.c_str());
    },
    .validateReleaseManifest = [](const Utf8String&, ReleaseManifest& manifest) {
        world.events.push_back(L"validate");
        manifest.published = world.published;
        manifest.version = L"2.3.1";
        manifest.publisher = L"BRIMLOW AI LABS PRIVATE LIMITED";
        manifest.x64 = {L"https://x/64", L"AA", 64};
        manifest.x86 = {L"https://x/86", L"BB", 86};
        return world.validOk;
    },
    .isNative64BitWindows = [] { return world.native64; },
    .confirmInstall = [](const ReleaseManifest&) { world.events.push_back(L"confirm"); return world.confirmResult; },
    .createProgress = [](ProgressWindow&, const WideString&) {
        world.events.push_back(L"create");
        world.windowOpen = world.createOk;
        return world.createOk;
    },
    .showStatus = [](ProgressWindow&, const WideString& status, const WideString&) {
        world.events.push_back(L"status:" + status);
    },
    .updateProgress = [](ProgressWindow&, std::uint64_t received, std::uint64_t total) {
        world.events.push_back(L"progress:" + std::to_wstring(received) + L"/" + std::to_wstring(total));
    },
    .destroyProgress = [](ProgressWindow&) {
        world.events.push_back(world.windowOpen ? L"destroy" : L"destroy-empty");
        world.windowOpen = false;
    },
    .staging =
        {
            .downloadInto = [](const PackageEntry& package, HANDLE partial, DownloadObserver* observer) {
                world.events.push_back(L"download");
                world.downloadedSize = package.size;
                EXPECT_NE(observer, nullptr);
                if (!world.downloadOk) {
                    return Outcome::Failure(world.downloadError.c_str(), world.downloadSystemError);
                }
                DWORD written = 0;
                return WriteFile(partial, "MZ package", 10, &written, nullptr) && written == 10
                           ? Outcome()
                           : Outcome::Failure(L"Could not securely save the downloaded installer.");
            },
            .fileMatchesPackage = [](HANDLE lock, const PackageEntry&) {
                world.events.push_back(L"rehash");
                EXPECT_NE(lock, INVALID_HANDLE_VALUE);
                return world.lockedMatches
                           ? Outcome()
                           : Outcome::Failure(L"Security check failed: the installer SHA-256 does not match.");
            },
            .verifyTrust = [](HANDLE lock, const WideString& final, const WideString& publisher) {
                world.events.push_back(L"trust");
                EXPECT_NE(lock, INVALID_HANDLE_VALUE);
                EXPECT_EQ(publisher, L"BRIMLOW AI LABS PRIVATE LIMITED");
                HANDLE writer = CreateFileW(final.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, 0, nullptr);
                world.lockBlockedWriter = writer == INVALID_HANDLE_VALUE;
                if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
                TrustVerdict verdict;
                verdict.kind = world.trustKind;
                if (verdict.kind == TrustVerdict::Kind::NotTrusted) verdict.trustResult = TRUST_E_NOSIGNATURE;
                if (verdict.kind == TrustVerdict::Kind::PublisherMismatch) verdict.signer = L"Someone Else";
                return verdict;
            },
        },
    .openRunFolder = [](StagedRun& run) {
        world.events.push_back(L"staging");
        if (!world.stagingOk) return Outcome::Failure(L"The installer could not be downloaded.");
        // The real run folder, in the machine's temporary folder.
        if (Outcome staged = run.Open(); !staged) return staged;
        world.runFolder = run.FolderPath();
        world.partialPath = run.PartialPath();
        world.finalPath = run.FinalPath();
        if (world.partialTaken) test_support::WriteWholeFile(run.PartialPath(), "already there");
        if (world.finalIsFolder) {
            CreateDirectoryW(FinalPath().c_str(), nullptr);
            test_support::WriteWholeFile(FinalPath() + L"\\keep", "x");
        }
        return Outcome();
    },
    // The real rename; then a test may act in the window an attacker would use, before the lock.
    .promotePartialFile = [](StagedRun& run) {
        Outcome promoted = run.Promote();
        if (promoted && world.afterRename) world.afterRename(run.FinalPath());
        return promoted;
    },
    .launchInstaller = [](const VerifiedInstaller& installer, std::uint32_t& exitCode) {
        world.events.push_back(L"launch:" + std::to_wstring(exitCode));
        const std::wstring& final = installer.Path();
        const std::wstring& runFolder = installer.Folder();
        EXPECT_EQ(installer.TempFolder(), runFolder + L"\\Temp");
        EXPECT_EQ(runFolder, RunFolder());
        EXPECT_EQ(final.substr(0, runFolder.size() + 1), runFolder + L"\\");
        EXPECT_TRUE(FileExists(final));
        EXPECT_FALSE(DeleteFileW(final.c_str())) << "the installer lock must keep the file while it runs";
        if (!world.launchOk) return Outcome::Failure(L"The verified installer could not be started.");
        exitCode = world.installerExit;
        return Outcome();
    },
    .showErrorBox = [](const WideString& text, UINT style) {
        world.events.push_back(L"box");
        world.boxText = text;
        world.boxStyle = style;
        ++world.boxes;
        // The user reads the box with the download already gone.
        world.downloadAtBox = FileExists(PartialPath()) || FileExists(FinalPath());
        world.runFolderAtBox = FileExists(RunFolder());
    },
    .showPlainErrorBox = [](const WideString& text, UINT style) {
        world.events.push_back(L"plain-box");
        world.boxText = text;
        world.boxStyle = style;
        ++world.boxes;
    },
};

class SetupDriver : public ::testing::Test {
protected:
    void SetUp() override {
        if (world.holder != INVALID_HANDLE_VALUE) CloseHandle(world.holder);
        world = World{};
        world.folder = test_support::MakeScratchFolder(L"driver");
    }

    SetupResult Run() { return RunSetup(kStandIns); }

    static std::size_t IndexOf(const std::wstring& event) {
        for (std::size_t i = 0; i < world.events.size(); ++i)
            if (world.events[i] == event) return i;
        return SIZE_MAX;
    }
    static void ExpectBox(const std::wstring& text, UINT style) {
        EXPECT_EQ(world.boxes, 1);
        EXPECT_EQ(world.boxText, text);
        EXPECT_EQ(world.boxStyle, style);
    }
    // CoUninitialize exactly once, after the box, as the last thing.
    static void ExpectUninitializedLast() {
        ASSERT_FALSE(world.events.empty());
        EXPECT_EQ(world.events.back(), L"CoUninitialize");
        int count = 0;
        for (auto& e : world.events) count += e == L"CoUninitialize";
        EXPECT_EQ(count, 1);
    }
    // Nothing of the run is left: neither file, nor the run folder, unless something the test planted
    // keeps the folder (it is then scheduled for the next restart).
    static void ExpectNoDownloadLeft() {
        EXPECT_FALSE(FileExists(PartialPath()));
        EXPECT_FALSE(FileExists(FinalPath()));
        if (!world.otherOpener) {
            EXPECT_FALSE(FileExists(RunFolder()));
        }
    }
};

constexpr UINT kError = MB_ICONERROR;

TEST_F(SetupDriver, AHealthyRunLaunchesTheVerifiedFileAndReturnsZero) {
    EXPECT_EQ(Run(), SetupResult::Success);
    EXPECT_EQ(world.boxes, 0);
    const std::vector<std::wstring> expected = {
        L"CoInitializeEx", L"fetch", L"validate", L"confirm", L"create",
        L"status:Downloading the verified installer\u2026", L"staging", L"download",
        L"status:Verifying publisher and file integrity\u2026", L"progress:64/64", L"rehash", L"trust", L"destroy",
        L"launch:1", L"destroy-empty", L"CoUninitialize"};
    EXPECT_EQ(world.events, expected);
    EXPECT_TRUE(world.lockBlockedWriter);
    ExpectNoDownloadLeft();
    EXPECT_EQ(CountEntries(world.folder), 0);
}

TEST_F(SetupDriver, TheInstallersExitCodeMapsToZeroOrTen) {
    for (std::uint32_t code : {0u, 1u, 3010u, 0xFFFFFFFFu}) {
        SetUp();
        world.installerExit = code;
        EXPECT_EQ(Run(), code == 0 ? SetupResult::Success : SetupResult::InstallerFailed) << code;
        ExpectNoDownloadLeft();
    }
}

TEST_F(SetupDriver, TheArchitecturePicksThePackage) {
    world.native64 = true;
    Run();
    EXPECT_EQ(world.downloadedSize, 64u);
    SetUp();
    world.native64 = false;
    Run();
    EXPECT_EQ(world.downloadedSize, 86u);
}

TEST_F(SetupDriver, DecliningEndsWithZeroAndNothingElse) {
    for (int answer : {IDCANCEL, IDNO, 0, 1000}) {
        SetUp();
        world.confirmResult = answer;
        EXPECT_EQ(Run(), SetupResult::Success);
        EXPECT_EQ(world.boxes, 0);
        EXPECT_EQ(IndexOf(L"create"), SIZE_MAX);
        EXPECT_EQ(IndexOf(L"staging"), SIZE_MAX);
        ExpectUninitializedLast();
        EXPECT_EQ(CountEntries(world.folder), 0);
    }
}

TEST_F(SetupDriver, ComThatCannotStartEndsWithCodeOneAndNoUninitialize) {
    world.comResult = E_OUTOFMEMORY;
    EXPECT_EQ(Run(), SetupResult::ComInitFailed);
    ExpectBox(L"Windows could not initialize the installer.", kError);
    EXPECT_EQ(IndexOf(L"CoUninitialize"), SIZE_MAX);
    EXPECT_EQ(IndexOf(L"fetch"), SIZE_MAX);
}

TEST_F(SetupDriver, ComAlreadyInAnotherModeOnThisThreadIsARealInitFailure) {
    // A real condition: this thread joined the multithreaded apartment first.
    ASSERT_GE(CoInitializeEx(nullptr, COINIT_MULTITHREADED), 0);
    SetupStages stages = kStandIns;
    stages.coInitializeEx = kSystemStages.coInitializeEx;
    EXPECT_EQ(RunSetup(stages), SetupResult::ComInitFailed);
    ExpectBox(L"Windows could not initialize the installer.", kError);
    CoUninitialize();
}

TEST_F(SetupDriver, ComAlreadyInitializedAsSingleThreadedCountsAsSuccess) {
    world.comResult = S_FALSE;
    EXPECT_EQ(Run(), SetupResult::Success);
    ExpectUninitializedLast();
}

struct FailureCase {
    const char* name;
    std::function<void()> arrange;
    std::wstring text;
    UINT style;
    SetupResult code;
    const wchar_t* destroyBefore;  // an event that must come before the box, or null
};

TEST_F(SetupDriver, EveryFailureShowsItsBoxReturnsItsCodeAndLeavesNoFile) {
    const std::vector<FailureCase> cases = {
        {"the manifest cannot be fetched", [] { world.fetchOk = false; world.fetchError = L"Could not read release information."; },
         L"Could not read release information.", kError, SetupResult::ManifestFetchFailed, nullptr},
        {"the manifest is invalid", [] { world.validOk = false; }, L"Release metadata failed strict security validation.", kError,
         SetupResult::ManifestInvalid, nullptr},
        {"the release is not published", [] { world.published = false; },
         L"The signed online release is not available yet. Please try again later.", MB_ICONINFORMATION,
         SetupResult::ReleaseNotPublished, nullptr},
        {"the progress window cannot open", [] { world.createOk = false; },
         L"Windows could not open the secure installation progress window.", kError, SetupResult::DownloadFailed,
         nullptr},
        {"the staging folder cannot be made", [] { world.stagingOk = false; }, L"The installer could not be downloaded.", kError,
         SetupResult::DownloadFailed, L"destroy"},
        {"the partial file's name is taken", [] { world.partialTaken = true; },
         L"Could not create the temporary installer file.", kError, SetupResult::DownloadFailed, L"destroy"},
        {"the download fails with a reason", [] { world.downloadOk = false; world.downloadError = L"Download cancelled."; },
         L"Download cancelled.", kError, SetupResult::DownloadFailed, L"destroy"},
        {"the download fails with a system error: the user reads only the sentence",
         [] {
             world.downloadOk = false;
             world.downloadError = L"The installer download was interrupted.";
             world.downloadSystemError = 12002;
         },
         L"The installer download was interrupted.", kError, SetupResult::DownloadFailed, L"destroy"},
        {"the rename meets a folder", [] { world.finalIsFolder = true; }, L"Could not prepare the verified installer.",
         kError, SetupResult::PrepareFailed, L"destroy"},
        {"the lock meets an opener that denies reading",
         [] {
             world.afterRename = [](const std::wstring& final) {
                 // Allows delete but not read, so the lock cannot open and the clean-up can still delete.
                 world.holder = CreateFileW(final.c_str(), GENERIC_READ, FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, 0, nullptr);
                 world.events.push_back(world.holder == INVALID_HANDLE_VALUE ? L"hold-failed" : L"held");
                 world.otherOpener = true;
             };
         },
         L"Could not lock the installer for final security verification.", kError, SetupResult::VerificationFailed,
         L"destroy"},
        {"file replaced before the lock", [] { world.lockedMatches = false; },
         L"Security check failed: the installer SHA-256 does not match.", kError, SetupResult::VerificationFailed,
         L"destroy"},
        {"the Authenticode check fails",
         [] {
             world.trustKind = TrustVerdict::Kind::NotTrusted;
         },
         L"Security check failed: the downloaded installer does not have a valid trusted Authenticode signature.",
         kError, SetupResult::VerificationFailed, L"destroy"},
        {"the publisher does not match", [] { world.trustKind = TrustVerdict::Kind::PublisherMismatch; },
         L"Security check failed: the installer publisher does not match Brimlow AI Labs.", kError,
         SetupResult::VerificationFailed, L"destroy"},
        {"the signer's name cannot be read", [] { world.trustKind = TrustVerdict::Kind::NoSigner; },
         L"Security check failed: the installer publisher does not match Brimlow AI Labs.", kError,
         SetupResult::VerificationFailed, L"destroy"},
        {"the launch fails", [] { world.launchOk = false; }, L"The verified installer could not be started.", kError,
         SetupResult::LaunchFailed, L"destroy"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        c.arrange();
        EXPECT_EQ(Run(), c.code);
        ExpectBox(c.text, c.style);
        ExpectUninitializedLast();
        if (c.destroyBefore) {
            EXPECT_LT(IndexOf(c.destroyBefore), IndexOf(L"box"));
        }
        if (c.code == SetupResult::DownloadFailed && IndexOf(L"create") != SIZE_MAX && c.destroyBefore == nullptr) {
            // The window never opened: the box comes first, then a Destroy that finds nothing.
            EXPECT_LT(IndexOf(L"box"), IndexOf(L"destroy-empty"));
        }
        if (c.code <= SetupResult::ReleaseNotPublished) {
            EXPECT_EQ(IndexOf(L"confirm"), SIZE_MAX);
        }
        // Where another opener holds the file, its delete is pending until that opener lets go (Wine still
        // shows a file in that state; Windows does not).
        if (world.holder == INVALID_HANDLE_VALUE) {
            EXPECT_FALSE(world.downloadAtBox) << "a downloaded file was still there when the box showed";
            EXPECT_FALSE(world.runFolderAtBox) << "the run folder was still there when the box showed";
        }
        if (world.holder != INVALID_HANDLE_VALUE) {
            CloseHandle(world.holder);
            world.holder = INVALID_HANDLE_VALUE;
        }
        ExpectNoDownloadLeft();
        EXPECT_EQ(IndexOf(L"launch:1") != SIZE_MAX, c.code == SetupResult::LaunchFailed);
    }
}

TEST_F(SetupDriver, AFileReplacedBetweenTheRenameAndTheLockIsNeverStarted) {
    // The real re-check over the lock handle; the download wrote "MZ package", whose digest the manifest
    // names, and a same-user process swaps in other bytes of the same size before the lock is taken.
    SetupStages stages = kStandIns;
    stages.staging.fileMatchesPackage = kSystemStages.staging.fileMatchesPackage;
    stages.validateReleaseManifest = [](const Utf8String&, ReleaseManifest& manifest) {
        manifest.published = true;
        manifest.version = L"2.3.1";
        manifest.publisher = L"BRIMLOW AI LABS PRIVATE LIMITED";
        const PackageEntry package = {L"https://x/p", L"3616e1e05dd92c8865de5be713e88b95055943eb9daa6df4f2b4a4bedceb12a2", 10};
        manifest.x64 = package;
        manifest.x86 = package;
        return true;
    };
    world.afterRename = [](const std::wstring& final) { test_support::WriteWholeFile(final, "MZ packagf"); };
    EXPECT_EQ(RunSetup(stages), SetupResult::VerificationFailed);
    ExpectBox(L"Security check failed: the installer SHA-256 does not match.", kError);
    EXPECT_EQ(IndexOf(L"trust"), SIZE_MAX);
    EXPECT_EQ(IndexOf(L"launch:1"), SIZE_MAX);
    ExpectNoDownloadLeft();

    // Unchanged, the same file passes the re-check and runs.
    SetUp();
    EXPECT_EQ(RunSetup(stages), SetupResult::Success);
    EXPECT_NE(IndexOf(L"launch:1"), SIZE_MAX);
}

TEST_F(SetupDriver, DllRedirectionBesideTheProgramEndsTheRunBeforeAnythingElse) {
    // Planted beside the program: the box with the initialisation text, code 1, drawn without Common
    // Controls.
    EXPECT_EQ(RefuseDllRedirection(DllRedirection::Planted, kStandIns), SetupResult::ComInitFailed);
    ExpectBox(L"Windows could not initialize the installer.", kError);
    const std::vector<std::wstring> onlyTheBox = {L"plain-box"};
    EXPECT_EQ(world.events, onlyTheBox);

    // In force: no box either, since drawing one would load Common Controls through the redirection.
    SetUp();
    EXPECT_EQ(RefuseDllRedirection(DllRedirection::InForce, kStandIns), SetupResult::ComInitFailed);
    EXPECT_TRUE(world.events.empty());
}

TEST(DllRedirection, AnEntryBesideTheProgramAndTheLoadersFlagAreBothSeen) {
    EXPECT_EQ(FindDllRedirection(), DllRedirection::None);

    // A .local file beside this test program, as one beside the web setup.
    wchar_t self[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    const std::wstring local = std::wstring(self) + L".local";
    test_support::WriteWholeFile(local, "planted");
    EXPECT_EQ(FindDllRedirection(), DllRedirection::Planted);
    DeleteFileW(local.c_str());

    // The flag the loader sets when it applies .local redirection (this Wine never sets it), set here in
    // this process's own parameters: it is read from where the platform keeps it.
    PROCESS_BASIC_INFORMATION basic = {};
    ASSERT_GE(NtQueryInformationProcess(GetCurrentProcess(), ProcessBasicInformation, &basic, sizeof(basic), nullptr),
              0);
    auto* head = reinterpret_cast<ProcessParametersHead*>(basic.PebBaseAddress->ProcessParameters);
    const ULONG saved = head->flags;
    head->flags = saved | kProcessDllRedirectionLocal;
    EXPECT_EQ(FindDllRedirection(), DllRedirection::InForce);
    head->flags = saved;
    EXPECT_EQ(FindDllRedirection(), DllRedirection::None);
}

// The activation context's answer for Common Controls, as Windows can give it and this Wine never does:
// the assembly's manifest and folder at a place of the test's choosing.
std::wstring fakeManifestPath;
std::wstring fakeFolderName;
BOOL WINAPI FakeQueryActCtx(DWORD, HANDLE, PVOID, ULONG, PVOID buffer, SIZE_T size, SIZE_T* needed) {
    const SIZE_T want = sizeof(ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION);
    *needed = want;
    if (size < want) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* info = static_cast<ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION*>(buffer);
    *info = {};
    info->lpAssemblyManifestPath = fakeManifestPath.c_str();
    info->lpAssemblyDirectoryName = fakeFolderName.c_str();
    return TRUE;
}

TEST(DllRedirection, CommonControlsMustResolveToTheSystemsSideBySideStore) {
    wchar_t windows[MAX_PATH] = {};
    GetSystemWindowsDirectoryW(windows, MAX_PATH);
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring beside = std::wstring(self).substr(0, std::wstring(self).rfind(L'\\'));
    const std::wstring store = std::wstring(windows) + L"\\WinSxS\\";
    const struct {
        const char* what;
        std::wstring manifest;
        std::wstring folder;
    } cases[] = {
        {"a private assembly beside the program", beside + L"\\Microsoft.Windows.Common-Controls.manifest",
         L"Microsoft.Windows.Common-Controls"},
        {"a folder name that climbs out of the store", store + L"manifests\\x.manifest", L"..\\..\\Users"},
        {"no folder name", store + L"manifests\\x.manifest", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fakeManifestPath = c.manifest;
        fakeFolderName = c.folder;
        RedirectionCalls calls;
        calls.queryActCtxW = FakeQueryActCtx;
        calls.loadLibraryExW = [](LPCWSTR, HANDLE, DWORD) -> HMODULE {
            ADD_FAILURE() << "Common Controls was loaded after a refusal";
            return nullptr;
        };
        EXPECT_EQ(FindDllRedirection(calls), DllRedirection::Planted);
    }

    // No Common Controls in the activation context at all (a program without the dependency): refused.
    RedirectionCalls none;
    none.findActCtxSectionStringW = [](DWORD, const GUID*, ULONG, LPCWSTR, PACTCTX_SECTION_KEYED_DATA) -> BOOL {
        SetLastError(ERROR_SXS_KEY_NOT_FOUND);
        return FALSE;
    };
    EXPECT_EQ(FindDllRedirection(none), DllRedirection::Planted);

    // A Common Controls that, loaded by name, came from elsewhere than the store: in force, no box.
    RedirectionCalls elsewhere;
    elsewhere.loadLibraryExW = [](LPCWSTR, HANDLE, DWORD) { return LoadLibraryExW(L"user32.dll", nullptr, 0); };
    EXPECT_EQ(FindDllRedirection(elsewhere), DllRedirection::InForce);

    // As it stands: the store's own, loaded, and nothing to refuse.
    EXPECT_EQ(FindDllRedirection(), DllRedirection::None);
    const HMODULE loaded = GetModuleHandleW(L"comctl32.dll");
    ASSERT_NE(loaded, nullptr);
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(loaded, path, MAX_PATH);
    EXPECT_EQ(CompareStringOrdinal(path, static_cast<int>(store.size()), store.c_str(), -1, TRUE), CSTR_EQUAL)
        << std::string(path, path + wcslen(path));
}

TEST(Architecture, SixtyFourBitWindowsMeansAmd64OrArm64) {
    const struct {
        WORD architecture;
        bool x64;
    } cases[] = {
        {PROCESSOR_ARCHITECTURE_AMD64, true}, {PROCESSOR_ARCHITECTURE_ARM64, true},
        {PROCESSOR_ARCHITECTURE_INTEL, false}, {PROCESSOR_ARCHITECTURE_ARM, false},
        {PROCESSOR_ARCHITECTURE_IA64, false},  {PROCESSOR_ARCHITECTURE_UNKNOWN, false},
    };
    for (const auto& c : cases) EXPECT_EQ(setup_internal::Is64BitArchitecture(c.architecture), c.x64) << c.architecture;
}

TEST(Architecture, TheWinePrefixIs64Bit) {
    EXPECT_TRUE(IsNative64BitWindows());
}

}  // namespace
