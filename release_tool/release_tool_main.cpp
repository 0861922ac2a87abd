// quillo-release: makes, checks and verifies the release manifest, and checks the signed web setup, with
// the installer's own code and compiled-in configuration. Exit codes: 0 success, 1 the job failed, 2 the
// command line is wrong.
#include <windows.h>
#include <objbase.h>

#include <string_view>
#include <vector>

#include "common/build_config.h"
#include "console_output.h"
#include "release_commands.h"

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr wchar_t kMakeHelp[] =
    L"quillo-release make --version V --path RELPATH --x64 FILE --x86 FILE --out online-latest.json\r\n"
    L"                    [--unpublished] [--skip-signature-check]\r\n"
    L"    Writes the manifest for the two packages: their sizes and SHA-256 digests, and URLs under the\r\n"
    L"    release base URL followed by RELPATH/ and each file's name. Reports both packages, then refuses\r\n"
    L"    any the installer's trust check would refuse (unless --skip-signature-check, for a dry run with\r\n"
    L"    unsigned builds), an x86 package that is not a 32-bit x86 program, and any manifest the installer\r\n"
    L"    would not accept; nothing is written then. Warns when a package's product version differs from V.\r\n"
    L"    --unpublished writes \"published\": false.";
constexpr wchar_t kCheckHelp[] =
    L"quillo-release check FILE [--release-dir FOLDER]\r\n"
    L"    Validates a manifest as the installer does and names the first rule it breaks. With the folder you\r\n"
    L"    will publish as the release base URL, also compares each package in it with the manifest (size,\r\n"
    L"    SHA-256) and inspects it as make does (signer, x86 program type).";
constexpr wchar_t kVerifyHelp[] =
    L"quillo-release verify [URL]\r\n"
    L"    Fetches the live manifest (or the one at an https URL), validates it, downloads both packages,\r\n"
    L"    checks size, SHA-256, signature and (x86) program type, deletes them and reports per\r\n"
    L"    architecture, with a warning when a package's product version differs.";
constexpr wchar_t kWebSetupHelp[] =
    L"quillo-release check-websetup SIGNED_FILE [--built FILE]\r\n"
    L"    Checks the signed web setup to be published: signed by the publisher exactly and trusted,\r\n"
    L"    timestamped (a warning where not), and with its signature removed byte for byte the build's own\r\n"
    L"    file: --built, or the web setup built beside this tool. Prints the SHA-256 of both.";
constexpr wchar_t kCommonHelp[] =
    L"Options take their value as --option VALUE or --option=VALUE. \"quillo-release COMMAND --help\" shows one\r\n"
    L"command. Every command ends with one verdict line; results, failures, warnings and the verdict go to\r\n"
    L"standard output, what is wrong with a command line to standard error.\r\n"
    L"Exit codes: 0 success, 1 the check or the job failed, 2 the command line is wrong.";

struct Command {
    const wchar_t* name;
    const wchar_t* help;
};

constexpr Command kCommands[] = {
    {L"make", kMakeHelp}, {L"check", kCheckHelp}, {L"verify", kVerifyHelp}, {L"check-websetup", kWebSetupHelp}};

bool IsHelp(std::wstring_view argument) {
    return argument == L"--help" || argument == L"-h" || argument == L"/?" || argument == L"help";
}

int UsageError(const WideString& line, std::wstring_view command = {}) {
    const WideString help = command.empty() ? WideString(L"quillo-release --help")
                                            : L"quillo-release " + WideString(command) + L" --help";
    PrintUsageError(line + L" Run \"" + help + L"\" for usage.");
    PrintLine(L"nothing checked: the command line is wrong");
    return kExitUsage;
}

// One option of a command: a flag, or an option with a value given as "--name VALUE" or "--name=VALUE".
struct OptionForm {
    const wchar_t* name;
    WideString* value;  // null for a flag
    bool* flag;         // null for an option with a value
};

// Reads argv[first..] against the command's options; what is no option is a positional argument, of
// which at most maxPositional are taken. On a mistake, the line that says what is wrong.
bool ParseOptions(int argc, wchar_t** argv, int first, std::wstring_view command, const std::vector<OptionForm>& forms,
                  std::vector<WideString>& positional, std::size_t maxPositional, WideString& mistake) {
    for (int i = first; i < argc; ++i) {
        const std::wstring_view argument(argv[i]);
        if (argument.substr(0, 2) != L"--") {
            if (positional.size() >= maxPositional || argument.empty()) {
                mistake = WideString(command) + L" does not take \"" + WideString(argument) + L"\" here.";
                return false;
            }
            positional.emplace_back(argument);
            continue;
        }
        const std::size_t equals = argument.find(L'=');
        const std::wstring_view name = argument.substr(0, equals);
        const OptionForm* form = nullptr;
        for (const OptionForm& candidate : forms) {
            if (name == candidate.name) {
                form = &candidate;
            }
        }
        if (form == nullptr) {
            mistake = WideString(command) + L" does not know \"" + WideString(name) + L"\".";
            return false;
        }
        if (form->flag != nullptr) {
            if (equals != std::wstring_view::npos) {
                mistake = WideString(name) + L" takes no value.";
                return false;
            }
            if (*form->flag) {
                mistake = WideString(name) + L" is given twice.";
                return false;
            }
            *form->flag = true;
            continue;
        }
        if (!form->value->empty()) {
            mistake = WideString(name) + L" is given twice.";
            return false;
        }
        if (equals != std::wstring_view::npos) {
            *form->value = WideString(argument.substr(equals + 1));
        } else if (i + 1 < argc) {
            *form->value = argv[++i];
        }
        if (form->value->empty()) {
            mistake = WideString(name) + L" needs a value.";
            return false;
        }
    }
    return true;
}

