#include "setup/confirm_install.h"

// Placeholder until the prompt lands.
int ConfirmInstall(const ReleaseManifest&) { return 2; }
