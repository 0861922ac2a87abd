// Adds a DER certificate to the LocalMachine Root store of the Wine prefix it runs in, so that the test
// PKI is trusted there and nowhere else; with --current-user, to the user's own Root store instead, as
// any process of that user can. Usage: trust_root.exe [--current-user] CERT.der
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cwchar>
#include <vector>

#include "common/unique_handle.h"

namespace {

void CloseStore(HCERTSTORE store) { CertCloseStore(store, 0); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const bool currentUser = argc == 3 && std::wcscmp(argv[1], L"--current-user") == 0;
    if (argc != 2 && !currentUser) {
        std::fputs("usage: trust_root [--current-user] CERT.der\n", stderr);
        return 2;
    }
    FILE* file = _wfopen(argv[argc - 1], L"rb");
    if (!file) {
        const DWORD error = GetLastError();
        std::fwprintf(stderr, L"cannot open the certificate \"%ls\": error %lu\n", argv[argc - 1], error);
        return 1;
    }
    std::vector<BYTE> der(1 << 16);
    const size_t length = std::fread(der.data(), 1, der.size(), file);
    std::fclose(file);
    const UniqueHandle<NullHandleTraits<HCERTSTORE, CloseStore>> store(
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                      currentUser ? CERT_SYSTEM_STORE_CURRENT_USER : CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root"));
    if (!store) {
        std::fprintf(stderr, "CertOpenStore failed: %lu\n", GetLastError());
        return 1;
    }
    const BOOL added = CertAddEncodedCertificateToStore(store.Get(), X509_ASN_ENCODING, der.data(),
                                                        static_cast<DWORD>(length), CERT_STORE_ADD_REPLACE_EXISTING,
                                                        nullptr);
    const DWORD error = GetLastError();
    if (!added) {
        std::fprintf(stderr, "CertAddEncodedCertificateToStore failed: %lu\n", error);
        return 1;
    }
    return 0;
}
