#pragma once
// The manifest texts the tests check, shared with the fuzzer's seed corpus. Texts that name a package
// url are built from the compiled-in release base URL, so the table holds for any configured host.
#include <cstdint>
#include <string>
#include <vector>

#include "common/wide_string.h"

namespace manifest_cases {

enum class Op { Find, Object, String, Unsigned, Literal };

// One scanner call on one text. For Literal, position is the input and key the literal.
struct ScanCase {
    const char* name;
    Op op;
    std::string text;
    std::string key;
    bool ok;
    std::uint64_t number = 0;   // Find: position; Unsigned: value; Literal: position to test
    std::string object;         // Object: the cut-out text
    std::u16string string;      // String: the converted value
};

struct ValidationCase {
    std::string name;
    std::string text;
    bool ok;
    bool published = true;
    std::u16string version;  // checked on a pass when given
};

// The release base URL as UTF-8 (the host is ASCII).
std::string BaseUrl();

// The passing example manifest, published, with the given base URL in its package urls.
std::string ValidManifest();

// ValidManifest with the first occurrence of from replaced by to.
std::string Edit(const std::string& from, const std::string& to);

std::vector<ScanCase> ScanCases();
std::vector<ValidationCase> ValidationCases();

}  // namespace manifest_cases
