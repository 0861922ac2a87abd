#pragma once
// What MinGW-w64's headers lack or lay out differently from the platform's own. Each entry says why it
// is here and checks the size the 32-bit platform uses. The build reads it first in every C++ file,
// before any Windows header (websetup_windows_api in cmake/WebSetup.cmake).

// CryptoAPI is declared dllimport, so calls go through the __imp_ slot alone; GNU ld then drops the
// delay-load thunk that slot must point to, and the first call jumps to 0. Without dllimport the calls
// go through the thunk, which loads crypt32.dll on first use.
#ifndef WINIMPM
#define WINIMPM
#endif

#include <windows.h>
#include <commctrl.h>
#include <wintrust.h>

#include <cstddef>

// The two Common Controls entry points the program uses, reached through their delay-load thunks.
// commctrl.h declares them dllimport, with the same effect as for CryptoAPI above; naming the thunk
// itself keeps it, and the DLL still loads on first use, from System32. These work in any include order.
// The 64-bit build, which the tests use where the machine runs no 32-bit code, has undecorated names.
#ifdef _WIN64
#define PLATFORM_COMPAT_THUNK(name, bytes) #name
#else
#define PLATFORM_COMPAT_THUNK(name, bytes) "_" #name "@" #bytes
#endif
extern "C" BOOL WINAPI CallInitCommonControlsEx(const INITCOMMONCONTROLSEX* controls)
    __asm__(PLATFORM_COMPAT_THUNK(InitCommonControlsEx, 4));
extern "C" HRESULT WINAPI CallTaskDialogIndirect(const TASKDIALOGCONFIG* config, int* button, int* radioButton,
                                                 BOOL* verificationChecked)
    __asm__(PLATFORM_COMPAT_THUNK(TaskDialogIndirect, 16));

// MinGW's wintrust.h does not define this provider flag.
#ifndef WTD_DISABLE_MD2_MD4
#define WTD_DISABLE_MD2_MD4 0x00002000
#endif

struct WINTRUST_SIGNATURE_SETTINGS_;

// MinGW's WINTRUST_DATA stops at dwUIContext (48 bytes); the platform's ends with pSignatureSettings.
// cbStruct must state the full size, so the structure is declared here in full.
struct FullWintrustData {
    DWORD cbStruct;
    LPVOID pPolicyCallbackData;
    LPVOID pSIPClientData;
    DWORD dwUIChoice;
    DWORD fdwRevocationChecks;
    DWORD dwUnionChoice;
    WINTRUST_FILE_INFO* pFile;  // the only union member the program uses (WTD_CHOICE_FILE)
    DWORD dwStateAction;
    HANDLE hWVTStateData;
    WCHAR* pwszURLReference;
    DWORD dwProvFlags;
    DWORD dwUIContext;
    WINTRUST_SIGNATURE_SETTINGS_* pSignatureSettings;
};

#ifndef _WIN64
static_assert(sizeof(WINTRUST_FILE_INFO) == 16, "WINTRUST_FILE_INFO is 16 bytes in the 32-bit layout");
static_assert(sizeof(FullWintrustData) == 52, "WINTRUST_DATA is 52 bytes in the full 32-bit layout");
#endif
// The members MinGW does declare must sit where the platform has them.
static_assert(offsetof(FullWintrustData, dwUIContext) == offsetof(WINTRUST_DATA, dwUIContext),
              "FullWintrustData must extend WINTRUST_DATA, not rearrange it");
static_assert(offsetof(FullWintrustData, pFile) == offsetof(WINTRUST_DATA, pFile),
              "the union sits where WINTRUST_DATA has it");

// winternl.h hides the leading fields of RTL_USER_PROCESS_PARAMETERS in Reserved1. The platform lays
// them out as MaximumLength, Length, Flags and DebugFlags; Flags carries the loader's DLL redirection.
struct ProcessParametersHead {
    ULONG maximumLength;
    ULONG length;
    ULONG flags;
    ULONG debugFlags;
};
static_assert(sizeof(ProcessParametersHead) == 16, "the first 16 bytes of RTL_USER_PROCESS_PARAMETERS");
// RTL_USER_PROC_DLL_REDIRECTION_LOCAL: the loader takes DLLs from <program>.local first.
constexpr ULONG kProcessDllRedirectionLocal = 0x1000;

// The empty activation context, which redirects nothing; MinGW's winbase.h lacks the handle.
#ifndef ACTCTX_EMPTY
#define ACTCTX_EMPTY ((HANDLE)(LONG_PTR) - 3)
#endif
