#include "staging/partial_file.h"

namespace {

// DELETE lets a download that failed be removed through the same handle.
constexpr DWORD kPartialFileAccess = GENERIC_WRITE | DELETE;
constexpr DWORD kPartialFileFlags = FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_SEQUENTIAL_SCAN;
static_assert(kPartialFileFlags == 0x08000100);

}  // namespace

UniqueFile CreatePartialFile(const WideString& path) {
    return UniqueFile(
        ::CreateFileW(path.c_str(), kPartialFileAccess, 0, nullptr, CREATE_NEW, kPartialFileFlags, nullptr));
}

bool DeleteThroughHandle(HANDLE file) {
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}
