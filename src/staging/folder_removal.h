#pragma once
// Removing a folder's contents, and the folder itself, through handles only. Every entry is opened
// relative to the folder it was listed in and as itself: a junction or symbolic link is removed as a
// link and never entered, so nothing outside the folder can be reached, whatever was put inside it.
#include <windows.h>

#include <vector>

#include "common/wide_string.h"

// Deletes everything below folder, a handle that can list it. folderPath names the same folder; where
// inUse is given, the path of each file that someone holds without sharing delete is added to it, by
// its place below folderPath. True when nothing is left.
bool DeleteFolderContents(HANDLE folder, const WideString& folderPath, std::vector<WideString>* inUse);

// Deletes the folder held open as held, once it is empty, through a handle reopened from it. False
// while it is not empty or someone else holds it without sharing delete.
bool DeleteHeldFolder(HANDLE held);

// Marks an entry opened with DELETE access for deletion when its last handle closes.
bool SetDeleteDisposition(HANDLE entry);

// The entries directly inside folder, as its listing reports them.
struct FolderEntry {
    WideString name;
    DWORD attributes;
};
bool ListFolder(HANDLE folder, std::vector<FolderEntry>& entries);
