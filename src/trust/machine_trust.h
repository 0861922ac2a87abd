#pragma once
// Trust anchored in the machine: a certificate's chain built again with the local machine's chain
// engine, so that it must end in a root of the local machine's stores. The default engine also takes
// roots from the user's own Root store, which any process of that user can add to; this program runs
// elevated and may rely on no choice of the user's. The same goes for time and revocation: the chain is
// judged with validity periods in force and revocation checked here, whatever the user's WinTrust
// policy flags tell WinVerifyTrust to overlook.
#include "common/platform_compat.h"

#include <windows.h>
#include <wincrypt.h>

#include "common/unique_handle.h"

using UniqueCertContext = UniqueHandle<NullHandleTraits<PCCERT_CONTEXT, ::CertFreeCertificateContext>>;
inline void CloseCertStore(HCERTSTORE store) { ::CertCloseStore(store, 0); }
using UniqueCertStore = UniqueHandle<NullHandleTraits<HCERTSTORE, CloseCertStore>>;

// What the chain must be good for, and how it is judged. Every chain is built with revocation checked
// for each certificate but the root.
enum class MachineTrustUse {
    // A publisher's code-signing certificate, at the time WinVerifyTrust verified the signature at: a
    // revoked certificate, or one whose revocation status cannot be determined, is refused.
    CodeSigning,
    // The certificate of the timestamp that set that time, judged in the same way.
    TimeStamping,
    // A TLS server's certificate, now: the SSL policy for serverName. A revoked certificate is refused;
    // one whose status cannot be determined passes, as browsers let it, so that a revocation server that
    // cannot be reached does not stop every installation.
    Server,
};

// True only when the chain of certificate, with extraStore's certificates as candidates for its
// intermediates, ends in a root of the local machine's stores and passes the policy at time (now when
// null). policyError gets the policy's verdict, or the system's error when no verdict could be made
// (0 on success).
bool ChainsToMachineRoot(PCCERT_CONTEXT certificate, HCERTSTORE extraStore, MachineTrustUse use,
                         const wchar_t* serverName, const FILETIME* time, DWORD& policyError);
