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
struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle handle) { ::CloseHandle(handle); }
};
using UniqueProcess = UniqueHandle<KernelHandleTraits>;
using UniqueThread = UniqueHandle<KernelHandleTraits>;

// A top-level window; its child controls go with it.
struct WindowHandleTraits {
    using Handle = HWND;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle handle) { ::DestroyWindow(handle); }
};
using UniqueWindow = UniqueHandle<WindowHandleTraits>;

struct FontHandleTraits {
    using Handle = HFONT;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle handle) { ::DeleteObject(handle); }
};
using UniqueFont = UniqueHandle<FontHandleTraits>;

struct IconHandleTraits {
    using Handle = HICON;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle handle) { ::DestroyIcon(handle); }
};
using UniqueIcon = UniqueHandle<IconHandleTraits>;

// Memory the system allocated for the caller with LocalAlloc, such as a converted security descriptor.
struct LocalMemoryTraits {
    using Handle = HLOCAL;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle handle) { ::LocalFree(handle); }
};
using UniqueLocalMemory = UniqueHandle<LocalMemoryTraits>;
