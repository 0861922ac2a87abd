#pragma once
// Helpers for test programs that run under Wine inside the harness.
#include <windows.h>

#include <cstdint>
#include <string>

namespace test_support {

// The harness folder (build/harness) as a Windows path, optionally with a relative Unix path appended.
std::wstring HarnessPath(const std::string& relative = {});

// The loopback HTTPS server's port, the one compiled into the "loopback" configuration.
unsigned TestPort();

// Writes this program's route table for the HTTPS fixture server (a JSON object keyed by path).
void WriteRoutes(const std::string& table, const std::string& json);

// Removes a file, or a folder with everything below it; a link is removed, never followed.
void RemoveTree(const std::wstring& path);

// A fresh, empty folder under the harness folder, for files a test makes.
std::wstring MakeScratchFolder(const std::wstring& name);

// Number of entries (files or folders) directly inside a folder.
int CountEntries(const std::wstring& folder);

bool FileExists(const std::wstring& path);
std::string ReadWholeFile(const std::wstring& path);
void WriteWholeFile(const std::wstring& path, const std::string& bytes);

// The prefix's list of files to delete or rename at the next restart (PendingFileRenameOperations), as
// one string with its zero separators kept; empty when there is none.
std::wstring PendingFileRenames();

// Wine 8 keeps each certificate's revocation status in a file of the user's CryptnetUrlCache and writes
// a revoked certificate's there as "not revoked"; later checks read that until the CRL's next update. A
// test of a revoked certificate calls this first: it removes those files, and only those.
void ForgetWineRevocationStatus();

// Sets the user's WinTrust policy flags (State under HKCU\...\WinTrust\Trust Providers\Software
// Publishing) for as long as it lives, then puts back what was there.
class UserWinTrustFlags {
public:
    explicit UserWinTrustFlags(DWORD state);
    ~UserWinTrustFlags();
    UserWinTrustFlags(const UserWinTrustFlags&) = delete;
    UserWinTrustFlags& operator=(const UserWinTrustFlags&) = delete;

private:
    bool had_ = false;
    DWORD old_ = 0;
};
// Makes link a link to the folder target, as an unelevated process would put a junction where a folder
// was. Windows: a junction. Wine makes no junctions and renames a host link by moving what it leads
// to, so there the link is a host symbolic link made with the host's own call (Wine runs the program in
// a host process). False when neither could be made.
bool MakeFolderLink(const std::wstring& link, const std::wstring& target);
// Removes such a link as itself.
void RemoveFolderLink(const std::wstring& link);

// Whether the program runs under Wine rather than Windows.
bool RunsUnderWine();

}  // namespace test_support
