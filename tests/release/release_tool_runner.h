#pragma once
// Runs the quillo-release build made for the loopback server and collects what it printed.
#include <string>
#include <vector>

namespace release_test {

struct ToolRun {
    int exitCode = -1;
    std::string out;  // standard output, UTF-8
    std::string err;  // standard error, UTF-8
};

// Runs the tool named by the environment variable (the loopback build by default).
ToolRun RunTool(const std::vector<std::wstring>& arguments, const char* toolVariable = "RELEASE_TOOL_EXE");

// The host (Unix) path of a file under the harness folder, for the fixture server's body_file.
std::string HostHarnessPath(const std::string& relative);

// The last line of a tool's output, without its line break: the verdict.
std::string LastLine(const std::string& out);

// The lines of out that hold marker, each with its line break.
std::string LinesWith(const std::string& out, const std::string& marker);

// Entries in the temporary directory left by verify.
int CountVerifyLeftovers();

}  // namespace release_test
