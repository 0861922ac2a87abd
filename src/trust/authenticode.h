#pragma once
#include <windows.h>

#include "common/wide_string.h"

// WinVerifyTrust's verdict on the file's embedded Authenticode signature, with the installer's action,
// revocation and provider flags: 0 when the system trusts it, else the failure it gave. The verify state
// is closed before this returns. The installer's trust check starts with it; the benchmark times it.
// file, where given, is the file at path held open for reading: the one that is verified.
long VerifyAuthenticode(HANDLE file, const WideString& path);
