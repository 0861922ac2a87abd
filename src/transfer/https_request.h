#pragma once
// The program's only road to the network: one synchronous HTTPS GET, carried to status 200.
#include <windows.h>
#include <winhttp.h>

#include <cstdint>

#include "common/unique_handle.h"
#include "common/wide_string.h"

struct InternetHandleTraits {
    using Handle = HINTERNET;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle handle) { ::WinHttpCloseHandle(handle); }
};
using InternetHandle = UniqueHandle<InternetHandleTraits>;

bool CrackHttpsUrl(const WideString& url, WideString& host, WideString& path, std::uint16_t& port);

// On true the request is ready for WinHttpReadData. The caller owns the three holders and releases
// them request, connection, session on every path.
bool OpenHttpsGet(const WideString& url, InternetHandle& session, InternetHandle& connection,
                  InternetHandle& request, ErrorText& error);
