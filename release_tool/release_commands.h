#pragma once
// The jobs of quillo-release, one file each. Each prints its own report, failure and warning lines and
// ends with one verdict line; those that can fail return true only on success.
#include "common/wide_string.h"

struct MakeOptions {
    WideString version;
    WideString path;  // the release's folder under the release base URL, such as 2.3.1
    WideString x64File;
    WideString x86File;
    WideString out;
    bool published = true;
    bool skipSignatureCheck = false;
};

bool MakeManifest(const MakeOptions& options);
// With a release folder (the folder to publish as the release base URL), each package in it is compared
// with the manifest and inspected as make does; without one, only the text is checked.
bool CheckManifest(const WideString& file, const WideString& releaseFolder);
// An empty url means the manifest URL compiled into the installer.
bool VerifyRelease(const WideString& url);
struct WebSetupCheckOptions {
    WideString signedFile;  // the signed web setup to be published
    WideString builtFile;   // the build's own, unsigned file; empty for the one built beside the tool
};

// The signed web setup: its signer, its timestamp, and that without its signature it is the build's file.
bool CheckWebSetup(const WebSetupCheckOptions& options);
// What this build compiled in: the release host, the publisher and the web setup built beside the tool.
void PrintBuildFacts();
