#pragma once
#include <windows.h>
#include <winhttp.h>

#include "common/wide_string.h"

// After the response has come: whether the server's certificate chains to a root of the local
// machine's stores, passes the SSL policy for host and is revoked nowhere in its chain but the root (a
// revocation status that cannot be determined passes). WinHTTP's own check also accepts roots the user
// added; this one does not. A refusal leaves its error number in refusal (0 where none was given).
bool VerifyServerCertificate(HINTERNET request, const WideString& host, DWORD& refusal);
