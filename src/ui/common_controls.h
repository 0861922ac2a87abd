#pragma once
// The two Common Controls entry points the program uses, reached through their delay-load thunks.
// commctrl.h declares them dllimport, so a call would name only the __imp_ slot; GNU ld then drops the
// thunk that the slot must start out pointing to, and the first call jumps to address 0. Naming the
// thunk itself keeps it, and the DLL still loads on first use, from System32.
#include <windows.h>
#include <commctrl.h>

extern "C" BOOL WINAPI CallInitCommonControlsEx(const INITCOMMONCONTROLSEX* controls)
    __asm__("_InitCommonControlsEx@4");
extern "C" HRESULT WINAPI CallTaskDialogIndirect(const TASKDIALOGCONFIG* config, int* button, int* radioButton,
                                                 BOOL* verificationChecked) __asm__("_TaskDialogIndirect@16");
