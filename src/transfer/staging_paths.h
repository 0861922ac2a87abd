#pragma once
#include <windows.h>
#include <objbase.h>

#include "common/wide_string.h"
#include "common/win32_handles.h"

// A run's own folder inside the per-user staging folder, and the paths of the run's two files.
struct StagedRun {
    // Held from the moment the folder is made until the run ends, without delete sharing, so that
    // nobody can rename or delete the folder, or any folder above it, while the run uses its paths.
    UniqueFile folder;
    // The folder as the system reports it for the held handle: no link is left in it.
    WideString folderPath;
    WideString partialPath;
    WideString finalPath;
};

// The GUID that names a run; a test may name the run itself.
struct StagingCalls {
    decltype(&::CoCreateGuid) createGuid = ::CoCreateGuid;
};

// Ensures the per-user staging folder exists, creates this run's folder inside it (only SYSTEM and
// Administrators may touch it) and names the run's files after a fresh GUID. Fills run only on
// success.
bool MakeStagingPaths(StagedRun& run, const StagingCalls& calls = {});

// The user's temporary directory as GetTempPathW reports it, ending in a backslash.
bool GetTempDirectory(WideString& path);

// A fresh GUID as 32 upper-case hexadecimal digits, its text form without braces and hyphens: a name
// nobody else will pick. Appended to runTag.
bool MakeRunTag(WideString& runTag, const StagingCalls& calls = {});

// Lets go of the run folder and removes it; what cannot be removed now (an entry still in use) is
// scheduled for deletion at the next restart. Delete the run's files first.
void RemoveRunFolder(StagedRun& run);

// The security descriptor the run folder is created with: owned by Administrators, full control for
// SYSTEM and Administrators, inherited by everything made inside it, nothing inherited from above.
// Invalid when it could not be built.
UniqueLocalMemory MakeRunFolderSecurity();
