// Reading a package's PE headers and version resource: the kinds of program an x86 package may be, the
// product version found, and headers that lie about their sizes. The images are laid out here, byte by
// byte, as the linker and windres would lay out a minimal program. Runs natively and under Wine.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "package_image.h"

namespace {

using Bytes = std::vector<unsigned char>;

void PutWord(Bytes& image, std::size_t at, std::uint32_t value) {
    image[at] = static_cast<unsigned char>(value);
    image[at + 1] = static_cast<unsigned char>(value >> 8);
}

void PutDword(Bytes& image, std::size_t at, std::uint32_t value) {
    PutWord(image, at, value & 0xFFFF);
    PutWord(image, at + 2, value >> 16);
}

struct Layout {
    std::uint16_t machine = kMachineI386;
    bool pe32Plus = false;
    std::uint16_t characteristics = 0x0102;  // an executable image for a 32-bit machine
    std::uint16_t subsystem = kSubsystemWindowsGui;
    bool version = true;
    std::uint16_t product[4] = {2, 3, 1, 0};
};

// Where the pieces are, for the tests that break one of them.
constexpr std::size_t kPeAt = 0x40;
constexpr std::size_t kSectionAt = 0x200;      // the one section's bytes in the file, at RVA 0x1000
constexpr std::size_t kDataEntryAt = kSectionAt + 0x48;
constexpr std::size_t kVersionAt = kSectionAt + 0x58;
constexpr std::size_t kVersionSize = 92;

std::size_t OptionalSize(const Layout& layout) { return layout.pe32Plus ? 240 : 224; }
std::size_t ResourceDirectoryAt(const Layout& layout) {
    return kPeAt + 24 + (layout.pe32Plus ? 112 : 96) + 2 * 8;
}
std::size_t SectionHeaderAt(const Layout& layout) { return kPeAt + 24 + OptionalSize(layout); }

Bytes Image(const Layout& layout) {
    Bytes image(kVersionAt + kVersionSize, 0);
    image[0] = 'M';
    image[1] = 'Z';
    PutDword(image, 0x3C, kPeAt);
    std::memcpy(&image[kPeAt], "PE\0\0", 4);
    PutWord(image, kPeAt + 4, layout.machine);
    PutWord(image, kPeAt + 6, 1);
    PutWord(image, kPeAt + 20, static_cast<std::uint32_t>(OptionalSize(layout)));
    PutWord(image, kPeAt + 22, layout.characteristics);
    const std::size_t optional = kPeAt + 24;
    PutWord(image, optional, layout.pe32Plus ? 0x20B : 0x10B);
    PutWord(image, optional + 68, layout.subsystem);
    PutDword(image, optional + (layout.pe32Plus ? 108 : 92), 16);
    const std::uint32_t sectionSize = static_cast<std::uint32_t>(image.size() - kSectionAt);
    if (layout.version) {
        PutDword(image, ResourceDirectoryAt(layout), 0x1000);
        PutDword(image, ResourceDirectoryAt(layout) + 4, sectionSize);
    }
    const std::size_t section = SectionHeaderAt(layout);
    std::memcpy(&image[section], ".rsrc", 5);
    PutDword(image, section + 8, sectionSize);
    PutDword(image, section + 12, 0x1000);
    PutDword(image, section + 16, sectionSize);
    PutDword(image, section + 20, kSectionAt);
    // Type 16, name 1, language 0x409, each a directory of one id entry, then the data entry.
    const std::uint32_t levels[][2] = {{16, 0x80000018}, {1, 0x80000030}, {0x409, 0x48}};
    for (std::size_t level = 0; level < 3; ++level) {
        const std::size_t directory = kSectionAt + level * 0x18;
        PutWord(image, directory + 14, 1);
        PutDword(image, directory + 16, levels[level][0]);
        PutDword(image, directory + 20, levels[level][1]);
    }
    PutDword(image, kDataEntryAt, 0x1058);
    PutDword(image, kDataEntryAt + 4, kVersionSize);
    PutWord(image, kVersionAt, kVersionSize);
    PutWord(image, kVersionAt + 2, 52);
    const char key[] = "VS_VERSION_INFO";
    for (std::size_t i = 0; i < sizeof key; ++i) {
        PutWord(image, kVersionAt + 6 + 2 * i, static_cast<unsigned char>(key[i]));
    }
    PutDword(image, kVersionAt + 40, 0xFEEF04BD);
    PutDword(image, kVersionAt + 44, 0x00010000);
    PutDword(image, kVersionAt + 56, (std::uint32_t{layout.product[0]} << 16) | layout.product[1]);
    PutDword(image, kVersionAt + 60, (std::uint32_t{layout.product[2]} << 16) | layout.product[3]);
    return image;
}

// Reads from the bytes like a file would, and fails the test on any read the reader did not bound.
bool Inspect(const Bytes& bytes, PackageImage& image) {
    const ReadFileAt read = [&bytes](std::uint64_t offset, std::size_t count, unsigned char* out) {
        EXPECT_TRUE(offset <= bytes.size() && count <= bytes.size() - offset) << offset << " + " << count;
        if (offset > bytes.size() || count > bytes.size() - offset) {
            return false;
        }
        std::memcpy(out, bytes.data() + offset, count);
        return true;
    };
    return ReadPackageImage(bytes.size(), read, image);
}

TEST(PackageImage, AnX86PackageMustBeA32BitProgramForTheGuiOrTheConsole) {
    struct Case {
        const char* name;
        Layout layout;
        X86Fit fit;
    };
    Layout console;
    console.subsystem = kSubsystemWindowsConsole;
    Layout x64;
    x64.machine = kMachineAmd64;
    x64.pe32Plus = true;
    Layout x64Pe32;  // only the machine field says x64
    x64Pe32.machine = kMachineAmd64;
    Layout arm64;
    arm64.machine = kMachineArm64;
    arm64.pe32Plus = true;
    Layout pe32Plus;
    pe32Plus.pe32Plus = true;
    Layout dll;
    dll.characteristics = 0x2102;
    Layout native;
    native.subsystem = 1;
    Layout efi;
    efi.subsystem = 10;
    const Case cases[] = {
        {"a GUI program", Layout{}, X86Fit::Program},
        {"a console program", console, X86Fit::Program},
        {"an x64 program", x64, X86Fit::OtherMachine},
        {"an x64 machine with a 32-bit optional header", x64Pe32, X86Fit::OtherMachine},
        {"an ARM64 program", arm64, X86Fit::OtherMachine},
        {"an x86 machine with a 64-bit optional header", pe32Plus, X86Fit::NotPe32},
        {"a DLL", dll, X86Fit::Dll},
        {"a native-subsystem driver", native, X86Fit::OtherSubsystem},
        {"an EFI application", efi, X86Fit::OtherSubsystem},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PackageImage image;
        ASSERT_TRUE(Inspect(Image(c.layout), image));
        EXPECT_EQ(CheckX86Program(image), c.fit);
        // The version resource is found through either optional header.
        EXPECT_TRUE(image.hasVersion);
        EXPECT_EQ(image.productVersion[2], 1);
    }
}

TEST(PackageImage, ReadsTheFixedProductVersionOrReportsThatThereIsNone) {
    Layout layout;
    layout.product[0] = 65535;
    layout.product[1] = 1;
    layout.product[2] = 258;
    layout.product[3] = 7;
    PackageImage image;
    ASSERT_TRUE(Inspect(Image(layout), image));
    ASSERT_TRUE(image.hasVersion);
    EXPECT_EQ(image.productVersion[0], 65535);
    EXPECT_EQ(image.productVersion[1], 1);
    EXPECT_EQ(image.productVersion[2], 258);
    EXPECT_EQ(image.productVersion[3], 7);

    layout.version = false;
    ASSERT_TRUE(Inspect(Image(layout), image));
    EXPECT_FALSE(image.hasVersion);
    EXPECT_EQ(CheckX86Program(image), X86Fit::Program);
}

TEST(PackageImage, AFileWithoutPeHeadersIsNotAnImage) {
    const Bytes good = Image(Layout{});
    auto with = [&](std::size_t at, std::uint32_t value, bool dword) {
        Bytes image = good;
        dword ? PutDword(image, at, value) : PutWord(image, at, value);
        return image;
    };
    struct Case {
        const char* name;
        Bytes bytes;
    };
    const Case cases[] = {
        {"an empty file", {}},
        {"a text file", Bytes{'h', 'e', 'l', 'l', 'o'}},
        {"no MZ", with(0, 0x5A4E, false)},
        {"the PE header offset past the end", with(0x3C, static_cast<std::uint32_t>(good.size()), true)},
        {"the PE header offset at 4 GiB - 1", with(0x3C, 0xFFFFFFFF, true)},
        {"no PE signature", with(kPeAt, 0x00004550 + 1, true)},
        {"an optional header too short for the subsystem", with(kPeAt + 20, 69, false)},
        {"an optional header longer than the file", with(kPeAt + 20, 0xFFFF, false)},
        {"headers cut short", Bytes(good.begin(), good.begin() + kPeAt + 24 + 60)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PackageImage image;
        image.machine = 0x1234;
        EXPECT_FALSE(Inspect(c.bytes, image));
        EXPECT_EQ(image.machine, 0x1234) << "left as it was";
    }
}

TEST(PackageImage, AVersionResourceThatPointsAnywhereButItsOwnBytesIsIgnored) {
    const Layout layout;
    const Bytes good = Image(layout);
    const std::size_t section = SectionHeaderAt(layout);
    auto with = [&](std::size_t at, std::uint32_t value) {
        Bytes image = good;
        PutDword(image, at, value);
        return image;
    };
    struct Case {
        const char* name;
        Bytes bytes;
    };
    const Case cases[] = {
        {"a resource directory larger than its section", with(ResourceDirectoryAt(layout) + 4, 0xFFFFFFFF)},
        {"a resource directory at an address no section holds", with(ResourceDirectoryAt(layout), 0x5000)},
        {"a type directory with no entries", with(kSectionAt + 12, 0)},
        {"a section whose bytes lie past the end of the file", with(section + 20, 0xFFFFFF00)},
        {"a section whose bytes in the file are fewer than the resources", with(section + 16, 0x10)},
        {"65535 entries in the type directory", with(kSectionAt + 12, 0xFFFF0000)},
        {"the type entry's subdirectory outside the resources", with(kSectionAt + 20, 0x8FFFFFF0)},
        {"the type entry pointing at data, not a directory", with(kSectionAt + 20, 0x18)},
        {"the language entry pointing at a directory", with(kSectionAt + 0x30 + 20, 0x80000000)},
        {"no version type, only type 15", with(kSectionAt + 16, 15)},
        {"the version type written as a name", with(kSectionAt + 16, 0x80000010)},
        {"the version data at an address no section holds", with(kDataEntryAt, 0x9000)},
        {"the version data running past its section", with(kDataEntryAt, 0x1058 + 8)},
        {"the version data shorter than its fixed part", with(kDataEntryAt + 4, 91)},
        {"a fixed part with the wrong signature", with(kVersionAt + 40, 0xFEEF04BC)},
        {"a key other than VS_VERSION_INFO", with(kVersionAt + 6, 0x00540056)},
        {"a value shorter than the fixed part", with(kVersionAt, (51u << 16) | 92u)},
        {"a file cut in the middle of the fixed part", Bytes(good.begin(), good.end() - 10)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PackageImage image;
        ASSERT_TRUE(Inspect(c.bytes, image));
        EXPECT_FALSE(image.hasVersion);
        EXPECT_EQ(CheckX86Program(image), X86Fit::Program);
    }
}

// Every prefix of the file and random damage to its bytes: no read outside the file (Inspect's reader
// checks each), and no version from a file cut before the end of its fixed part.
TEST(PackageImage, DamagedImagesNeverLeadOutsideTheFile) {
    const Bytes good = Image(Layout{});
    for (std::size_t length = 0; length < good.size(); ++length) {
        PackageImage image;
        Inspect(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length)), image);
        ASSERT_FALSE(image.hasVersion) << length;
    }
    std::mt19937 random(20261210);
    for (int i = 0; i < 20000; ++i) {
        Bytes bytes = good;
        for (int edit = 0; edit < 1 + static_cast<int>(random() % 4); ++edit) {
            bytes[random() % bytes.size()] = static_cast<unsigned char>(random() % 3 == 0 ? 0xFF : random());
        }
        PackageImage image;
        Inspect(bytes, image);
    }
}

TEST(PackageImage, AReleaseVersionIsComparedByItsLeadingNumbers) {
    struct Case {
        std::u16string version;
        std::uint16_t product[4];
        VersionMatch match;
    };
    const Case cases[] = {
        {u"2.3.1", {2, 3, 1, 0}, VersionMatch::Same},
        {u"2.3.1.0", {2, 3, 1, 0}, VersionMatch::Same},
        {u"2.3", {2, 3, 0, 0}, VersionMatch::Same},
        {u"2", {2, 0, 0, 0}, VersionMatch::Same},
        {u"02.003.1", {2, 3, 1, 0}, VersionMatch::Same},
        {u"2.3.1 beta", {2, 3, 1, 0}, VersionMatch::Same},
        {u"2.3.1-rc.1 (build 7)", {2, 3, 1, 0}, VersionMatch::Same},
        {u"2.3.", {2, 3, 0, 0}, VersionMatch::Same},
        {u"65535.0.0.65535", {65535, 0, 0, 65535}, VersionMatch::Same},
        {u"2.3.1", {2, 3, 1, 5}, VersionMatch::Differs},
        {u"2.3.1", {2, 3, 2, 0}, VersionMatch::Differs},
        {u"2.3.1", {1, 2, 3, 0}, VersionMatch::Differs},
        {u"2.3.1", {0, 0, 0, 0}, VersionMatch::Differs},
        {u"9.8.7 build 6", {9, 8, 7, 6}, VersionMatch::Differs},
        {u"\u7248\u672c 2", {2, 0, 0, 0}, VersionMatch::NotComparable},
        {u"v2.3.1", {2, 3, 1, 0}, VersionMatch::NotComparable},
        {u".2.3", {0, 2, 3, 0}, VersionMatch::NotComparable},
        {u"1.2.3.4.5", {1, 2, 3, 4}, VersionMatch::NotComparable},
        {u"65536.0", {0, 0, 0, 0}, VersionMatch::NotComparable},
        {u"99999999999999999999", {0, 0, 0, 0}, VersionMatch::NotComparable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.version.begin(), c.version.end()));
        PackageImage image;
        image.hasVersion = true;
        std::memcpy(image.productVersion, c.product, sizeof c.product);
        const WideString version(c.version.begin(), c.version.end());
        EXPECT_EQ(CompareProductVersion(version, image), c.match);
    }
}

}  // namespace
