#pragma once
// Trust anchored in the machine: a certificate's chain built again with the local machine's chain
// engine, so that it must end in a root of the local machine's stores. The default engine also takes
// roots from the user's own Root store, which any process of that user can add to; this program runs
// elevated and may rely on no choice of the user's.
#include "common/platform_compat.h"

#include <windows.h>
#include <wincrypt.h>

#include "common/unique_handle.h"

using UniqueCertContext = UniqueHandle<NullHandleTraits<PCCERT_CONTEXT, ::CertFreeCertificateContext>>;

// What the chain must be good for, and how it is judged.
enum class MachineTrustUse {
    // A publisher's code-signing certificate, already accepted by WinVerifyTrust with its timestamp:
    // the chain is judged by the base policy, whatever the certificates' validity periods.
    CodeSigning,
    // A TLS server's certificate: the SSL policy for serverName, validity periods included.
    Server,
};

// True only when the chain of certificate, with extraStore's certificates as candidates for its
// intermediates, ends in a root of the local machine's stores and passes the policy. policyError gets
// the policy's verdict, or the system's error when no verdict could be made (0 on success).
bool ChainsToMachineRoot(PCCERT_CONTEXT certificate, HCERTSTORE extraStore, MachineTrustUse use,
                         const wchar_t* serverName, DWORD& policyError);
