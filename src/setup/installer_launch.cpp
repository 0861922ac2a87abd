#include "setup/installer_launch.h"

// Placeholder until the launch lands.
bool LaunchInstaller(const WideString&, std::uint32_t&) { return false; }
