#pragma once
#include <windows.h>
#include <objbase.h>

#include <cstddef>

#include "common/outcome.h"
#include "common/wide_string.h"
#include "common/win32_handles.h"

// The GUID that names a run; a test may name the run itself.
struct StagingCalls {
    decltype(&::CoCreateGuid) createGuid = ::CoCreateGuid;
};

class StagedRun;

// Creates this run's own folder directly in the machine's temporary folder (the Windows directory's
// Temp), where only SYSTEM and Administrators may touch it, and names the run's files after a fresh
// GUID. Fills run only on success.
Outcome MakeStagingPaths(StagedRun& run);

namespace transfer_internal {
// The same with the GUID a test gives.
Outcome MakeStagingPaths(StagedRun& run, const StagingCalls& calls);
}  // namespace transfer_internal

// The run's folder and the setup program staged in it, from the partial file's creation to the
// folder's removal: one owner for the folder's handle, the partial and final names, which of the two
// files exists, the handle the download writes through and the installer lock.
class StagedRun {
public:
    StagedRun() = default;
    ~StagedRun() { Remove(); }
    StagedRun(const StagedRun&) = delete;
    StagedRun& operator=(const StagedRun&) = delete;

    bool IsMade() const { return static_cast<bool>(folder_); }
    // Every path names the folder or file the run holds: the held folder's own path, in its short form
    // only where that form was shown to reach the same volume and file.
    const WideString& FolderPath() const { return folderPath_; }
    const WideString& PartialPath() const { return partialPath_; }
    const WideString& FinalPath() const { return finalPath_; }
    HANDLE Folder() const { return folder_.Get(); }

    // A partial file that did not exist before, for the download to write through; the run keeps the
    // handle (PartialFile).
    Outcome CreatePartialFile();
    HANDLE PartialFile() const { return partialFile_.Get(); }
    // The finished download: written through, closed and renamed to the final name.
    Outcome PromotePartialFile();
    // Readers only until the run ends: nobody can write, rename or delete the final file, while the
    // trust check and the loader can read it.
    Outcome LockFinalFile();
    HANDLE InstallerLock() const { return installerLock_.Get(); }

    // The lock is closed, then the run's file goes, then everything else in the folder, all while the
    // folder is still held; then the folder. What is still in use is scheduled for deletion at the
    // next restart, by its path inside the run folder. Safe to call twice.
    void Remove();

private:
    friend Outcome transfer_internal::MakeStagingPaths(StagedRun& run, const StagingCalls& calls);
    enum class StagedFile { None, Partial, Final };

    UniqueFile folder_;
    WideString folderPath_;
    WideString partialPath_;
    WideString finalPath_;
    StagedFile staged_ = StagedFile::None;
    UniqueFile partialFile_;
    UniqueFile installerLock_;
};

// The user's temporary directory as GetTempPathW reports it, ending in a backslash. The installer
// never uses it; the release tool, which runs as its user, does.
bool GetTempDirectory(WideString& path);

// A fresh GUID as 32 upper-case hexadecimal digits, its text form without braces and hyphens: a name
// nobody else will pick. Appended to runTag.
bool MakeRunTag(WideString& runTag, const StagingCalls& calls = {});

namespace transfer_internal {
// The security descriptor the run folder is created with: owned by Administrators, full control for
// SYSTEM and Administrators, inherited by everything made inside it, nothing inherited from above.
// Invalid when it could not be built.
UniqueLocalMemory MakeRunFolderSecurity();

// The path of an open file or folder as the system reports it for the handle, in the long form that
// starts with \\?\ and is used as it stands. A path without that prefix is normalised on every use: a
// trailing dot or blank is dropped from each segment, so "x." would become "x", another folder. The
// short form, which every consumer takes (the setup program included), is given only where the
// longest path built on it (longestSuffix more units) fits the classic limit and the short form,
// opened, is the held object itself: same volume, same file ID. Otherwise the long form, proved the
// same way. False when neither names the held object.
bool HeldObjectPath(HANDLE held, std::size_t longestSuffix, WideString& path);
}  // namespace transfer_internal
