#pragma once
// The one inspection of a package file that make, check and verify share, so a package that passes one
// passes them all: the file held as the installer holds it, its size and SHA-256, its PE headers, and the
// installer's own trust check with the signer it found. The texts that describe what was found are here
// too; each command puts them in its own sentences.
#include <windows.h>

#include <cstdint>
#include <vector>

#include "common/wide_string.h"
#include "common/win32_handles.h"
#include "package_image.h"
#include "trust/installer_trust.h"

struct PackageInspection {
    bool isImage = false;  // the file has PE headers; image holds what they say
    PackageImage image;
    WideString x86Problem;  // why it could not start on 32-bit x86 Windows, when that was asked; else empty
    bool signatureChecked = false;
    TrustVerdict trust;  // the installer's own verdict, with the signer it read; only when signatureChecked
};

// A package file under the installer's read lock: nothing can write, rename or delete it while it is
// held, so the bytes hashed are the bytes inspected and trust-checked.
class HeldPackage {
public:
    // Opens path and reads its size. On failure prints openFailure, or subject followed by
    // " cannot be read.", with the system's error number, then nextStep when given.
    bool Open(const WideString& path, const WideString& openFailure, const WideString& subject,
              const WideString& nextStep = WideString());
    std::uint64_t Size() const { return size_; }
    // The SHA-256 of the whole file, as the installer computes it; false when it cannot be read whole.
    bool Hash(WideString& sha256) const;
    // The whole file, for a file small enough to hold in memory (the web setup); false when it cannot be
    // read whole.
    bool ReadWhole(std::vector<unsigned char>& bytes) const;
    // Reads the PE headers (and, when mustRunOnX86, what keeps it from starting on 32-bit x86 Windows)
    // and, when publisher is given, puts the file through the installer's own trust check against it.
    PackageInspection Inspect(bool mustRunOnX86, const WideString* publisher) const;

private:
    WideString path_;
    UniqueFile lock_;
    std::uint64_t size_ = 0;
};

// What keeps a local package file (make, check) from being released, as the end of a sentence about
// it, with what to do: first what keeps it from starting on 32-bit x86 Windows, then what fails the trust
// check; empty when nothing does.
WideString PackageProblem(const PackageInspection& found, const WideString& publisher);

// Why a downloaded package (verify) failed the trust check: the installer's own text first, then what
// the tool found and what to do.
WideString TrustFailure(const PackageInspection& found, const WideString& publisher);

// A warning when the package's product version and the release's version disagree or cannot be
// compared; empty when they agree. subject names the package, source the version it is compared with.
WideString VersionWarning(const WideString& subject, const PackageInspection& found, const WideString& source,
                          const WideString& version);
