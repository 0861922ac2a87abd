#pragma once
// The platform calls of the transfer code that no real condition on a test machine makes fail: a
// session, connection or request handle that cannot be made, a request option refused, a SHA-256
// provider that refuses, a disk write that falls short. Each member starts as the real function;
// tests replace one.
#include <windows.h>
#include <bcrypt.h>
#include <winhttp.h>

struct TransferCalls {
    decltype(&::WinHttpOpen) winHttpOpen = ::WinHttpOpen;
    decltype(&::WinHttpConnect) winHttpConnect = ::WinHttpConnect;
    decltype(&::WinHttpOpenRequest) winHttpOpenRequest = ::WinHttpOpenRequest;
    decltype(&::WinHttpSetOption) winHttpSetOption = ::WinHttpSetOption;
    decltype(&::BCryptOpenAlgorithmProvider) bcryptOpenAlgorithmProvider = ::BCryptOpenAlgorithmProvider;
    decltype(&::BCryptCreateHash) bcryptCreateHash = ::BCryptCreateHash;
    decltype(&::BCryptHashData) bcryptHashData = ::BCryptHashData;
    decltype(&::BCryptFinishHash) bcryptFinishHash = ::BCryptFinishHash;
    decltype(&::WriteFile) writeFile = ::WriteFile;
};
