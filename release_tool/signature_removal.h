#pragma once
// Takes an Authenticode signature off a PE file again, as osslsigncode remove-signature does: the
// certificate table at the end of the file is cut off, the header's entry for it zeroed and the header
// checksum computed again. For a file that was signed once, the result is the file as built, byte for
// byte. Win32-free, so it also builds natively.
#include <cstdint>
#include <vector>

enum class Unsigning {
    Done,
    NotPe,           // no MZ and PE headers, or headers cut short
    NotSigned,       // the certificate table entry is empty
    TableNotAtEnd,   // the certificate table does not end the file: something was appended or moved
};

// On Done, unsigned holds the file without its signature.
Unsigning RemoveSignature(const std::vector<unsigned char>& file, std::vector<unsigned char>& unsignedFile);

// The PE header checksum of a file whose checksum field lies at checksumAt (the field itself counts as 0).
std::uint32_t PeChecksum(const std::vector<unsigned char>& file, std::size_t checksumAt);
