#include "release_tool_runner.h"

#include <windows.h>

#include <cstdlib>
#include <stdexcept>

#include "harness/test_support.h"

namespace release_test {

namespace {

// The quoting that the C runtime's command-line parser undoes.
std::wstring Quote(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

std::wstring ToolPath(const char* variable) {
    const char* unixPath = std::getenv(variable);
    if (unixPath == nullptr) {
        throw std::runtime_error(std::string(variable) + " is not set: run the tests through ctest");
    }
    std::wstring path = L"Z:";
    for (const char* c = unixPath; *c != 0; ++c) {
        path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    }
    return path;
}

// Wine hands a process's standard error on to the desktop or boot process that process happens to
// start, and that one lives on holding it. So every run gets files of its own, opened for any sharing.
HANDLE InheritableFile(const std::wstring& path) {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    const HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        throw std::runtime_error("cannot create an output file for the tool, error " +
                                 std::to_string(GetLastError()));
    }
    return file;
}

std::string TakeWholeFile(const std::wstring& path) {
    std::string bytes = test_support::ReadWholeFile(path);
    DeleteFileW(path.c_str());
    return bytes;
}

}  // namespace

ToolRun RunTool(const std::vector<std::wstring>& arguments, const char* toolVariable) {
    // One folder per test process, since CTest may run two of these programs at once.
    const std::wstring folder = test_support::HarnessPath("release-run-" + std::to_string(GetCurrentProcessId()));
    CreateDirectoryW(folder.c_str(), nullptr);
    static int runs = 0;
    const std::wstring serial = std::to_wstring(++runs);
    const std::wstring outPath = folder + L"\\stdout-" + serial + L".txt";
    const std::wstring errPath = folder + L"\\stderr-" + serial + L".txt";

    std::wstring commandLine = Quote(ToolPath(toolVariable));
    for (const std::wstring& argument : arguments) {
        commandLine += L" " + Quote(argument);
    }
    HANDLE out = InheritableFile(outPath);
    HANDLE err = InheritableFile(errPath);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process = {};
    ToolRun run;
    DWORD startError = 0;
    // Under Wine, with other tests starting Wine programs beside this one, a start once failed with
    // ERROR_INTERNAL_ERROR: the new process never got as far as the tool's own code. The tool did not
    // run, so one more start tests the same thing; any other failure, or a second one, is reported.
    BOOL started = FALSE;
    for (int attempt = 0; attempt < 2 && !started; ++attempt) {
        for (HANDLE file : {out, err}) {  // whatever the failed start wrote goes
            SetFilePointer(file, 0, nullptr, FILE_BEGIN);
            SetEndOfFile(file);
        }
        started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                 &process);
        if (!started && GetLastError() != ERROR_INTERNAL_ERROR) {
            break;
        }
    }
    if (started) {
        if (WaitForSingleObject(process.hProcess, 180000) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(process.hProcess, &code);
            run.exitCode = static_cast<int>(code);
        } else {
            TerminateProcess(process.hProcess, 99);
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    } else {
        startError = GetLastError();
    }
    CloseHandle(out);
    CloseHandle(err);
    run.out = TakeWholeFile(outPath);
    run.err = TakeWholeFile(errPath);
    // A run that never started says why, so that a failing check shows it beside the exit code -1.
    if (startError != 0) {
        run.err += "(the tool did not start: CreateProcessW error " + std::to_string(startError) + ")";
    }
    return run;
}

std::string HostHarnessPath(const std::string& relative) {
    const char* dir = std::getenv("WEBSETUP_HARNESS_DIR");
    if (dir == nullptr) {
        throw std::runtime_error("WEBSETUP_HARNESS_DIR is not set: run the tests through ctest");
    }
    return std::string(dir) + "/" + relative;
}

std::string LastLine(const std::string& out) {
    std::string text = out;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    const std::size_t start = text.rfind('\n');
    return start == std::string::npos ? text : text.substr(start + 1);
}

std::string LinesWith(const std::string& out, const std::string& marker) {
    std::string found;
    for (std::size_t at = 0; at < out.size();) {
        const std::size_t end = out.find('\n', at);
        const std::string line = out.substr(at, end == std::string::npos ? std::string::npos : end + 1 - at);
        at = end == std::string::npos ? out.size() : end + 1;
        if (line.find(marker) != std::string::npos) {
            found += line;
        }
    }
    return found;
}

int CountVerifyLeftovers() {
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    int count = 0;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((std::wstring(temp) + L"quillo-release-*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return 0;
    }
    do {
        ++count;
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return count;
}

}  // namespace release_test
