#include "staging/folder_removal.h"

#include <windows.h>
#include <winternl.h>

#include <cstddef>
#include <cstdint>

#include "common/win32_handles.h"
#include "staging/run_folder.h"

namespace {

constexpr LONG kSharingViolation = static_cast<LONG>(0xC0000043);
constexpr LONG kNameNotFound = static_cast<LONG>(0xC0000034);
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kListingBufferBytes = 16384;

bool ClearReadOnly(HANDLE entry) {
    // Zero times leave the file's times as they are.
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return ::SetFileInformationByHandle(entry, FileBasicInfo, &basic, sizeof(basic)) != FALSE;
}

// One entry, and for a real folder everything below it first. A link is known by the listing's
// attributes or by its own handle's: either one saying "reparse point" is enough never to enter it.
bool DeleteEntry(HANDLE parent, const FolderEntry& listed, const WideString& path, std::vector<WideString>* inUse) {
    LONG status = 0;
    const UniqueFile entry = OpenEntryAt(parent, listed.name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                         kShareAll, false, status);
    if (!entry) {
        // Held by a running process without delete sharing: only such a file may go at the next restart.
        if (status == kSharingViolation && inUse != nullptr) {
            inUse->push_back(path);
        }
        return status == kNameNotFound;
    }
    DWORD attributes = 0;
    if (!ReadAttributes(entry.Get(), attributes)) {
        return false;
    }
    // Listed as a link, but the handle is not one: the open reached what the link leads to (Wine opens
    // a host link's target whatever the flags say). That is not ours to delete.
    const DWORD kReparse = FILE_ATTRIBUTE_REPARSE_POINT;
    if ((listed.attributes & kReparse) != (attributes & kReparse)) {
        return false;
    }
    if (IsRealFolder(attributes)) {
        const UniqueFile listing =
            OpenEntryAt(entry.Get(), WideString(), FILE_LIST_DIRECTORY | FILE_TRAVERSE, kShareAll, true, status);
        if (!listing || !DeleteFolderContents(listing.Get(), path, inUse)) {
            return false;
        }
    }
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        ClearReadOnly(entry.Get());
    }
    // The entry goes when this handle, the last one of ours, closes. A file that cannot be deleted while
    // it is open is in use too: a running program's image is.
    if (!SetDeleteDisposition(entry.Get())) {
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && inUse != nullptr) {
            inUse->push_back(path);
        }
        return false;
    }
    return true;
}

}  // namespace

bool SetDeleteDisposition(HANDLE entry) {
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return ::SetFileInformationByHandle(entry, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

bool ListFolder(HANDLE folder, std::vector<FolderEntry>& entries) {
    alignas(8) BYTE buffer[kListingBufferBytes];
    FILE_INFO_BY_HANDLE_CLASS query = FileFullDirectoryRestartInfo;
    for (;;) {
        if (!::GetFileInformationByHandleEx(folder, query, buffer, sizeof(buffer))) {
            return ::GetLastError() == ERROR_NO_MORE_FILES;
        }
        query = FileFullDirectoryInfo;
        std::size_t offset = 0;
        for (;;) {
            const auto* info = reinterpret_cast<const FILE_FULL_DIR_INFO*>(buffer + offset);
            const WideString name(info->FileName, info->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..") {
                entries.push_back({name, info->FileAttributes});
            }
            if (info->NextEntryOffset == 0) {
                break;
            }
            offset += info->NextEntryOffset;
        }
    }
}

bool DeleteFolderContents(HANDLE folder, const WideString& folderPath, std::vector<WideString>* inUse) {
    std::vector<FolderEntry> entries;
    if (!ListFolder(folder, entries)) {
        return false;
    }
    bool empty = true;
    for (const FolderEntry& entry : entries) {
        if (!DeleteEntry(folder, entry, folderPath + L"\\" + entry.name, inUse)) {
            empty = false;
        }
    }
    return empty;
}

bool DeleteHeldFolder(HANDLE held) {
    LONG status = 0;
    const UniqueFile folder = OpenEntryAt(held, WideString(), DELETE, kShareAll, true, status);
    return folder && SetDeleteDisposition(folder.Get());
}
