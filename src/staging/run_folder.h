#pragma once
// Folders and entries reached through handles: the run's folder is made and opened in one call, its
// entries are opened relative to it, and no reparse point is ever followed.
#include <windows.h>

#include <cstddef>

#include "common/wide_string.h"
#include "common/win32_handles.h"

// Where a run's folder stands. The installer, which runs elevated, uses the machine's temporary folder
// (the Windows directory's Temp), where only SYSTEM and Administrators may touch it; the release tool,
// which runs as its user, uses that user's temporary folder.
enum class RunFolderPlace { MachineTemp, UserTemp };

// The folder a run's folder is made in, opened for making entries in it and for listing it.
UniqueFile OpenRunFolderParent(RunFolderPlace place, WideString& path);

// The user's temporary directory as GetTempPathW reports it, ending in a backslash. The installer
// never uses it; the release tool, which runs as its user, does.
bool GetTempDirectory(WideString& path);

// Makes the folder name inside parent and opens it in one call, with its security given at creation:
// there is no moment in which another process could put something else under its name. An entry that
// already has the name (a file, a folder, a link) fails the call. The handle shares delete so that the
// run can remove the folder through a handle of its own at the end; the folder's descriptor keeps
// everyone else from renaming or deleting it.
UniqueFile CreateFolderAt(HANDLE parent, const WideString& name, PSECURITY_DESCRIPTOR security);

// Opens the entry name directly inside parent as itself: a junction or symbolic link is opened, never
// followed. folderOnly refuses anything that is not a folder. Invalid on failure; the NT status of the
// failure in status (a sharing violation says that someone holds the entry in a way share excludes).
UniqueFile OpenEntryAt(HANDLE parent, const WideString& name, ACCESS_MASK access, ULONG share, bool folderOnly,
                       LONG& status);

// The entry's attributes as its handle reports them.
bool ReadAttributes(HANDLE entry, DWORD& attributes);
inline bool IsRealFolder(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

namespace staging_internal {
// The security descriptor the run folder is created with: owned by Administrators, full control for
// SYSTEM and Administrators, inherited by everything made inside it, nothing inherited from above.
// Invalid when it could not be built.
UniqueLocalMemory MakeRunFolderSecurity();
// Its text form, which a folder left by an earlier run must carry.
inline constexpr wchar_t kRunFolderSecurity[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// The path of an open file or folder as the system reports it for the handle, in the long form that
// starts with \\?\ and is used as it stands. A path without that prefix is normalised on every use: a
// trailing dot or blank is dropped from each segment, so "x." would become "x", another folder. The
// short form, which every consumer takes (the setup program included), is given only where the
// longest path built on it (longestSuffix more units) fits the classic limit and the short form,
// opened, is the held object itself: same volume, same file ID. Otherwise the long form, proved the
// same way. False when neither names the held object.
bool HeldObjectPath(HANDLE held, std::size_t longestSuffix, WideString& path);
}  // namespace staging_internal
