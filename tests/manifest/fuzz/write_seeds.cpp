// Writes every manifest text of the test tables into a folder, one file each, as the fuzzer's seeds.
#include <cstdio>
#include <string>

#include "manifest_cases.h"

namespace {

bool WriteSeed(const std::string& folder, int index, const std::string& text) {
    const std::string path = folder + "/seed-" + std::to_string(index);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: write_seeds FOLDER\n");
        return 2;
    }
    int index = 0;
    for (const auto& c : manifest_cases::ValidationCases()) {
        if (!WriteSeed(argv[1], index++, c.text)) {
            return 1;
        }
    }
    for (const auto& c : manifest_cases::ScanCases()) {
        if (!WriteSeed(argv[1], index++, c.text)) {
            return 1;
        }
    }
    return 0;
}
