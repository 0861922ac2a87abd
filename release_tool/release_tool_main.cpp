// quillo-release: makes, checks and verifies the release manifest with the installer's own code and
// compiled-in configuration. Exit codes: 0 success, 1 the job failed, 2 the command line is wrong.
#include <windows.h>
#include <objbase.h>

#include <string_view>

#include "common/build_config.h"
#include "console_output.h"
#include "release_commands.h"

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr wchar_t kUsage[] =
    L"quillo-release: makes, checks and verifies the release manifest of the Brimlow AI Quillo web setup.\r\n"
    L"\r\n"
    L"  quillo-release make --version V --path RELPATH --x64 FILE --x86 FILE [--unpublished]\r\n"
    L"                      [--skip-signature-check] --out online-latest.json\r\n"
    L"      Writes the manifest for the two packages: their sizes and SHA-256 digests, and URLs under\r\n"
    L"      the release base URL followed by RELPATH/ and each file's name. Refuses packages the\r\n"
    L"      installer's trust check would refuse, unless --skip-signature-check, an x86 package that\r\n"
    L"      is not a 32-bit x86 program, and any manifest the installer would not accept. Warns when a\r\n"
    L"      package's product version differs from V. --unpublished writes \"published\": false.\r\n"
    L"  quillo-release check FILE [--release-dir FOLDER]\r\n"
    L"      Validates a manifest as the installer does and names the first rule it breaks. With the\r\n"
    L"      folder you will publish as the release base URL, also compares each package in it with the\r\n"
    L"      manifest (size, SHA-256) and inspects it as make does (signer, x86 program type).\r\n"
    L"  quillo-release verify [URL]\r\n"
    L"      Fetches the live manifest (or the one at an https URL), validates it, downloads both\r\n"
    L"      packages, checks size, SHA-256, signature and (x86) program type, deletes them and reports\r\n"
    L"      per architecture, with a warning when a package's product version differs.\r\n"
    L"  quillo-release --help | --version\r\n"
    L"      This text and what this build was made for; --version prints only the latter.\r\n"
    L"\r\n"
    L"Exit codes: 0 success, 1 the check or the job failed, 2 the command line is wrong.";

bool IsHelp(std::wstring_view argument) {
    return argument == L"--help" || argument == L"-h" || argument == L"/?" || argument == L"help";
}

int UsageError(const WideString& line) {
    PrintFailure(line + L" Run \"quillo-release --help\" for usage.");
    return kExitUsage;
}

int RunMake(int argc, wchar_t** argv) {
    MakeOptions options;
    struct ValueOption {
        const wchar_t* name;
        WideString* value;
    };
    const ValueOption valueOptions[] = {{L"--version", &options.version}, {L"--path", &options.path},
                                        {L"--x64", &options.x64File},     {L"--x86", &options.x86File},
                                        {L"--out", &options.out}};
    bool unpublishedSeen = false;
    bool skipSeen = false;
    for (int i = 2; i < argc; ++i) {
        const std::wstring_view argument(argv[i]);
        if (argument == L"--unpublished" || argument == L"--skip-signature-check") {
            bool& seen = argument == L"--unpublished" ? unpublishedSeen : skipSeen;
            if (seen) {
                return UsageError(WideString(argument) + L" is given twice.");
            }
            seen = true;
            continue;
        }
        const ValueOption* match = nullptr;
        for (const ValueOption& option : valueOptions) {
            if (argument == option.name) {
                match = &option;
            }
        }
        if (match == nullptr) {
            return UsageError(L"make does not know \"" + WideString(argument) + L"\".");
        }
        if (!match->value->empty()) {
            return UsageError(WideString(argument) + L" is given twice.");
        }
        if (i + 1 >= argc || argv[i + 1][0] == 0) {
            return UsageError(WideString(argument) + L" needs a value.");
        }
        *match->value = argv[++i];
    }
    for (const ValueOption& option : valueOptions) {
        if (option.value->empty()) {
            return UsageError(L"make needs " + WideString(option.name) + L".");
        }
    }
    options.published = !unpublishedSeen;
    options.skipSignatureCheck = skipSeen;
    return MakeManifest(options) ? kExitSuccess : kExitFailure;
}

int RunCheck(int argc, wchar_t** argv) {
    constexpr wchar_t kCheckUsage[] =
        L"check takes exactly one manifest file and, optionally, --release-dir FOLDER.";
    WideString file;
    WideString releaseFolder;
    for (int i = 2; i < argc; ++i) {
        const std::wstring_view argument(argv[i]);
        if (argument == L"--release-dir") {
            if (!releaseFolder.empty()) {
                return UsageError(L"--release-dir is given twice.");
            }
            if (i + 1 >= argc || argv[i + 1][0] == 0) {
                return UsageError(L"--release-dir needs a value.");
            }
            releaseFolder = argv[++i];
        } else if (file.empty() && !argument.empty() && argument.substr(0, 2) != L"--") {
            file = argument;
        } else {
            return UsageError(kCheckUsage);
        }
    }
    if (file.empty()) {
        return UsageError(kCheckUsage);
    }
    return CheckManifest(file, releaseFolder) ? kExitSuccess : kExitFailure;
}

int Run(int argc, wchar_t** argv) {
    if (argc < 2) {
        return UsageError(L"No command given.");
    }
    const std::wstring_view command(argv[1]);
    if (IsHelp(command)) {
        PrintLine(kUsage);
        PrintLine(L"");
        PrintBuildFacts();
        return kExitSuccess;
    }
    if (command == L"--version" || command == L"version") {
        PrintBuildFacts();
        return kExitSuccess;
    }
    if (command != L"make" && command != L"check" && command != L"verify") {
        return UsageError(L"Unknown command \"" + WideString(command) + L"\".");
    }
    if (!IsPublisherConfigured()) {
        PrintFailure(L"This build has no publisher configured: set EXPECTED_PUBLISHER to the code-signing "
                     L"certificate's name and build again.");
        return kExitFailure;
    }
    if (command == L"make") {
        return RunMake(argc, argv);
    }
    if (command == L"check") {
        return RunCheck(argc, argv);
    }
    if (argc > 3) {
        return UsageError(L"verify takes at most one URL.");
    }
    return VerifyRelease(argc == 3 ? WideString(argv[2]) : WideString()) ? kExitSuccess : kExitFailure;
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
