#include "staging/run_folder.h"

#include <windows.h>
#include <sddl.h>
#include <winternl.h>

#include <cstring>

#include "common/windows_folder.h"

namespace {

constexpr wchar_t kTempFolderName[] = L"\\Temp";
constexpr wchar_t kLongPathPrefix[] = L"\\\\?\\";
constexpr wchar_t kLongUncPrefix[] = L"\\\\?\\UNC\\";

// Read access only: the setup program can make the folder its current directory, which the system
// opens without delete sharing; holding DELETE access ourselves would refuse that. Sharing delete lets
// the run reopen the folder for its own deletion once the setup program has gone. Everyone else is kept
// out by the folder's descriptor, and a later run, which opens such a folder exclusively, finds it in
// use.
constexpr ACCESS_MASK kRunFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool StartsWith(const WideString& text, const wchar_t* prefix) {
    return text.compare(0, WideString(prefix).size(), prefix) == 0;
}

UNICODE_STRING CountedName(const WideString& name) {
    UNICODE_STRING counted = {};
    counted.Buffer = const_cast<PWSTR>(name.c_str());
    counted.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    counted.MaximumLength = counted.Length;
    return counted;
}

bool ReadFileId(HANDLE handle, FILE_ID_INFO& id) {
    return ::GetFileInformationByHandleEx(handle, FileIdInfo, &id, sizeof(id)) != FALSE;
}

// Whether path, resolved the way every later consumer resolves it, reaches the very file or folder
// that held is open on: same volume, same file ID.
bool PathReachesHeldObject(const WideString& path, HANDLE held) {
    const UniqueFile opened(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    FILE_ID_INFO heldId = {};
    FILE_ID_INFO openedId = {};
    return opened && ReadFileId(held, heldId) && ReadFileId(opened.Get(), openedId) &&
           heldId.VolumeSerialNumber == openedId.VolumeSerialNumber &&
           std::memcmp(&heldId.FileId, &openedId.FileId, sizeof(heldId.FileId)) == 0;
}

}  // namespace

bool GetTempDirectory(WideString& path) {
    wchar_t tempPath[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH, tempPath);
    if (length == 0 || length > MAX_PATH) {
        return false;
    }
    path.assign(tempPath, length);
    return true;
}

UniqueFile OpenRunFolderParent(RunFolderPlace place, WideString& path) {
    // The machine's own temporary folder: every folder above the run's belongs to the system, users can
    // make entries there but cannot list, rename or delete anyone else's, and the volume is the
    // system's, with access control. Nothing the user's environment names is used.
    WideString folder;
    if (place == RunFolderPlace::MachineTemp) {
        if (!GetWindowsFolder(folder)) {
            return UniqueFile();
        }
        folder += kTempFolderName;
    } else {
        if (!GetTempDirectory(folder)) {
            return UniqueFile();
        }
        folder.pop_back();
    }
    UniqueFile parent(::CreateFileW(folder.c_str(), FILE_TRAVERSE | FILE_ADD_SUBDIRECTORY | FILE_LIST_DIRECTORY,
                                    kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (parent) {
        path = std::move(folder);
    }
    return parent;
}

UniqueFile CreateFolderAt(HANDLE parent, const WideString& name, PSECURITY_DESCRIPTOR security) {
    UNICODE_STRING objectName = CountedName(name);
    OBJECT_ATTRIBUTES attributes = {};
    InitializeObjectAttributes(&attributes, &objectName, OBJ_CASE_INSENSITIVE, parent, security);
    IO_STATUS_BLOCK status = {};
    HANDLE folder = nullptr;
    if (!NT_SUCCESS(::NtCreateFile(&folder, kRunFolderAccess, &attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL,
                                   kShareAll, FILE_CREATE,
                                   FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT,
                                   nullptr, 0))) {
        return UniqueFile();
    }
    return UniqueFile(folder);
}

UniqueFile OpenEntryAt(HANDLE parent, const WideString& name, ACCESS_MASK access, ULONG share, bool folderOnly,
                       LONG& status) {
    UNICODE_STRING objectName = CountedName(name);
    OBJECT_ATTRIBUTES attributes = {};
    InitializeObjectAttributes(&attributes, &objectName, OBJ_CASE_INSENSITIVE, parent, nullptr);
    IO_STATUS_BLOCK io = {};
    HANDLE entry = nullptr;
    const ULONG options = FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT |
                          (folderOnly ? FILE_DIRECTORY_FILE : 0);
    status = ::NtCreateFile(&entry, access | SYNCHRONIZE, &attributes, &io, nullptr, 0, share, FILE_OPEN, options,
                            nullptr, 0);
    if (!NT_SUCCESS(status)) {
        return UniqueFile();
    }
    return UniqueFile(entry);
}

bool ReadAttributes(HANDLE entry, DWORD& attributes) {
    FILE_ATTRIBUTE_TAG_INFO info = {};
    if (!::GetFileInformationByHandleEx(entry, FileAttributeTagInfo, &info, sizeof(info))) {
        return false;
    }
    attributes = info.FileAttributes;
    return true;
}

UniqueLocalMemory staging_internal::MakeRunFolderSecurity() {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kRunFolderSecurity, SDDL_REVISION_1, &descriptor,
                                                                nullptr)) {
        return UniqueLocalMemory();
    }
    return UniqueLocalMemory(descriptor);
}

bool staging_internal::HeldObjectPath(HANDLE held, std::size_t longestSuffix, WideString& path) {
    constexpr DWORD kFlags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
    const DWORD needed = ::GetFinalPathNameByHandleW(held, nullptr, 0, kFlags);
    if (needed == 0) {
        return false;
    }
    WideString resolved(needed, L'\0');
    const DWORD length = ::GetFinalPathNameByHandleW(held, resolved.data(), needed, kFlags);
    if (length == 0 || length >= needed) {
        return false;
    }
    resolved.resize(length);
    const std::size_t prefixLength = WideString(kLongPathPrefix).size();
    if (StartsWith(resolved, kLongPathPrefix) && !StartsWith(resolved, kLongUncPrefix) &&
        resolved.size() - prefixLength + longestSuffix < MAX_PATH) {
        const WideString shortForm = resolved.substr(prefixLength);
        if (PathReachesHeldObject(shortForm, held)) {
            path = shortForm;
            return true;
        }
    }
    // The long form is proved the same way: a path that names anything else is never handed on.
    if (!PathReachesHeldObject(resolved, held)) {
        return false;
    }
    path = std::move(resolved);
    return true;
}
