#include "setup/installer_launch.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "common/failed_call.h"
#include "common/win32_handles.h"
#include "common/windows_folder.h"
#include "staging/staged_run.h"

namespace {

constexpr wchar_t kLaunchFailedText[] = L"The verified installer could not be started.";

// The variables the installer's environment sets; everything else is inherited as it is.
constexpr const wchar_t* kReplacedVariables[] = {L"TEMP", L"TMP", L"PATH", L"SystemRoot", L"windir"};

// Names compare as the system compares them: ignoring case, without regard to the user's locale.
bool SameName(const WideString& a, const WideString& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

// The name of an entry "NAME=value". A leading '=' belongs to the name (the hidden "=C:=C:\dir" entries).
WideString NameOf(const WideString& entry) {
    const std::size_t equals = entry.find(L'=', 1);
    return equals == WideString::npos ? entry : entry.substr(0, equals);
}

// Releases the block GetEnvironmentStringsW gives.
using UniqueEnvironment = UniqueHandle<NullHandleTraits<wchar_t*, ::FreeEnvironmentStringsW>>;

}  // namespace

WideString setup_internal::MakeInstallerEnvironment(const wchar_t* environment, const WideString& tempFolder,
                                                    const WideString& windowsFolder,
                                                    const WideString& systemFolder) {
    std::vector<WideString> entries;
    for (const wchar_t* entry = environment; entry != nullptr && *entry != L'\0'; entry += ::lstrlenW(entry) + 1) {
        const WideString text = entry;
        const WideString name = NameOf(text);
        const bool replaced = std::any_of(std::begin(kReplacedVariables), std::end(kReplacedVariables),
                                          [&name](const wchar_t* variable) { return SameName(name, variable); });
        if (!replaced) {
            entries.push_back(text);
        }
    }
    // The user's temporary folder and PATH are theirs to change, and the elevated installer would load
    // what they put there: its helpers go into a folder of the run's, and programs and DLLs it finds by
    // PATH come from the system's folders only.
    entries.push_back(L"TEMP=" + tempFolder);
    entries.push_back(L"TMP=" + tempFolder);
    entries.push_back(L"PATH=" + systemFolder + L";" + windowsFolder + L";" + systemFolder + L"\\Wbem;" +
                      systemFolder + L"\\WindowsPowerShell\\v1.0\\");
    entries.push_back(L"SystemRoot=" + windowsFolder);
    entries.push_back(L"windir=" + windowsFolder);
    std::sort(entries.begin(), entries.end(), [](const WideString& a, const WideString& b) {
        const WideString left = NameOf(a);
        const WideString right = NameOf(b);
        return ::CompareStringOrdinal(left.c_str(), static_cast<int>(left.size()), right.c_str(),
                                      static_cast<int>(right.size()), TRUE) == CSTR_LESS_THAN;
    });
    WideString block;
    for (const WideString& entry : entries) {
        block += entry;
        block += L'\0';
    }
    block += L'\0';
    return block;
}

Outcome LaunchInstaller(const VerifiedInstaller& installer, std::uint32_t& exitCode) {
    WideString windowsFolder;
    WideString systemFolder;
    if (!GetWindowsFolder(windowsFolder) || !GetSystemFolder(systemFolder)) {
        return FailedCall(kLaunchFailedText);
    }
    WideString environment;
    {
        const UniqueEnvironment current(::GetEnvironmentStringsW());
        environment = setup_internal::MakeInstallerEnvironment(current.Get(), installer.TempFolder(), windowsFolder,
                                                               systemFolder);
    }

    // CreateProcessW may write into the command line, so it gets its own writable copy. The application
    // name is passed separately, so a path with blanks cannot be read as another program plus arguments.
    WideString commandLine = L"\"" + installer.Path() + L"\"";

    STARTUPINFOW startupInfo{};
    startupInfo.cb = sizeof(startupInfo);
    PROCESS_INFORMATION processInfo{};
    // The run folder as current directory: the installer runs elevated, and its DLL search must not
    // reach the folder the web setup was started from, which its user can write to.
    if (!::CreateProcessW(installer.Path().c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                          CREATE_UNICODE_ENVIRONMENT, environment.data(), installer.Folder().c_str(), &startupInfo,
                          &processInfo)) {
        return FailedCall(kLaunchFailedText);
    }
    const UniqueProcess process(processInfo.hProcess);
    // Nothing here uses the installer's first thread.
    UniqueThread thread(processInfo.hThread);
    thread.Reset();

    // No time-out and no message processing: the installer may wait for its user as long as it likes.
    // A wait that did not see the process end must not read STILL_ACTIVE as the installer's exit code.
    if (::WaitForSingleObject(process.Get(), INFINITE) != WAIT_OBJECT_0) {
        return FailedCall(kLaunchFailedText);
    }

    DWORD code = 0;
    if (!::GetExitCodeProcess(process.Get(), &code)) {
        return FailedCall(kLaunchFailedText);
    }
    exitCode = code;
    return {};
}
