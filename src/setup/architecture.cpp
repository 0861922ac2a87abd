#include "setup/architecture.h"

bool setup_internal::Is64BitArchitecture(WORD processorArchitecture) {
    return processorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
           processorArchitecture == PROCESSOR_ARCHITECTURE_ARM64;
}

bool IsNative64BitWindows() {
    // Reports the machine's own architecture even in a 32-bit process under WOW64.
    SYSTEM_INFO info{};
    ::GetNativeSystemInfo(&info);
    return setup_internal::Is64BitArchitecture(info.wProcessorArchitecture);
}
