#pragma once
// What a package download tells its caller and asks of it, block by block. The download knows nothing
// of windows; the driver connects this to the progress window.
#include <cstdint>

class DownloadObserver {
public:
    // Before every read, and whenever messages arrive while the download waits for the network: the
    // caller handles what happened meanwhile (its window's messages) and says whether to go on. False
    // stops the download as cancelled, at once, even in the middle of a wait.
    virtual bool ContinueDownload() = 0;
    // After every block written and hashed: how far the download has come.
    virtual void BlockReceived(std::uint64_t received, std::uint64_t total) = 0;

protected:
    ~DownloadObserver() = default;
};
