#include "setup/dll_redirection.h"

#include <windows.h>
#include <winternl.h>

#include <cstddef>
#include <vector>

#include "common/wide_string.h"
#include "common/windows_folder.h"

namespace {

constexpr DWORD kModulePathCapacity = 32768;
constexpr wchar_t kLocalSuffix[] = L".local";
constexpr wchar_t kCommonControls[] = L"comctl32.dll";
constexpr wchar_t kSideBySideStore[] = L"\\WinSxS\\";

#ifndef _WIN64
// Read as the system writes it: the two paths sit where the 32-bit platform puts them.
static_assert(offsetof(ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION, lpAssemblyManifestPath) == 68);
static_assert(offsetof(ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION, lpAssemblyDirectoryName) == 76);
#endif

// Read from the process parameters the loader was started with. A process whose own block cannot be
// read counts as redirected.
bool StartedWithRedirection() {
    PROCESS_BASIC_INFORMATION basic = {};
    if (!NT_SUCCESS(::NtQueryInformationProcess(::GetCurrentProcess(), ProcessBasicInformation, &basic,
                                                sizeof(basic), nullptr)) ||
        basic.PebBaseAddress == nullptr || basic.PebBaseAddress->ProcessParameters == nullptr) {
        return true;
    }
    const auto* parameters = reinterpret_cast<const ProcessParametersHead*>(basic.PebBaseAddress->ProcessParameters);
    return (parameters->flags & kProcessDllRedirectionLocal) != 0;
}

// Fails closed: a program path that cannot be read, or a .local name that cannot be looked at, counts as
// planted.
bool LocalEntryBesideProgram() {
    std::vector<wchar_t> path(kModulePathCapacity);
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), kModulePathCapacity);
    if (length == 0 || length >= kModulePathCapacity) {
        return true;
    }
    const WideString local = WideString(path.data(), length) + kLocalSuffix;
    if (::GetFileAttributesW(local.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return true;
    }
    const DWORD error = ::GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

// Case-insensitive, as the file system compares names.
bool StartsWithPath(const WideString& path, const WideString& prefix) {
    return path.size() >= prefix.size() &&
           ::CompareStringOrdinal(path.c_str(), static_cast<int>(prefix.size()), prefix.c_str(),
                                  static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
}

bool SideBySideStore(WideString& store) {
    WideString folder;
    if (!GetWindowsFolder(folder)) {
        return false;
    }
    store = folder + kSideBySideStore;
    return true;
}

// Where the process's activation context takes comctl32.dll from: the assembly's folder in the system's
// side-by-side store, and only if its manifest came from that store too (not a private assembly beside
// the program). False when the context names none, or another place.
bool CommonControlsFolder(const RedirectionCalls& calls, const WideString& store, WideString& folder) {
    ACTCTX_SECTION_KEYED_DATA found = {};
    found.cbSize = sizeof(found);
    if (!calls.findActCtxSectionStringW(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, kCommonControls,
                                        &found)) {
        return false;
    }
    DWORD rosterIndex = found.ulAssemblyRosterIndex;
    SIZE_T needed = 0;
    calls.queryActCtxW(0, found.hActCtx, &rosterIndex, AssemblyDetailedInformationInActivationContext, nullptr, 0,
                       &needed);
    if (needed < sizeof(ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION)) {
        return false;
    }
    std::vector<BYTE> buffer(needed);
    if (!calls.queryActCtxW(0, found.hActCtx, &rosterIndex, AssemblyDetailedInformationInActivationContext,
                            buffer.data(), buffer.size(), &needed)) {
        return false;
    }
    const auto* assembly = reinterpret_cast<const ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION*>(buffer.data());
    if (assembly->lpAssemblyManifestPath == nullptr || assembly->lpAssemblyDirectoryName == nullptr ||
        !StartsWithPath(assembly->lpAssemblyManifestPath, store)) {
        return false;
    }
    const WideString name = assembly->lpAssemblyDirectoryName;
    // One folder name, nothing that could climb out of the store.
    if (name.empty() || name.find_first_of(L"\\/:") != WideString::npos || name == L"." || name == L"..") {
        return false;
    }
    folder = store + name + L"\\";
    return true;
}

bool ModuleFileIs(HMODULE module, const WideString& expected) {
    std::vector<wchar_t> path(kModulePathCapacity);
    const DWORD length = ::GetModuleFileNameW(module, path.data(), kModulePathCapacity);
    return length != 0 && length < kModulePathCapacity && length == expected.size() &&
           StartsWithPath(WideString(path.data(), length), expected);
}

}  // namespace

DllRedirection FindDllRedirection(const RedirectionCalls& calls) {
    if (StartedWithRedirection()) {
        return DllRedirection::InForce;
    }
    WideString store;
    WideString folder;
    if (LocalEntryBesideProgram() || !SideBySideStore(store) || !CommonControlsFolder(calls, store, folder)) {
        return DllRedirection::Planted;
    }
    // The first load of Common Controls, right after the checks; a name alone lets the activation
    // context choose the file, as it will for every later use. It must be the store's own file.
    const HMODULE commonControls = calls.loadLibraryExW(kCommonControls, nullptr, 0);
    if (commonControls == nullptr || !ModuleFileIs(commonControls, folder + kCommonControls)) {
        return DllRedirection::InForce;
    }
    return DllRedirection::None;
}
