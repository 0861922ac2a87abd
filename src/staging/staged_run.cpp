#include "staging/staged_run.h"

#include <windows.h>
#include <objbase.h>

#include "common/failed_call.h"
#include "staging/folder_removal.h"
#include "staging/installer_lock.h"
#include "staging/partial_file.h"

namespace {

constexpr int kGuidTextCapacity = 64;
constexpr wchar_t kRunFolderPrefix[] = L"BrimlowAIQuillo-";
constexpr wchar_t kFilePrefix[] = L"\\BrimlowAIQuillo-Setup-";
constexpr wchar_t kFinalSuffix[] = L".exe";
constexpr wchar_t kPartialSuffix[] = L".part";
// The setup program's TEMP and TMP.
constexpr wchar_t kTempFolderName[] = L"Temp";
// A run that cannot make its folder cannot download: the user reads the download's failure.
constexpr wchar_t kStagingFailedText[] = L"The installer could not be downloaded.";
constexpr wchar_t kPrepareFailedText[] = L"Could not prepare the verified installer.";
constexpr wchar_t kLockFailedText[] = L"Could not lock the installer for final security verification.";
// A file deleted a moment ago can hold on to its name for a little while (the image of a setup program
// that has just exited, or a scanner's handle): a short, bounded wait covers that.
constexpr int kRemoveAttempts = 20;
constexpr DWORD kRemoveRetryMs = 50;

}  // namespace

bool MakeRunTag(WideString& runTag, decltype(&::CoCreateGuid) createGuid) {
    GUID guid = {};
    if (FAILED(createGuid(&guid))) {
        return false;
    }
    wchar_t guidText[kGuidTextCapacity] = {};
    if (::StringFromGUID2(guid, guidText, kGuidTextCapacity) <= 0) {
        return false;
    }
    for (const wchar_t* c = guidText; *c != L'\0'; ++c) {
        if (*c != L'{' && *c != L'}' && *c != L'-') {
            runTag += *c;
        }
    }
    return true;
}

Outcome StagedRun::Open() {
    if (folder_) {
        return Outcome::Failure(kStagingFailedText);
    }
    WideString parentPath;
    const UniqueFile parent = OpenRunFolderParent(place_, parentPath);
    if (!parent) {
        return FailedCall(kStagingFailedText);
    }
    if (place_ == RunFolderPlace::MachineTemp) {
        RemoveEarlierRuns(parent.Get(), calls_.provesRunFolder);
    }

    WideString runTag;
    if (!MakeRunTag(runTag, calls_.createGuid)) {
        return Outcome::Failure(kStagingFailedText);
    }
    // In the user's own temporary folder the user's defaults apply: the tool runs as that user.
    UniqueLocalMemory security;
    if (place_ == RunFolderPlace::MachineTemp) {
        security = staging_internal::MakeRunFolderSecurity();
        if (!security) {
            return FailedCall(kStagingFailedText);
        }
    }
    UniqueFile folder = CreateFolderAt(parent.Get(), kRunFolderPrefix + runTag, security.Get());
    if (!folder) {
        return Outcome::Failure(kStagingFailedText);
    }
    // The setup program's temporary folder, made the same way inside the held folder.
    const UniqueFile tempFolder = CreateFolderAt(folder.Get(), kTempFolderName, security.Get());

    const WideString fileName = kFilePrefix + runTag + kFinalSuffix;
    WideString folderPath;
    if (!tempFolder ||
        !staging_internal::HeldObjectPath(folder.Get(), fileName.size() + WideString(kPartialSuffix).size(),
                                          folderPath)) {
        // Nobody else may touch the new folder; it goes through the handles that made it.
        if (tempFolder) {
            SetDeleteDisposition(tempFolder.Get());
        }
        DeleteHeldFolder(folder.Get());
        return Outcome::Failure(kStagingFailedText);
    }

    folder_ = std::move(folder);
    folderPath_ = folderPath;
    finalPath_ = folderPath + fileName;
    partialPath_ = finalPath_ + kPartialSuffix;
    tempFolderPath_ = folderPath + L"\\" + kTempFolderName;
    staged_ = StagedFile::None;
    return {};
}

