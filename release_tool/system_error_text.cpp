#include "system_error_text.h"

#include <windows.h>

namespace {

struct Words {
    std::uint32_t number;
    const wchar_t* text;
};

// Win32 and WinHTTP errors that the tool's file reads and downloads meet.
constexpr Words kSystemErrors[] = {
    {2, L"the file was not found"},
    {3, L"the folder was not found"},
    {5, L"access was denied"},
    {32, L"another program has the file open"},
    {80, L"the file already exists"},
    {123, L"the name is not a valid file name"},
    {12002, L"the server did not answer in time"},
    {12007, L"the host name could not be resolved: check RELEASE_HOST (quillo-release --version) and the network"},
    {12029, L"no connection could be made: nothing answered at that host and port"},
    {12030, L"the connection was cut"},
    {12038, L"the server's certificate is for another host name"},
    {12044, L"the server asked for a client certificate"},
    {12045, L"the server's certificate chain ends in a root this machine does not trust"},
    {12152, L"the server's answer was not valid HTTP"},
    {12157, L"the secure connection failed; under Wine, the server's root is not trusted in this prefix"},
    {12175, L"the server's certificate was refused"},
};

struct TrustWords {
    std::uint32_t result;
    const wchar_t* text;
};

constexpr TrustWords kTrustResults[] = {
    {0x800B0100, L"the file has no signature: sign it with the code-signing certificate"},
    {0x800B0109, L"the certificate chain ends in a root this machine does not trust: for a private or test root, "
                 L"trust it in this Wine prefix with tools/trust-root.sh ROOT.pem (docs/releasing.md, section 2), "
                 L"or on Windows in the machine's Trusted Root Certification Authorities"},
    {0x80096010, L"the file was changed after it was signed: sign the original file again"},
    {0x800B0101, L"a certificate of the chain has expired, and the signature has no timestamp from while it was "
                 L"valid: sign again with a valid certificate and a timestamp"},
    {0x800B010C, L"a certificate of the chain has been revoked"},
    // The installer's own chain check, which decides revocation and time whatever the user's policy says.
    {0x80092010, L"a certificate of the chain has been revoked"},
    {0x80092012, L"the revocation of a certificate of the chain cannot be checked: it names no CRL"},
    {0x80092013, L"the revocation of a certificate of the chain cannot be checked: the CRL it names cannot be "
                 L"fetched from this machine"},
    {0x800B0111, L"the publisher is explicitly distrusted on this machine"},
    {0x800B0003, L"the file is not of a form that can carry an Authenticode signature"},
    {0x80096019, L"a certificate of the chain is not allowed to issue certificates"},
    {0x800B010A, L"the certificate chain could not be built to a root: include the intermediate certificates "
                 L"when signing"},
};

}  // namespace

WideString SystemErrorWords(std::uint32_t error) {
    for (const Words& words : kSystemErrors) {
        if (words.number == error) {
            return words.text;
        }
    }
    wchar_t* buffer = nullptr;
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, error, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                         reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    WideString text = length > 0 && buffer != nullptr ? WideString(buffer, length) : WideString();
    if (buffer != nullptr) {
        ::LocalFree(buffer);
    }
    // The system's sentence, as a clause: no line break, no full stop, a lower-case start.
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ' ||
                             text.back() == L'.')) {
        text.pop_back();
    }
    if (!text.empty() && text[0] >= L'A' && text[0] <= L'Z' && (text.size() < 2 || text[1] < L'A' || text[1] > L'Z')) {
        text[0] = static_cast<wchar_t>(text[0] - L'A' + L'a');
    }
    return text;
}

WideString TrustResultWords(long trustResult) {
    for (const TrustWords& words : kTrustResults) {
        if (words.result == static_cast<std::uint32_t>(trustResult)) {
            return words.text;
        }
    }
    return L"";
}
