#include "harness/test_support.h"

#include "common/win32_handles.h"

#include <winioctl.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace test_support {

namespace {

std::wstring Widen(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                                      static_cast<int>(wide.size()));
    wide.resize(n);
    return wide;
}

}  // namespace

std::wstring HarnessPath(const std::string& relative) {
    const char* dir = std::getenv("WEBSETUP_HARNESS_DIR");
    if (!dir) {
        throw std::runtime_error("WEBSETUP_HARNESS_DIR is not set: run the tests through ctest");
    }
    std::string unixPath = dir;
    if (!relative.empty()) {
        unixPath += "/" + relative;
    }
    std::wstring path = L"Z:" + Widen(unixPath);
    for (auto& c : path) {
        if (c == L'/') c = L'\\';
    }
    return path;
}

unsigned TestPort() {
    const char* port = std::getenv("WEBSETUP_TEST_PORT");
    return port ? static_cast<unsigned>(std::strtoul(port, nullptr, 10)) : 0;
}

void WriteRoutes(const std::string& table, const std::string& json) {
    const std::wstring dir = HarnessPath("server/routes");
    CreateDirectoryW(HarnessPath("server").c_str(), nullptr);
    CreateDirectoryW(dir.c_str(), nullptr);
    // Write then rename, so the server never reads half a table.
    const std::wstring path = dir + L"\\" + Widen(table) + L".json";
    const std::wstring temp = path + L".tmp";
    WriteWholeFile(temp, json);
    MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

void RemoveTree(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
        return;
    }
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                if (wcscmp(data.cFileName, L".") && wcscmp(data.cFileName, L"..")) {
                    RemoveTree(path + L"\\" + data.cFileName);
                }
            } while (FindNextFileW(find, &data));
            FindClose(find);
        }
    }
    RemoveDirectoryW(path.c_str());
}

