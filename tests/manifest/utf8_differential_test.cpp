// The strict UTF-8 decoder that native builds use must refuse and convert exactly as the platform's
// MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS) does on Windows. Natively it is checked against an
// independent reference (decode loosely, then demand the canonical re-encoding); on Windows builds
// against the platform conversion as well.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "manifest/utf8_text.h"
#include "utf8_encode.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {


// Reference: take any lead byte's pattern at face value, then accept only scalar values whose
// shortest encoding is exactly the bytes read.
bool ReferenceDecode(const std::string& bytes, std::u16string& out) {
    out.clear();
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
        if (length == 0 || bytes.size() - i < length) {
            return false;
        }
        std::uint32_t codePoint = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        if (codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
            return false;
        }
        std::string canonical;
        AppendUtf8(codePoint, canonical);
        if (canonical != bytes.substr(i, length)) {
            return false;
        }
        if (codePoint > 0xFFFF) {
            out.push_back(static_cast<char16_t>(0xD800 + ((codePoint - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((codePoint - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(codePoint));
        }
        i += length;
    }
    return true;
}

// A deterministic set: every 1- and 2-byte string, every 3-byte string whose lead is a 3- or 4-byte
// lead, all strings of up to 4 bytes over the bytes at the class boundaries, the encoding of every code
// point (surrogates included) bare and cut short, and pseudo-random strings.
std::vector<std::string> GeneratedInputs() {
    std::vector<std::string> inputs;
    for (int a = 0; a < 256; ++a) {
        inputs.push_back(std::string(1, static_cast<char>(a)));
        for (int b = 0; b < 256; ++b) {
            inputs.push_back({static_cast<char>(a), static_cast<char>(b)});
        }
    }
    for (int a = 0xE0; a < 0x100; ++a) {
        for (int b = 0; b < 256; ++b) {
            for (int c = 0x70; c < 0xD0; ++c) {
                inputs.push_back({static_cast<char>(a), static_cast<char>(b), static_cast<char>(c)});
            }
        }
    }
    const unsigned char edges[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1, 0xC2,
                                   0xDF, 0xE0, 0xE1, 0xEC, 0xED, 0xEE, 0xEF, 0xF0, 0xF1, 0xF3, 0xF4, 0xF5,
                                   0xF7, 0xF8, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF};
    for (unsigned char a : edges) {
        for (unsigned char b : edges) {
            for (unsigned char c : edges) {
                inputs.push_back({char(a), char(b), char(c)});
                for (unsigned char d : edges) {
                    inputs.push_back({char(a), char(b), char(c), char(d)});
                }
            }
        }
    }
    for (std::uint32_t codePoint = 0x80; codePoint <= 0x10FFFF; ++codePoint) {
        std::string encoded;
        AppendUtf8(codePoint, encoded);
        inputs.push_back("a" + encoded + "z");
        if (codePoint % 7 == 0) {
            inputs.push_back(encoded.substr(0, encoded.size() - 1) + "\"");
        }
    }
    // Overlong forms of a few code points, at every longer length.
    for (std::uint32_t codePoint : {0x00u, 0x2Fu, 0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xFFFFu}) {
        const std::uint32_t c = codePoint;
        inputs.push_back({char(0xC0 | (c >> 6)), char(0x80 | (c & 0x3F))});
        inputs.push_back({char(0xE0 | (c >> 12)), char(0x80 | ((c >> 6) & 0x3F)), char(0x80 | (c & 0x3F))});
        inputs.push_back({char(0xF0), char(0x80 | ((c >> 12) & 0x3F)), char(0x80 | ((c >> 6) & 0x3F)),
                          char(0x80 | (c & 0x3F))});
    }
    std::uint32_t state = 0x2545F491u;
    for (int n = 0; n < 300000; ++n) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        const std::size_t length = 1 + state % 12;
        std::string text;
        for (std::size_t k = 0; k < length; ++k) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            // Mostly high bytes, where the interesting cases live.
            text.push_back(static_cast<char>(state % 4 == 0 ? 0x20 + (state >> 8) % 0x60 : 0x80 + (state >> 8) % 0x80));
        }
        inputs.push_back(text);
    }
    return inputs;
}

std::string Hex(const std::string& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (const char byte : bytes) {
        out.push_back(kDigits[static_cast<unsigned char>(byte) >> 4]);
        out.push_back(kDigits[static_cast<unsigned char>(byte) & 0xF]);
        out.push_back(' ');
    }
    return out;
}

TEST(Utf8Conversion, TheStrictDecoderAgreesWithTheReferenceOnEveryGeneratedInput) {
    int mismatches = 0;
    for (const std::string& input : GeneratedInputs()) {
        std::u16string expected;
        const bool expectedOk = ReferenceDecode(input, expected);
        WideString actual = WIDE("stale");
        const bool actualOk = DecodeUtf8Strict(input.data(), input.size(), actual);
        const std::u16string actual16(actual.begin(), actual.end());
        if (actualOk != expectedOk || (actualOk ? actual16 != expected : !actual.empty())) {
            if (++mismatches <= 10) {
                ADD_FAILURE() << "input " << Hex(input) << " strict " << actualOk << " reference " << expectedOk;
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

#ifdef _WIN32
TEST(Utf8Conversion, TheStrictDecoderAgreesWithMultiByteToWideCharOnEveryGeneratedInput) {
    int mismatches = 0;
    std::size_t compared = 0;
    for (const std::string& input : GeneratedInputs()) {
        const int count = static_cast<int>(input.size());
        const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, input.data(), count, nullptr, 0);
        std::wstring platform;
        if (length > 0) {
            platform.resize(static_cast<std::size_t>(length));
            if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, input.data(), count, platform.data(), length) !=
                length) {
                platform.clear();
            }
        }
        WideString strict;
        const bool strictOk = DecodeUtf8Strict(input.data(), input.size(), strict);
        ++compared;
        if (strictOk != (length > 0) || strict != platform) {
            if (++mismatches <= 10) {
                ADD_FAILURE() << "input " << Hex(input) << " strict " << strictOk << " platform " << (length > 0);
            }
        }
    }
    EXPECT_EQ(mismatches, 0) << "of " << compared;
}
#endif

}  // namespace
