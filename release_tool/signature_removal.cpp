#include "signature_removal.h"

namespace {

constexpr std::size_t kNewHeaderOffsetAt = 0x3C;
constexpr std::size_t kOptionalHeaderAt = 24;  // after "PE\0\0" and IMAGE_FILE_HEADER
constexpr std::size_t kChecksumAt = 64;        // in the optional header, the same for PE32 and PE32+
constexpr std::size_t kPe32DirectoriesAt = 96;
constexpr std::size_t kPe32PlusDirectoriesAt = 112;
constexpr std::size_t kSecurityDirectory = 4;  // IMAGE_DIRECTORY_ENTRY_SECURITY: a file offset, not an RVA

std::uint32_t Dword(const std::vector<unsigned char>& bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) | (static_cast<std::uint32_t>(bytes[at + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes[at + 2]) << 16) | (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}

void PutDword(std::vector<unsigned char>& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

}  // namespace

std::uint32_t PeChecksum(const std::vector<unsigned char>& file, std::size_t checksumAt) {
    std::uint64_t sum = 0;
    for (std::size_t at = 0; at < file.size(); at += 2) {
        std::uint32_t word = file[at];
        if (at + 1 < file.size()) {
            word |= static_cast<std::uint32_t>(file[at + 1]) << 8;
        }
        if (at >= checksumAt && at < checksumAt + 4) {
            word = 0;
        }
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint32_t>(sum + file.size());
}

Unsigning RemoveSignature(const std::vector<unsigned char>& file, std::vector<unsigned char>& unsignedFile) {
    if (file.size() < 64 || file[0] != 'M' || file[1] != 'Z') {
        return Unsigning::NotPe;
    }
    const std::size_t pe = Dword(file, kNewHeaderOffsetAt);
    const std::size_t optional = pe + kOptionalHeaderAt;
    if (pe > file.size() || file.size() - pe < kOptionalHeaderAt + 2 || file[pe] != 'P' || file[pe + 1] != 'E' ||
        file[pe + 2] != 0 || file[pe + 3] != 0) {
        return Unsigning::NotPe;
    }
    const unsigned magic = file[optional] | (file[optional + 1] << 8);
    const std::size_t directories = optional + (magic == 0x20B ? kPe32PlusDirectoriesAt : kPe32DirectoriesAt);
    const std::size_t entry = directories + kSecurityDirectory * 8;
    if ((magic != 0x10B && magic != 0x20B) || entry + 8 > file.size()) {
        return Unsigning::NotPe;
    }
    const std::uint32_t tableAt = Dword(file, entry);
    const std::uint32_t tableSize = Dword(file, entry + 4);
    if (tableAt == 0 && tableSize == 0) {
        return Unsigning::NotSigned;
    }
    if (tableAt < entry + 8 || tableAt > file.size() || file.size() - tableAt != tableSize) {
        return Unsigning::TableNotAtEnd;
    }
    unsignedFile.assign(file.begin(), file.begin() + tableAt);
    PutDword(unsignedFile, entry, 0);
    PutDword(unsignedFile, entry + 4, 0);
    PutDword(unsignedFile, optional + kChecksumAt, PeChecksum(unsignedFile, optional + kChecksumAt));
    return Unsigning::Done;
}