Outcome StagedRun::Download(const PackageEntry& package, DownloadObserver* observer) {
    if (!folder_ || partialFile_ || staged_ != StagedFile::None) {
        return Outcome::Failure(kCreateFailedText);
    }
    // Only a file this call makes itself: whatever already stands at that path is not ours.
    partialFile_ = CreatePartialFile(partialPath_);
    if (!partialFile_) {
        return FailedCall(kCreateFailedText);
    }
    staged_ = StagedFile::Partial;
    Outcome downloaded = calls_.downloadInto(package, partialFile_.Get(), observer);
    if (!downloaded) {
        // Through the handle it was written through: the delete meets that file and nothing else.
        DeleteThroughHandle(partialFile_.Get());
        partialFile_.Reset();
        staged_ = StagedFile::None;
    }
    return downloaded;
}

Outcome StagedRun::Promote() {
    if (!partialFile_ || staged_ != StagedFile::Partial) {
        return Outcome::Failure(kPrepareFailedText);
    }
    ::FlushFileBuffers(partialFile_.Get());
    partialFile_.Reset();
    if (!::MoveFileExW(partialPath_.c_str(), finalPath_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return FailedCall(kPrepareFailedText);
    }
    staged_ = StagedFile::Final;
    return {};
}

Outcome StagedRun::Seal(const PackageEntry& package) {
    if (staged_ != StagedFile::Final) {
        return Outcome::Failure(kLockFailedText);
    }
    installerLock_ = OpenInstallerLock(finalPath_);
    if (!installerLock_) {
        return FailedCall(kLockFailedText);
    }
    staged_ = StagedFile::Locked;
    // The download's digest was taken while the file was being written; the file has since been closed
    // and renamed. Now that no writer can exist, prove again that this is the file that was hashed.
    return calls_.fileMatchesPackage(installerLock_.Get(), package);
}

Outcome StagedRun::Verify(const WideString& manifestPublisher, std::optional<VerifiedInstaller>& verified) {
    if (staged_ != StagedFile::Locked) {
        return TrustVerdict().ToOutcome();
    }
    const Outcome trusted = calls_.verifyTrust(installerLock_.Get(), finalPath_, manifestPublisher).ToOutcome();
    if (trusted) {
        verified.emplace(VerifiedInstaller(finalPath_, folderPath_, tempFolderPath_));
    }
    return trusted;
}

void StagedRun::Remove() {
    // The lock first, or the delete fails on our own share mode.
    installerLock_.Reset();
    if (partialFile_) {
        DeleteThroughHandle(partialFile_.Get());
        partialFile_.Reset();
    }
    staged_ = StagedFile::None;
    if (!folder_) {
        return;
    }
    // Everything the run and the setup program left, while the folder is still held.
    std::vector<WideString> inUse;
    bool empty = DeleteFolderContents(folder_.Get(), folderPath_, &inUse);
    for (int attempt = 1; !empty && attempt < kRemoveAttempts; ++attempt) {
        ::Sleep(kRemoveRetryMs);
        inUse.clear();
        empty = DeleteFolderContents(folder_.Get(), folderPath_, &inUse);
    }
    if (!empty) {
        // Only files a running process still holds, by their paths inside the folder we hold; the
        // folders stay, protected, for the next run to remove.
        for (const WideString& path : inUse) {
            ::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        }
        folder_.Reset();
        return;
    }
    // The folder itself once the setup program's current directory is let go: the same short wait.
    for (int attempt = 1; attempt <= kRemoveAttempts && !DeleteHeldFolder(folder_.Get()); ++attempt) {
        ::Sleep(kRemoveRetryMs);
    }
    folder_.Reset();
}
