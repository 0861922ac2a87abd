#include "console_output.h"

#include <windows.h>

#include <cwchar>
#include <string>

#include "system_error_text.h"
#include "utf8_form.h"

namespace {

void WriteLineTo(DWORD which, const WideString& line) {
    const HANDLE stream = ::GetStdHandle(which);
    if (stream == nullptr || stream == INVALID_HANDLE_VALUE) {
        return;
    }
    const WideString text = line + L"\r\n";
    DWORD mode = 0;
    DWORD written = 0;
    if (::GetConsoleMode(stream, &mode)) {
        ::WriteConsoleW(stream, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    Utf8String bytes;
    if (!ToUtf8(text, BrokenUnicode::Replace, bytes)) {
        return;
    }
    ::WriteFile(stream, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace

void PrintLine(const WideString& line) { WriteLineTo(STD_OUTPUT_HANDLE, line); }

void PrintFailure(const WideString& line) { WriteLineTo(STD_OUTPUT_HANDLE, line); }

void PrintUsageError(const WideString& line) { WriteLineTo(STD_ERROR_HANDLE, line); }

WideString PackageCount(int count) { return std::to_wstring(count) + (count == 1 ? L" package" : L" packages"); }

WideString GroupedNumber(std::uint64_t value) {
    WideString digits = std::to_wstring(value);
    for (std::size_t at = digits.size(); at > 3; at -= 3) {
        digits.insert(at - 3, 1, L',');
    }
    return digits;
}

WideString WithSystemError(const WideString& sentence, std::uint32_t error) {
    if (error == 0) {
        return sentence;
    }
    const WideString words = SystemErrorWords(error);
    return sentence + L" (error " + std::to_wstring(error) + (words.empty() ? L"" : L": " + words) + L")";
}

WideString WithTrustResult(const WideString& sentence, long trustResult) {
    if (trustResult == 0) {
        return sentence;
    }
    wchar_t number[16] = {};
    ::swprintf(number, 16, L"0x%08X", static_cast<unsigned>(trustResult));
    const WideString words = TrustResultWords(trustResult);
    return sentence + L" (WinVerifyTrust " + number + (words.empty() ? L"" : L": " + words) + L")";
}
