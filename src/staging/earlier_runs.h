#pragma once
// Folders that earlier runs could not remove: a run killed by a power cut, a log-off or Task Manager
// leaves its folder, with whatever it had downloaded, in the machine's temporary folder.
#include <windows.h>

#include "common/wide_string.h"

// Removes, through handles, each folder in machineTemp (a handle that can list it) that is provably an
// earlier run's own: named as a run folder, a real folder, owned by Administrators or SYSTEM, carrying
// the run folder's protected descriptor, and held by no one (a running web setup holds its own). Every
// other entry is left alone, and nothing found there stops the run.
// provesRunFolder judges the descriptor of a folder opened with READ_CONTROL.
void RemoveEarlierRuns(HANDLE machineTemp, bool (*provesRunFolder)(HANDLE folder));

// Whether the folder is owned by Administrators or SYSTEM and carries exactly the run folder's protected
// access list. A user can make a folder of a run's name, but not one owned by either, and only its
// owner could have given it this list.
bool CarriesRunFolderSecurity(HANDLE folder);

namespace staging_internal {
// The same judgement on a descriptor in memory.
bool IsRunFolderSecurity(PSECURITY_DESCRIPTOR descriptor);

// "BrimlowAIQuillo-" followed by 32 upper-case hexadecimal digits: the names runs give their folders.
bool IsRunFolderName(const WideString& name);
}  // namespace staging_internal
