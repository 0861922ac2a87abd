#pragma once
// The platform calls of the transfer code that no real condition on a test machine makes fail: a
// session, connection or request handle that cannot be made, a SHA-256 provider that refuses, a disk
// write that falls short.
// Production code calls them through transferCalls, which holds the real functions; only tests swap
// one entry for a failing stand-in and put the real one back.
#include <windows.h>
#include <bcrypt.h>
#include <winhttp.h>

struct TransferCalls {
    decltype(&::WinHttpOpen) winHttpOpen = ::WinHttpOpen;
    decltype(&::WinHttpConnect) winHttpConnect = ::WinHttpConnect;
    decltype(&::WinHttpOpenRequest) winHttpOpenRequest = ::WinHttpOpenRequest;
    decltype(&::BCryptOpenAlgorithmProvider) bcryptOpenAlgorithmProvider = ::BCryptOpenAlgorithmProvider;
    decltype(&::BCryptCreateHash) bcryptCreateHash = ::BCryptCreateHash;
    decltype(&::BCryptHashData) bcryptHashData = ::BCryptHashData;
    decltype(&::BCryptFinishHash) bcryptFinishHash = ::BCryptFinishHash;
    decltype(&::WriteFile) writeFile = ::WriteFile;
};

extern TransferCalls transferCalls;
