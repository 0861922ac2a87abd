#pragma once
#include "common/wide_string.h"

// WinVerifyTrust's verdict on the file's embedded Authenticode signature, with the installer's action,
// revocation and provider flags: 0 when the system trusts it, else the failure it gave. The verify state
// is closed before this returns. The installer's trust check starts with it; the benchmark times it.
long VerifyAuthenticode(const WideString& path);
