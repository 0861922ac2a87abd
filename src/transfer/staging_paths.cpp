#include "transfer/staging_paths.h"

// Placeholder until staging lands.
bool MakeStagingPaths(WideString&, WideString&) { return false; }
