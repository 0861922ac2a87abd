#include "transfer/package_download.h"

// Placeholder until the download lands.
bool DownloadPackage(const PackageEntry&, const WideString&, ProgressWindow*, ErrorText&) { return false; }
WideString ToUpperCase(WideString text) { return text; }
