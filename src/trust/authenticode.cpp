#include "trust/authenticode.h"

#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

namespace {

// One WinVerifyTrust verification. The verify call leaves state behind that only the close call
// releases, whatever the verdict; the destructor makes that close call, so it cannot be left out.
class TrustVerification {
public:
    TrustVerification(HANDLE file, const WideString& path) {
        fileInfo_.cbStruct = sizeof(fileInfo_);
        fileInfo_.pcwszFilePath = path.c_str();
        fileInfo_.hFile = file;
        fileInfo_.pgKnownSubject = nullptr;

        data_.cbStruct = sizeof(data_);
        data_.pPolicyCallbackData = nullptr;
        data_.pSIPClientData = nullptr;
        data_.dwUIChoice = WTD_UI_NONE;
        data_.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
        data_.dwUnionChoice = WTD_CHOICE_FILE;
        data_.pFile = &fileInfo_;
        data_.dwStateAction = WTD_STATEACTION_VERIFY;
        data_.hWVTStateData = nullptr;
        data_.pwszURLReference = nullptr;
        data_.dwProvFlags = WTD_DISABLE_MD2_MD4 | WTD_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT;
        data_.dwUIContext = WTD_UICONTEXT_EXECUTE;
        data_.pSignatureSettings = nullptr;
    }

    ~TrustVerification() {
        data_.dwStateAction = WTD_STATEACTION_CLOSE;
        Call();
    }

    TrustVerification(const TrustVerification&) = delete;
    TrustVerification& operator=(const TrustVerification&) = delete;

    LONG Verify() { return Call(); }

private:
    LONG Call() {
        GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
        // The full structure starts with MinGW's shorter one; cbStruct tells the system the real size.
        return ::WinVerifyTrust(nullptr, &action, reinterpret_cast<WINTRUST_DATA*>(&data_));
    }

    WINTRUST_FILE_INFO fileInfo_{};
    FullWintrustData data_{};
};

}  // namespace

// The verify state is closed before this returns, so nothing of the trust system outlives the verdict.
long VerifyAuthenticode(HANDLE file, const WideString& path) {
    TrustVerification verification(file, path);
    return verification.Verify();
}