int RunMake(int argc, wchar_t** argv) {
    MakeOptions options;
    bool unpublished = false;
    bool skip = false;
    const std::vector<OptionForm> forms = {
        {L"--version", &options.version, nullptr}, {L"--path", &options.path, nullptr},
        {L"--x64", &options.x64File, nullptr},     {L"--x86", &options.x86File, nullptr},
        {L"--out", &options.out, nullptr},         {L"--unpublished", nullptr, &unpublished},
        {L"--skip-signature-check", nullptr, &skip}};
    std::vector<WideString> positional;
    WideString mistake;
    if (!ParseOptions(argc, argv, 2, L"make", forms, positional, 0, mistake)) {
        return UsageError(mistake, L"make");
    }
    for (const OptionForm& form : forms) {
        if (form.value != nullptr && form.value->empty()) {
            return UsageError(L"make needs " + WideString(form.name) + L".", L"make");
        }
    }
    options.published = !unpublished;
    options.skipSignatureCheck = skip;
    return MakeManifest(options) ? kExitSuccess : kExitFailure;
}

int RunCheck(int argc, wchar_t** argv) {
    WideString releaseFolder;
    std::vector<WideString> positional;
    WideString mistake;
    if (!ParseOptions(argc, argv, 2, L"check", {{L"--release-dir", &releaseFolder, nullptr}}, positional, 1,
                      mistake)) {
        return UsageError(mistake, L"check");
    }
    if (positional.empty()) {
        return UsageError(L"check takes exactly one manifest file and, optionally, --release-dir FOLDER.", L"check");
    }
    return CheckManifest(positional[0], releaseFolder) ? kExitSuccess : kExitFailure;
}

int RunVerify(int argc, wchar_t** argv) {
    std::vector<WideString> positional;
    WideString mistake;
    if (!ParseOptions(argc, argv, 2, L"verify", {}, positional, 1, mistake)) {
        return UsageError(mistake, L"verify");
    }
    return VerifyRelease(positional.empty() ? WideString() : positional[0]) ? kExitSuccess : kExitFailure;
}

int RunWebSetupCheck(int argc, wchar_t** argv) {
    WebSetupCheckOptions options;
    std::vector<WideString> positional;
    WideString mistake;
    if (!ParseOptions(argc, argv, 2, L"check-websetup", {{L"--built", &options.builtFile, nullptr}}, positional, 1,
                      mistake)) {
        return UsageError(mistake, L"check-websetup");
    }
    if (positional.empty()) {
        return UsageError(L"check-websetup takes the signed web setup and, optionally, --built FILE.",
                          L"check-websetup");
    }
    options.signedFile = positional[0];
    return CheckWebSetup(options) ? kExitSuccess : kExitFailure;
}

void PrintHelp() {
    PrintLine(L"quillo-release " + WideString(L"makes, checks and verifies the release manifest of the Brimlow AI "
                                              L"Quillo web setup, and checks the signed web setup.\r\n"));
    for (const Command& command : kCommands) {
        PrintLine(command.help);
    }
    PrintLine(L"quillo-release --help | --version\r\n"
              L"    This text and what this build was made for; --version prints only the latter.\r\n");
    PrintLine(kCommonHelp);
    PrintLine(L"");
    PrintBuildFacts();
}

int Run(int argc, wchar_t** argv) {
    if (argc < 2) {
        return UsageError(L"No command given.");
    }
    const std::wstring_view name(argv[1]);
    if (IsHelp(name)) {
        PrintHelp();
        return kExitSuccess;
    }
    if (name == L"--version" || name == L"version") {
        PrintBuildFacts();
        return kExitSuccess;
    }
    const Command* command = nullptr;
    for (const Command& candidate : kCommands) {
        if (name == candidate.name) {
            command = &candidate;
        }
    }
    if (command == nullptr) {
        return UsageError(L"Unknown command \"" + WideString(name) + L"\".");
    }
    for (int i = 2; i < argc; ++i) {
        if (IsHelp(argv[i])) {
            PrintLine(command->help);
            PrintLine(L"");
            PrintLine(kCommonHelp);
            return kExitSuccess;
        }
    }
    if (!IsPublisherConfigured()) {
        PrintFailure(L"FAILED: This build has no publisher configured: set EXPECTED_PUBLISHER to the code-signing "
                     L"certificate's name and build again.");
        PrintLine(L"do not publish: this build is unconfigured");
        return kExitFailure;
    }
    if (name == L"make") {
        return RunMake(argc, argv);
    }
    if (name == L"check") {
        return RunCheck(argc, argv);
    }
    if (name == L"verify") {
        return RunVerify(argc, argv);
    }
    return RunWebSetupCheck(argc, argv);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // The system DLLs come from System32 only, as in the installer.
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // The trust check runs in an apartment, as in the installer.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int exitCode = Run(argc, argv);
    if (SUCCEEDED(com)) {
        ::CoUninitialize();
    }
    return exitCode;
}
