#pragma once
// What a package's PE headers say: the processor and kind of program it is, and the product version of
// its version resource. Win32-free, so it reads through a callback and also builds natively: the same
// reading serves make (on the engineer's file) and verify (on the downloaded copy).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "common/wide_string.h"

inline constexpr std::uint16_t kMachineI386 = 0x014C;
inline constexpr std::uint16_t kMachineAmd64 = 0x8664;
inline constexpr std::uint16_t kMachineArm = 0x01C4;
inline constexpr std::uint16_t kMachineArm64 = 0xAA64;
inline constexpr std::uint16_t kOptionalHeaderPe32 = 0x010B;
inline constexpr std::uint16_t kFileIsDll = 0x2000;
inline constexpr std::uint16_t kSubsystemWindowsGui = 2;
inline constexpr std::uint16_t kSubsystemWindowsConsole = 3;

struct PackageImage {
    std::uint16_t machine = 0;
    std::uint16_t optionalHeaderMagic = 0;  // 0x10B PE32, 0x20B PE32+
    std::uint16_t characteristics = 0;
    std::uint16_t subsystem = 0;
    bool hasVersion = false;                  // a VS_VERSION_INFO resource with its fixed part
    std::uint16_t productVersion[4] = {};     // VS_FIXEDFILEINFO's product version, major first
};

// Reads exactly count bytes at offset into out; false when the file does not have them.
using ReadFileAt = std::function<bool(std::uint64_t offset, std::size_t count, unsigned char* out)>;

// False when the file is not a PE image at all: no MZ and PE signatures, or headers cut short. A
// missing or malformed version resource is not a failure: hasVersion stays false. Every offset and
// length the file gives is checked against the file's size and the structure it lies in before use.
bool ReadPackageImage(std::uint64_t fileSize, const ReadFileAt& read, PackageImage& image);

enum class X86Fit { Program, OtherMachine, NotPe32, Dll, OtherSubsystem };

// Whether a PE image can start as a program on 32-bit x86 Windows, and if not, the first reason.
X86Fit CheckX86Program(const PackageImage& image);

enum class VersionMatch { Same, Differs, NotComparable };

// Compares a release version with the package's fixed product version. The version's leading run of
// one to four dot-separated numbers (each at most 65535) is compared, missing parts counting as 0, so
// "2.3.1" and "2.3.1 beta" both match 2.3.1.0; what follows that run is a label the fixed version
// cannot hold. A version that does not start with such a run is NotComparable.
VersionMatch CompareProductVersion(std::basic_string_view<WideChar> version, const PackageImage& image);
