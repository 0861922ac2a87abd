#pragma once
// The owners of the kernel, GDI and user handles the program takes. Subsystem-specific owners
// (WinHTTP, BCrypt, CryptoAPI) are declared next to their single user.
#include <windows.h>

#include "common/unique_handle.h"

struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) { ::CloseHandle(handle); }
};
using UniqueFile = UniqueHandle<FileHandleTraits>;

// Process and thread handles are null when absent, unlike file handles.
using UniqueProcess = UniqueHandle<NullHandleTraits<HANDLE, ::CloseHandle>>;
using UniqueThread = UniqueHandle<NullHandleTraits<HANDLE, ::CloseHandle>>;
using UniqueEvent = UniqueHandle<NullHandleTraits<HANDLE, ::CloseHandle>>;
// A top-level window; its child controls go with it.
using UniqueWindow = UniqueHandle<NullHandleTraits<HWND, ::DestroyWindow>>;
using UniqueFont = UniqueHandle<NullHandleTraits<HFONT, ::DeleteObject>>;
using UniqueIcon = UniqueHandle<NullHandleTraits<HICON, ::DestroyIcon>>;
// Memory the system allocated for the caller with LocalAlloc, such as a converted security descriptor.
using UniqueLocalMemory = UniqueHandle<NullHandleTraits<HLOCAL, ::LocalFree>>;