std::wstring MakeScratchFolder(const std::wstring& name) {
    const std::wstring root = HarnessPath("scratch");
    CreateDirectoryW(root.c_str(), nullptr);
    const std::wstring folder = root + L"\\" + name;
    // Remove what an earlier run left.
    RemoveTree(folder);
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

int CountEntries(const std::wstring& folder) {
    int count = 0;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return 0;
    do {
        if (wcscmp(data.cFileName, L".") && wcscmp(data.cFileName, L"..")) ++count;
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return count;
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadWholeFile(const std::wstring& path) {
    std::string bytes;
    const UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
    return bytes;
}

void WriteWholeFile(const std::wstring& path, const std::string& bytes) {
    const UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file) throw std::runtime_error("cannot write a test file");
    DWORD written = 0;
    WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void ForgetWineRevocationStatus() {
    wchar_t profile[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH) == 0) {
        return;
    }
    const std::wstring content = std::wstring(profile) + L"\\AppData\\LocalLow\\Microsoft\\CryptnetUrlCache\\Content";
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((content + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    constexpr char kMagic[] = "Wine cached revocation";
    do {
        const std::wstring path = content + L"\\" + found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
            ReadWholeFile(path).rfind(kMagic, 0) == 0) {
            DeleteFileW(path.c_str());
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

namespace {
constexpr wchar_t kSoftwarePublishing[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\WinTrust\\Trust Providers\\Software Publishing";
}

UserWinTrustFlags::UserWinTrustFlags(DWORD state) {
    DWORD size = sizeof(old_);
    had_ = RegGetValueW(HKEY_CURRENT_USER, kSoftwarePublishing, L"State", RRF_RT_REG_DWORD, nullptr, &old_, &size) ==
           ERROR_SUCCESS;
    if (RegSetKeyValueW(HKEY_CURRENT_USER, kSoftwarePublishing, L"State", REG_DWORD, &state, sizeof(state)) !=
        ERROR_SUCCESS) {
        throw std::runtime_error("cannot set the user's WinTrust policy flags");
    }
}

UserWinTrustFlags::~UserWinTrustFlags() {
    if (had_) {
        RegSetKeyValueW(HKEY_CURRENT_USER, kSoftwarePublishing, L"State", REG_DWORD, &old_, sizeof(old_));
    } else {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kSoftwarePublishing, L"State");
    }
}

std::wstring PendingFileRenames() {
    UniqueHandle<NullHandleTraits<HKEY, RegCloseKey>> key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", 0, KEY_QUERY_VALUE,
                      key.Put()) != ERROR_SUCCESS) {
        return {};
    }
    DWORD size = 0;
    std::wstring value;
    if (RegQueryValueExW(key.Get(), L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
        value.resize(size / sizeof(wchar_t));
        RegQueryValueExW(key.Get(), L"PendingFileRenameOperations", nullptr, nullptr, reinterpret_cast<BYTE*>(value.data()),
                         &size);
    }
    return value;
}

}  // namespace test_support

namespace {

// A mount point's reparse data: the substitute name (the target in NT form) and an empty print name.
bool MakeJunction(const std::wstring& link, const std::wstring& target) {
    if (!CreateDirectoryW(link.c_str(), nullptr)) return false;
    HANDLE folder = CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return false;
    const std::wstring substitute = L"\\??\\" + target;
    const WORD substituteBytes = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
    const WORD dataBytes = static_cast<WORD>(8 + substituteBytes + 2 * sizeof(wchar_t));
    std::string data(8 + dataBytes, '\0');
    char* p = data.data();
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    const WORD offsets[4] = {0, substituteBytes, static_cast<WORD>(substituteBytes + sizeof(wchar_t)), 0};
    memcpy(p, &tag, 4);
    memcpy(p + 4, &dataBytes, 2);
    memcpy(p + 8, offsets, 8);
    memcpy(p + 16, substitute.c_str(), substituteBytes);
    DWORD returned = 0;
    const BOOL made = DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, p, static_cast<DWORD>(data.size()), nullptr,
                                      0, &returned, nullptr);
    CloseHandle(folder);
    if (!made) RemoveDirectoryW(link.c_str());
    return made != FALSE;
}

// The host's symlink(2) and unlink(2), called directly: under Wine the program is a host process.
long HostSymlink(const char* target, const char* link) {
    long result = -1;
#if defined(__x86_64__)
    asm volatile("syscall" : "=a"(result) : "a"(88L), "D"(target), "S"(link) : "rcx", "r11", "memory");
#elif defined(__i386__)
    asm volatile("int $0x80" : "=a"(result) : "a"(83L), "b"(target), "c"(link) : "memory");
#endif
    return result;
}
long HostUnlink(const char* path) {
    long result = -1;
#if defined(__x86_64__)
    asm volatile("syscall" : "=a"(result) : "a"(87L), "D"(path) : "rcx", "r11", "memory");
#elif defined(__i386__)
    asm volatile("int $0x80" : "=a"(result) : "a"(10L), "b"(path) : "memory");
#endif
    return result;
}

std::string UnixName(const std::wstring& path) {
    using UnixFileName = char*(CDECL*)(const wchar_t*);
    const auto unixFileName = reinterpret_cast<UnixFileName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (unixFileName == nullptr) return {};
    char* name = unixFileName(path.c_str());
    if (name == nullptr) return {};
    std::string unixName = name;
    HeapFree(GetProcessHeap(), 0, name);
    return unixName;
}

}  // namespace

namespace test_support {

bool MakeFolderLink(const std::wstring& link, const std::wstring& target) {
    if (MakeJunction(link, target)) return true;
    const std::size_t slash = link.rfind(L'\\');
    const std::string parent = UnixName(link.substr(0, slash));
    const std::string unixTarget = UnixName(target);
    if (parent.empty() || unixTarget.empty()) return false;
    const std::string unixLink = parent + "/" + std::string(link.begin() + static_cast<std::ptrdiff_t>(slash) + 1, link.end());
    return HostSymlink(unixTarget.c_str(), unixLink.c_str()) == 0;
}

void RemoveFolderLink(const std::wstring& link) {
    if (RunsUnderWine()) {
        const std::size_t slash = link.rfind(L'\\');
        const std::string parent = UnixName(link.substr(0, slash));
        const std::string unixLink =
            parent + "/" + std::string(link.begin() + static_cast<std::ptrdiff_t>(slash) + 1, link.end());
        HostUnlink(unixLink.c_str());
        return;
    }
    RemoveDirectoryW(link.c_str());
}

bool RunsUnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

}  // namespace test_support
