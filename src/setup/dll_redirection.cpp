#include "setup/dll_redirection.h"

#include "common/platform_compat.h"

#include <windows.h>
#include <winternl.h>

#include <vector>

#include "common/wide_string.h"

namespace {

constexpr DWORD kModulePathCapacity = 32768;
constexpr wchar_t kLocalSuffix[] = L".local";

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

}  // namespace

DllRedirection FindDllRedirection() {
    if (StartedWithRedirection()) {
        return DllRedirection::InForce;
    }
    return LocalEntryBesideProgram() ? DllRedirection::Planted : DllRedirection::None;
}
