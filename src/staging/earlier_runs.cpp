#include "staging/earlier_runs.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "common/win32_handles.h"
#include "staging/folder_removal.h"
#include "staging/run_folder.h"

namespace {

constexpr wchar_t kRunFolderPrefix[] = L"BrimlowAIQuillo-";
constexpr std::size_t kRunTagLength = 32;

}  // namespace

bool staging_internal::IsRunFolderSecurity(PSECURITY_DESCRIPTOR descriptor) {
    PSID owner = nullptr;
    BOOL ownerDefaulted = FALSE;
    if (!::GetSecurityDescriptorOwner(descriptor, &owner, &ownerDefaulted) || owner == nullptr ||
        !(::IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || ::IsWellKnownSid(owner, WinLocalSystemSid))) {
        return false;
    }
    LPWSTR text = nullptr;
    if (!::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                                DACL_SECURITY_INFORMATION, &text, nullptr)) {
        return false;
    }
    const UniqueLocalMemory heldText(text);
    const WideString expected = kRunFolderSecurity;
    return WideString(text) == expected.substr(expected.find(L"D:"));
}

bool CarriesRunFolderSecurity(HANDLE folder) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                          nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    const UniqueLocalMemory held(descriptor);
    return staging_internal::IsRunFolderSecurity(descriptor);
}

bool staging_internal::IsRunFolderName(const WideString& name) {
    const WideString prefix = kRunFolderPrefix;
    if (name.size() != prefix.size() + kRunTagLength || name.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    for (std::size_t i = prefix.size(); i < name.size(); ++i) {
        const wchar_t c = name[i];
        if (!((c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F'))) {
            return false;
        }
    }
    return true;
}

void RemoveEarlierRuns(HANDLE machineTemp, bool (*provesRunFolder)(HANDLE folder)) {
    std::vector<FolderEntry> entries;
    ListFolder(machineTemp, entries);
    for (const FolderEntry& entry : entries) {
        if (!staging_internal::IsRunFolderName(entry.name) || !IsRealFolder(entry.attributes)) {
            continue;
        }
        // Exclusive: a folder anyone still has open (a running web setup holds its own, a setup program
        // still running there has it as its current directory) cannot be opened, and is left.
        LONG status = 0;
        const UniqueFile folder = OpenEntryAt(
            machineTemp, entry.name, DELETE | READ_CONTROL | FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
            0, true, status);
        DWORD attributes = 0;
        if (!folder || !ReadAttributes(folder.Get(), attributes) || !IsRealFolder(attributes) ||
            !provesRunFolder(folder.Get())) {
            continue;
        }
        if (DeleteFolderContents(folder.Get(), WideString(), nullptr)) {
            SetDeleteDisposition(folder.Get());
        }
    }
}
