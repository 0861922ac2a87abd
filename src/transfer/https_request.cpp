#include "transfer/https_request.h"

// Placeholder until the request lands.
bool CrackHttpsUrl(const WideString&, WideString&, WideString&, std::uint16_t&) { return false; }
bool OpenHttpsGet(const WideString&, InternetHandle&, InternetHandle&, InternetHandle&, ErrorText& error) {
    error = L"The release URL is not a valid HTTPS address.";
    return false;
}
