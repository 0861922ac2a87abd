// Replaces parts of the C++ runtime that this small GUI program never needs but that would otherwise
// drag well over 100 KiB into a stub that users download first: the verbose terminate handler (it prints
// a demangled type name to a console the program does not have), the standard library's throw helpers
// (each builds an exception object with a message string and the whole unwinder behind it) and the
// global operator new (whose std::bad_alloc brings the same unwinder).
// The program throws nothing itself; a container that cannot grow or an allocation that fails ends the
// process at once instead, which fails closed: nothing unverified is ever started.
#include <windows.h>

#include <cstddef>
#include <cstdlib>

namespace {

// An exit code outside the 0 to 10 of the outcomes, so no caller takes it for one of them.
constexpr UINT kRuntimeFailureExitCode = 255;

[[noreturn]] void EndProcess() {
    ::ExitProcess(kRuntimeFailureExitCode);
}

}  // namespace

namespace __gnu_cxx {
[[noreturn]] void __verbose_terminate_handler() { EndProcess(); }
}  // namespace __gnu_cxx

namespace std {
[[noreturn]] void __throw_bad_exception() { EndProcess(); }
[[noreturn]] void __throw_bad_alloc() { EndProcess(); }
[[noreturn]] void __throw_bad_array_new_length() { EndProcess(); }
[[noreturn]] void __throw_bad_cast() { EndProcess(); }
[[noreturn]] void __throw_bad_typeid() { EndProcess(); }
[[noreturn]] void __throw_logic_error(const char*) { EndProcess(); }
[[noreturn]] void __throw_domain_error(const char*) { EndProcess(); }
[[noreturn]] void __throw_invalid_argument(const char*) { EndProcess(); }
[[noreturn]] void __throw_length_error(const char*) { EndProcess(); }
[[noreturn]] void __throw_out_of_range(const char*) { EndProcess(); }
[[noreturn]] void __throw_out_of_range_fmt(const char*, ...) { EndProcess(); }
[[noreturn]] void __throw_runtime_error(const char*) { EndProcess(); }
[[noreturn]] void __throw_range_error(const char*) { EndProcess(); }
[[noreturn]] void __throw_overflow_error(const char*) { EndProcess(); }
[[noreturn]] void __throw_underflow_error(const char*) { EndProcess(); }
}  // namespace std

// No new-handler is ever installed, so the library's operator new would throw std::bad_alloc at the
// first failure; ending the process here is what that uncaught exception would have led to.
void* operator new(std::size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) {
        EndProcess();
    }
    return block;
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
