#pragma once
// A run's files, from the partial file's creation to the last delete: the held run folder, the partial
// and final names, the lock, and the clean-up. Its verbs are the run's, in the order the run takes them:
// Open, Download, Promote, Seal, Verify; the launch takes only what Verify made; Remove ends it.
#include <windows.h>
#include <objbase.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "common/outcome.h"
#include "common/wide_string.h"
#include "common/win32_handles.h"
#include "staging/earlier_runs.h"
#include "staging/run_folder.h"
#include "transfer/package_download.h"
#include "trust/installer_trust.h"

// The calls a staged run makes that tests replace where no real condition produces the case: the GUID
// that names the run, the proof that an earlier run's folder is one (only Windows keeps the descriptor
// it reads), the download that fills the partial file, the re-hash under the lock and the trust check.
// A run keeps the table it was made with.
struct StagingCalls {
    decltype(&::CoCreateGuid) createGuid = ::CoCreateGuid;
    bool (*provesRunFolder)(HANDLE folder) = CarriesRunFolderSecurity;
    Outcome (*downloadInto)(const PackageEntry& package, HANDLE partialFile,
                            DownloadObserver* observer) = DownloadPackageInto;
    Outcome (*fileMatchesPackage)(HANDLE lockedFile, const PackageEntry& package) = FileMatchesPackage;
    TrustVerdict (*verifyTrust)(HANDLE lockedFile, const WideString& path,
                                const WideString& manifestPublisher) = VerifyInstallerTrust;
};

class StagedRun;

// The setup program once it has passed every check: the file held under the run's lock, its folder and
// the folder made for its temporary files. Only StagedRun::Verify makes one, so whatever is started
// has been verified; it names files the run still holds, and is good only while the run is.
class VerifiedInstaller {
public:
    const WideString& Path() const { return path_; }
    const WideString& Folder() const { return folder_; }
    const WideString& TempFolder() const { return tempFolder_; }

private:
    friend class StagedRun;
    VerifiedInstaller(const WideString& path, const WideString& folder, const WideString& tempFolder)
        : path_(path), folder_(folder), tempFolder_(tempFolder) {}

    WideString path_;
    WideString folder_;
    WideString tempFolder_;
};

class StagedRun {
public:
    explicit StagedRun(RunFolderPlace place = RunFolderPlace::MachineTemp, const StagingCalls& calls = {})
        : place_(place), calls_(calls) {}
    ~StagedRun() { Remove(); }
    StagedRun(const StagedRun&) = delete;
    StagedRun& operator=(const StagedRun&) = delete;

    // Removes what earlier runs provably left (in the machine's temporary folder only), then makes and
    // holds this run's own folder, named after a fresh GUID, with a folder for the setup program's
    // temporary files inside it.
    Outcome Open();
    // Streams the package into a partial file that did not exist before, through the handle the run
    // keeps; a failed download goes through the same handle.
    Outcome Download(const PackageEntry& package, DownloadObserver* observer);
    // The finished download written through, closed and renamed to the name it runs under.
    Outcome Promote();
    // Readers only from now until the run ends (nobody can write, rename or delete the file, while the
    // trust check and the loader can read it), then the file is read again through that lock: it must
    // still be exactly the package that was downloaded.
    Outcome Seal(const PackageEntry& package);
    // The trust check through the locked handle. On success, verified holds the one value the launch
    // accepts.
    Outcome Verify(const WideString& manifestPublisher, std::optional<VerifiedInstaller>& verified);

    // The lock is closed, then everything in the folder goes through handles, while the folder is still
    // held; then the folder, through a handle of its own. A file someone still holds is scheduled for
    // deletion at the next restart, by its path inside the held folder; a folder that cannot go at once
    // stays, protected, for the next run to remove. Nothing is done by name once the folder is let go.
    // Safe to call twice.
    void Remove();

    bool IsOpen() const { return static_cast<bool>(folder_); }
    // Every path names the folder or file the run holds: the held folder's own path, in its short form
    // only where that form was shown to reach the same volume and file.
    const WideString& FolderPath() const { return folderPath_; }
    const WideString& PartialPath() const { return partialPath_; }
    const WideString& FinalPath() const { return finalPath_; }
    const WideString& TempFolderPath() const { return tempFolderPath_; }

private:
    enum class StagedFile { None, Partial, Final, Locked };

    RunFolderPlace place_;
    StagingCalls calls_;
    UniqueFile folder_;
    WideString folderPath_;
    WideString partialPath_;
    WideString finalPath_;
    WideString tempFolderPath_;
    StagedFile staged_ = StagedFile::None;
    UniqueFile partialFile_;
    UniqueFile installerLock_;
};

// A fresh GUID as 32 upper-case hexadecimal digits, its text form without braces and hyphens: a name
// nobody else will pick. Appended to runTag.
bool MakeRunTag(WideString& runTag, decltype(&::CoCreateGuid) createGuid = ::CoCreateGuid);
