#pragma once
// How a stage that can fail ended: it succeeded, or it failed with the one whole sentence the user
// reads and, where a system call failed, that call's error number. The driver shows the sentence; the
// release tool prints the number beside it.
#include <cstdint>

#include "common/wide_string.h"

class [[nodiscard]] Outcome {
public:
    // Succeeded.
    Outcome() = default;
    // text is one of the program's fixed sentences, which outlive every outcome. systemError is 0 where
    // no system call failed: a refusal, a wrong size, a deadline, a cancel.
    static Outcome Failure(const WideChar* text, std::uint32_t systemError = 0) { return Outcome(text, systemError); }

    explicit operator bool() const { return text_ == nullptr; }
    // Empty when it succeeded.
    const WideChar* Text() const { return text_ != nullptr ? text_ : WIDE(""); }
    std::uint32_t SystemError() const { return systemError_; }

private:
    Outcome(const WideChar* text, std::uint32_t systemError) : text_(text), systemError_(systemError) {}

    const WideChar* text_ = nullptr;
    std::uint32_t systemError_ = 0;
};
