#include "package_image.h"

#include <vector>

namespace {

// Offsets and sizes of the PE format, as Microsoft documents it, all little-endian.
constexpr std::size_t kDosHeaderSize = 64;
constexpr std::size_t kNewHeaderOffsetAt = 0x3C;
constexpr std::size_t kFileHeaderSize = 24;  // "PE\0\0" and IMAGE_FILE_HEADER
constexpr std::size_t kSubsystemAt = 68;     // in the optional header, the same for PE32 and PE32+
constexpr std::size_t kPe32DirectoriesAt = 96;
constexpr std::size_t kPe32PlusDirectoriesAt = 112;
constexpr std::uint16_t kOptionalHeaderPe32Plus = 0x020B;
constexpr std::uint32_t kResourceDirectory = 2;
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::size_t kResourceDirectorySize = 16;
constexpr std::size_t kResourceEntrySize = 8;
constexpr std::size_t kResourceDataEntrySize = 16;
constexpr std::uint32_t kResourceTypeVersion = 16;  // RT_VERSION
constexpr std::uint32_t kHighBit = 0x80000000u;
// VS_VERSIONINFO: three WORDs, the key L"VS_VERSION_INFO" with its terminator, padding to 40, then
// VS_FIXEDFILEINFO, whose product version is its fifth and sixth DWORD.
constexpr std::size_t kVersionKeyAt = 6;
constexpr char kVersionKey[] = "VS_VERSION_INFO";
constexpr std::size_t kFixedInfoAt = 40;
constexpr std::size_t kFixedInfoSize = 52;
constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr std::size_t kVersionHeadSize = kFixedInfoAt + kFixedInfoSize;

std::uint16_t Word(const unsigned char* at) { return static_cast<std::uint16_t>(at[0] | (at[1] << 8)); }

std::uint32_t Dword(const unsigned char* at) {
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
           (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

// A read that is refused unless the whole range lies inside the file.
class ImageReader {
public:
    ImageReader(std::uint64_t fileSize, const ReadFileAt& read) : fileSize_(fileSize), read_(read) {}

    bool Read(std::uint64_t offset, std::size_t count, std::vector<unsigned char>& bytes) const {
        if (offset > fileSize_ || count > fileSize_ - offset) {
            return false;
        }
        bytes.assign(count, 0);
        return count == 0 || read_(offset, count, bytes.data());
    }

private:
    std::uint64_t fileSize_;
    const ReadFileAt& read_;
};

struct Section {
    std::uint32_t virtualAddress;
    std::uint32_t rawSize;
    std::uint32_t rawOffset;
};

// The file offset of count bytes at a relative virtual address, when they all lie in one section's
// bytes in the file.
bool RvaToOffset(const std::vector<Section>& sections, std::uint32_t rva, std::uint64_t count,
                 std::uint64_t& offset) {
    for (const Section& section : sections) {
        if (rva < section.virtualAddress) {
            continue;
        }
        const std::uint64_t into = rva - section.virtualAddress;
        if (into < section.rawSize && count <= section.rawSize - into) {
            offset = section.rawOffset + into;
            return true;
        }
    }
    return false;
}

// The resource tree, addressed by offsets from its start, which must stay inside its directory entry.
class ResourceTree {
public:
    ResourceTree(const ImageReader& reader, std::uint64_t start, std::uint32_t size)
        : reader_(reader), start_(start), size_(size) {}

    bool Read(std::uint32_t offset, std::size_t count, std::vector<unsigned char>& bytes) const {
        return offset <= size_ && count <= size_ - offset && reader_.Read(start_ + offset, count, bytes);
    }

    // The entry whose id is wanted (or the first entry at all when anyId): its OffsetToData.
    bool FindEntry(std::uint32_t directory, bool anyId, std::uint32_t wantedId, std::uint32_t& target) const {
        std::vector<unsigned char> head;
        if (!Read(directory, kResourceDirectorySize, head)) {
            return false;
        }
        const std::size_t count = static_cast<std::size_t>(Word(&head[12])) + Word(&head[14]);
        std::vector<unsigned char> entries;
        if (count == 0 || !Read(directory + static_cast<std::uint32_t>(kResourceDirectorySize),
                                count * kResourceEntrySize, entries)) {
            return false;
        }
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint32_t name = Dword(&entries[i * kResourceEntrySize]);
            if (anyId || name == wantedId) {
                target = Dword(&entries[i * kResourceEntrySize + 4]);
                return true;
            }
        }
        return false;
    }

private:
    const ImageReader& reader_;
    std::uint64_t start_;
    std::uint32_t size_;
};

// The RT_VERSION resource's first name and first language: where its bytes are and how many.
bool FindVersionResource(const ResourceTree& tree, std::uint32_t& dataRva, std::uint32_t& dataSize) {
    std::uint32_t names = 0;
    std::uint32_t languages = 0;
    std::uint32_t data = 0;
    // A named entry has its high bit set, so it never equals the id 16.
    if (!tree.FindEntry(0, false, kResourceTypeVersion, names) || (names & kHighBit) == 0 ||
        !tree.FindEntry(names & ~kHighBit, true, 0, languages) || (languages & kHighBit) == 0 ||
        !tree.FindEntry(languages & ~kHighBit, true, 0, data) || (data & kHighBit) != 0) {
        return false;
    }
    std::vector<unsigned char> entry;
    if (!tree.Read(data, kResourceDataEntrySize, entry)) {
        return false;
    }
    dataRva = Dword(&entry[0]);
    dataSize = Dword(&entry[4]);
    return true;
}

bool ReadProductVersion(const ImageReader& reader, const std::vector<Section>& sections,
                        std::uint32_t resourceRva, std::uint32_t resourceSize, PackageImage& image) {
    std::uint64_t resourceOffset = 0;
    if (resourceRva == 0 || resourceSize == 0 || !RvaToOffset(sections, resourceRva, resourceSize, resourceOffset)) {
        return false;
    }
    const ResourceTree tree(reader, resourceOffset, resourceSize);
    std::uint32_t dataRva = 0;
    std::uint32_t dataSize = 0;
    std::uint64_t dataOffset = 0;
    std::vector<unsigned char> head;
    if (!FindVersionResource(tree, dataRva, dataSize) || dataSize < kVersionHeadSize ||
        !RvaToOffset(sections, dataRva, kVersionHeadSize, dataOffset) ||
        !reader.Read(dataOffset, kVersionHeadSize, head)) {
        return false;
    }
    if (Word(&head[0]) < kVersionHeadSize || Word(&head[2]) < kFixedInfoSize) {
        return false;
    }
    for (std::size_t i = 0; i < sizeof kVersionKey; ++i) {
        if (Word(&head[kVersionKeyAt + 2 * i]) != static_cast<unsigned char>(kVersionKey[i])) {
            return false;
        }
    }
    if (Dword(&head[kFixedInfoAt]) != kFixedInfoSignature) {
        return false;
    }
    const std::uint32_t high = Dword(&head[kFixedInfoAt + 16]);
    const std::uint32_t low = Dword(&head[kFixedInfoAt + 20]);
    image.productVersion[0] = static_cast<std::uint16_t>(high >> 16);
    image.productVersion[1] = static_cast<std::uint16_t>(high & 0xFFFF);
    image.productVersion[2] = static_cast<std::uint16_t>(low >> 16);
    image.productVersion[3] = static_cast<std::uint16_t>(low & 0xFFFF);
    return true;
}

}  // namespace

bool ReadPackageImage(std::uint64_t fileSize, const ReadFileAt& read, PackageImage& image) {
    const ImageReader reader(fileSize, read);
    std::vector<unsigned char> dos;
    if (!reader.Read(0, kDosHeaderSize, dos) || dos[0] != 'M' || dos[1] != 'Z') {
        return false;
    }
    const std::uint64_t peAt = Dword(&dos[kNewHeaderOffsetAt]);
    std::vector<unsigned char> file;
    if (!reader.Read(peAt, kFileHeaderSize, file) || file[0] != 'P' || file[1] != 'E' || file[2] != 0 ||
        file[3] != 0) {
        return false;
    }
    const std::uint16_t sectionCount = Word(&file[6]);
    const std::uint16_t optionalSize = Word(&file[20]);
    std::vector<unsigned char> optional;
    if (optionalSize < kSubsystemAt + 2 || !reader.Read(peAt + kFileHeaderSize, optionalSize, optional)) {
        return false;
    }
    PackageImage found;
    found.machine = Word(&file[4]);
    found.characteristics = Word(&file[22]);
    found.optionalHeaderMagic = Word(&optional[0]);
    found.subsystem = Word(&optional[kSubsystemAt]);

    // The version resource is looked for only where the headers leave no doubt about its place.
    const std::size_t directoriesAt = found.optionalHeaderMagic == kOptionalHeaderPe32       ? kPe32DirectoriesAt
                                      : found.optionalHeaderMagic == kOptionalHeaderPe32Plus ? kPe32PlusDirectoriesAt
                                                                                             : 0;
    const std::size_t resourceAt = directoriesAt + kResourceDirectory * 8;
    std::vector<unsigned char> sectionTable;
    if (directoriesAt != 0 && optionalSize >= resourceAt + 8 &&
        Dword(&optional[directoriesAt - 4]) > kResourceDirectory &&
        reader.Read(peAt + kFileHeaderSize + optionalSize, std::size_t{sectionCount} * kSectionHeaderSize,
                    sectionTable)) {
        std::vector<Section> sections;
        for (std::size_t i = 0; i < sectionCount; ++i) {
            const unsigned char* header = &sectionTable[i * kSectionHeaderSize];
            sections.push_back({Dword(header + 12), Dword(header + 16), Dword(header + 20)});
        }
        found.hasVersion = ReadProductVersion(reader, sections, Dword(&optional[resourceAt]),
                                              Dword(&optional[resourceAt + 4]), found);
    }
    image = found;
    return true;
}

X86Fit CheckX86Program(const PackageImage& image) {
    if (image.machine != kMachineI386) {
        return X86Fit::OtherMachine;
    }
    if (image.optionalHeaderMagic != kOptionalHeaderPe32) {
        return X86Fit::NotPe32;
    }
    if ((image.characteristics & kFileIsDll) != 0) {
        return X86Fit::Dll;
    }
    if (image.subsystem != kSubsystemWindowsGui && image.subsystem != kSubsystemWindowsConsole) {
        return X86Fit::OtherSubsystem;
    }
    return X86Fit::Program;
}

VersionMatch CompareProductVersion(std::basic_string_view<WideChar> version, const PackageImage& image) {
    std::uint32_t parts[4] = {};
    std::size_t count = 0;
    std::size_t at = 0;
    for (;;) {
        const std::size_t start = at;
        std::uint32_t value = 0;
        while (at < version.size() && version[at] >= WIDE('0') && version[at] <= WIDE('9')) {
            value = value * 10 + static_cast<std::uint32_t>(version[at] - WIDE('0'));
            if (value > 0xFFFF) {
                return VersionMatch::NotComparable;
            }
            ++at;
        }
        if (at == start) {
            // No digits: the text has no number at all, or its run ended with the dot before ("2.3.").
            if (count == 0) {
                return VersionMatch::NotComparable;
            }
            break;
        }
        if (count == 4) {
            return VersionMatch::NotComparable;
        }
        parts[count++] = value;
        if (at >= version.size() || version[at] != WIDE('.')) {
            break;
        }
        ++at;
    }
    for (std::size_t i = 0; i < 4; ++i) {
        if (parts[i] != image.productVersion[i]) {
            return VersionMatch::Differs;
        }
    }
    return VersionMatch::Same;
}
