#include "setup/installer_launch.h"

#include <windows.h>

#include "common/failed_call.h"
#include "common/win32_handles.h"

namespace {

constexpr wchar_t kLaunchFailedText[] = L"The verified installer could not be started.";

}  // namespace

Outcome LaunchInstaller(const WideString& finalPath, const WideString& runFolder, std::uint32_t& exitCode) {
    // CreateProcessW may write into the command line, so it gets its own writable copy. The application
    // name is passed separately, so a path with blanks cannot be read as another program plus arguments.
    WideString commandLine = L"\"" + finalPath + L"\"";

    STARTUPINFOW startupInfo{};
    startupInfo.cb = sizeof(startupInfo);
    PROCESS_INFORMATION processInfo{};
    // The run folder as current directory: the installer runs elevated, and its DLL search must not
    // reach the folder the web setup was started from, which its user can write to.
    if (!::CreateProcessW(finalPath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          runFolder.c_str(), &startupInfo, &processInfo)) {
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
