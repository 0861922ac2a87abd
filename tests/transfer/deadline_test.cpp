// Every wait on the network ends, and the progress window answers while it lasts: against a server
// that slows one phase of the exchange or says nothing (tests/harness/slow_tls_server.py). This program
// is built with that server as its release host and with limits of a few seconds: 4 s for the manifest
// and for a package request, 3 s for each wait for response data.
#include <gtest/gtest.h>

#include <atomic>
#include <iterator>
#include <string>
#include <vector>

#include "common/build_config.h"
#include "common/win32_handles.h"
#include "harness/test_support.h"
#include "transfer/manifest_fetch.h"
#include "transfer/package_download.h"
#include "transfer/transfer_test_util.h"
#include "ui/progress_window.h"

namespace {

using transfer_test::Generated;
using transfer_test::Sha256Hex;

const wchar_t kReadFailed[] = L"Could not read release information.";
const wchar_t kSendFailed[] = L"The secure download request failed. Check the internet connection and try again.";
const wchar_t kInterrupted[] = L"The installer download was interrupted.";
const wchar_t kCancelled[] = L"Download cancelled.";

// How far past its limit a bounded wait may end on a loaded machine.
constexpr ULONGLONG kSlackMs = 3000;

// What the next connection to the slow server meets (see its header).
void SlowServer(const std::string& mode) {
    test_support::WriteWholeFile(test_support::HarnessPath("slow-tls-mode.json"), mode);
}

ULONGLONG Now() { return GetTickCount64(); }

// A second thread that keeps asking the window for a reply, as Windows does before it calls a window
// "Not Responding", and keeps the longest wait. It can also click Cancel after a given time.
class WindowWatch {
public:
    WindowWatch(HWND window, DWORD cancelAfterMs = 0) : window_(window), cancelAfterMs_(cancelAfterMs) {
        thread_.Reset(CreateThread(nullptr, 0, Run, this, 0, nullptr));
    }
    ~WindowWatch() { Stop(); }
    // Called on the window's thread, which keeps answering until the watch has ended.
    void Stop() {
        stop_ = true;
        const HANDLE thread = thread_.Get();
        while (thread && MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        }
        thread_.Reset();
    }
    ULONGLONG longestReplyMs() const { return longest_; }
    int replies() const { return replies_; }
    ULONGLONG clickedAt() const { return clickedAt_; }

private:
    static DWORD WINAPI Run(void* self) {
        static_cast<WindowWatch*>(self)->Watch();
        return 0;
    }
    void Watch() {
        const ULONGLONG start = Now();
        while (!stop_) {
            const ULONGLONG asked = Now();
            DWORD_PTR result = 0;
            if (SendMessageTimeoutW(window_, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result)) {
                ++replies_;
            }
            const ULONGLONG waited = Now() - asked;
            if (waited > longest_) longest_ = waited;
            if (cancelAfterMs_ != 0 && clickedAt_ == 0 && Now() - start >= cancelAfterMs_) {
                clickedAt_ = Now();
                PostMessageW(window_, WM_COMMAND, MAKEWPARAM(kCancelButtonId, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(window_, kCancelButtonId)));
            }
            Sleep(20);
        }
    }

    HWND window_;
    DWORD cancelAfterMs_;
    std::atomic<bool> stop_{false};
    std::atomic<ULONGLONG> longest_{0};
    std::atomic<int> replies_{0};
    std::atomic<ULONGLONG> clickedAt_{0};
    UniqueThread thread_;
};

TEST(Limits, ThisBuildShortensThem) {
    ASSERT_EQ(kManifestTimeLimitMs, 4000u);
    ASSERT_EQ(kRequestTimeLimitMs, 4000u);
    ASSERT_EQ(kReceiveTimeoutMs, 3000u);
}

// Slowed phases that no limit of a single wait ends: each byte comes well within the receive time-out.
struct SlowedPhase {
    const char* what;
    const char* mode;
};
const SlowedPhase kStalledRequests[] = {
    {"a server that accepts and then says nothing", R"({"silent": true})"},
    {"the server's side of the handshake at one byte every half second", R"({"handshake_delay": 0.5})"},
    {"status line and headers at one byte a second", R"({"header_delay": 1.0})"},
};

TEST(ManifestDeadline, AStalledPhaseEndsAsAFailedReadAtTheDeadline) {
    // The manifest's deadline also bounds its body, which a package's does not.
    std::vector<SlowedPhase> cases(std::begin(kStalledRequests), std::end(kStalledRequests));
    cases.push_back({"the body at one byte a second", R"({"rate": 1, "size": 300})"});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SlowServer(c.mode);
        Utf8String body;
        const ULONGLONG start = Now();
        const Outcome fetched = FetchReleaseManifest(body);
        const ULONGLONG elapsed = Now() - start;
        EXPECT_STREQ(fetched.Text(), kReadFailed);
        EXPECT_GE(elapsed, kManifestTimeLimitMs - 1000);
        EXPECT_LT(elapsed, kManifestTimeLimitMs + kSlackMs);
        std::printf("[ measured ] manifest, %s: ended after %llu ms\n", c.what, elapsed);
    }
}

TEST(ManifestDeadline, AManifestThatComesSlowlyButInTimeIsTaken) {
    // About 2.5 s of headers, one byte every 40 ms, within the 4 s limit.
    SlowServer(R"({"header_delay": 0.04, "size": 300})");
    Utf8String body;
    EXPECT_TRUE(FetchReleaseManifest(body));
    EXPECT_EQ(body, Generated(300));
}

class PackageWaits : public ::testing::Test {
protected:
    void SetUp() override {
        partial = test_support::MakeScratchFolder(L"transfer-deadlines") + L"\\BrimlowAIQuillo-Setup-SLOW.exe.part";
        ASSERT_TRUE(progress.Create(L"1.0.0"));
    }
    void TearDown() override { progress.Destroy(); }

    bool Download(std::uint64_t size, WindowWatch& watch) {
        const PackageEntry package{transfer_test::LocalUrl(transfer_test::EnvPort("SLOW_TLS_PORT"), "/package"),
                                   transfer_test::Widen(Sha256Hex(Generated(size))), size};
        const ULONGLONG start = Now();
        const Outcome downloaded = transfer_test::DownloadPackage(package, partial, &progress);
        ended = Now();
        elapsed = ended - start;
        watch.Stop();
        error = downloaded.Text();
        return static_cast<bool>(downloaded);
    }

    ProgressWindow progress;
    std::wstring partial;
    std::wstring error;
    ULONGLONG ended = 0;
    ULONGLONG elapsed = 0;
};

TEST_F(PackageWaits, AStalledRequestEndsAsASendFailureAtTheDeadlineWhileTheWindowAnswers) {
    for (const auto& c : kStalledRequests) {
        SCOPED_TRACE(c.what);
        SlowServer(c.mode);
        WindowWatch watch(progress.Handle());
        EXPECT_FALSE(Download(100, watch));
        EXPECT_EQ(error, kSendFailed);
        EXPECT_FALSE(test_support::FileExists(partial));
        EXPECT_GE(elapsed, kRequestTimeLimitMs - 1000);
        EXPECT_LT(elapsed, kRequestTimeLimitMs + kSlackMs);
        EXPECT_GT(watch.replies(), 10);
        EXPECT_LT(watch.longestReplyMs(), 1000u);
        std::printf("[ measured ] package request, %s: ended after %llu ms; longest reply %llu ms\n", c.what,
                    elapsed, watch.longestReplyMs());
    }
}

TEST_F(PackageWaits, APackageOnASlowLinkArrivesWhileTheWindowAnswersThroughout) {
    // 80,000 bytes at 8,000 a second: ten seconds, more than one 64 KiB block of the download. The body
    // comes in pieces of 500 bytes, which no block holds a whole number of: one read finds part of a
    // piece already there and asks for a whole block more, as reads from a real server do.
    SlowServer(R"({"rate": 8000, "size": 80000})");
    WindowWatch watch(progress.Handle());
    EXPECT_TRUE(Download(80000, watch));
    EXPECT_EQ(error, L"");
    EXPECT_EQ(test_support::ReadWholeFile(partial), Generated(80000));
    EXPECT_GE(elapsed, 9000u);
    EXPECT_GT(watch.replies(), 80);
    EXPECT_LT(watch.longestReplyMs(), 1000u);
    std::printf("[ measured ] 8,000 bytes/s package: %llu ms; longest reply %llu ms over %d replies\n", elapsed,
                watch.longestReplyMs(), watch.replies());
}

TEST_F(PackageWaits, ABodyThatGoesSilentFailsAfterTheReceiveTimeOutWhileTheWindowAnswers) {
    // 16 KiB at 8 KiB a second, then nothing: the read in hand ends when no data has come for 3 s.
    SlowServer(R"({"rate": 8192, "size": 65536, "stall_after": 16384})");
    WindowWatch watch(progress.Handle());
    EXPECT_FALSE(Download(65536, watch));
    EXPECT_EQ(error, kInterrupted);
    EXPECT_FALSE(test_support::FileExists(partial));
    EXPECT_GE(elapsed, 2000 + kReceiveTimeoutMs - 500);
    EXPECT_LT(elapsed, 2000 + kReceiveTimeoutMs + kSlackMs);
    EXPECT_LT(watch.longestReplyMs(), 1000u);
    std::printf("[ measured ] body silent after 16 KiB: ended after %llu ms; longest reply %llu ms\n", elapsed,
                watch.longestReplyMs());
}

TEST_F(PackageWaits, CancelEndsTheDownloadWithinTwoSecondsWhateverTheServerIsDoing) {
    const struct {
        const char* what;
        const char* mode;
        std::uint64_t size;
    } cases[] = {
        {"mid-body on a slow link", R"({"rate": 4096, "size": 65536})", 65536},
        {"mid-body after the server went silent", R"({"rate": 8192, "size": 65536, "stall_after": 8192})", 65536},
        {"while the server says nothing to the request", R"({"silent": true})", 100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SlowServer(c.mode);
        WindowWatch watch(progress.Handle(), 1500);
        EXPECT_FALSE(Download(c.size, watch));
        EXPECT_EQ(error, kCancelled);
        EXPECT_FALSE(test_support::FileExists(partial));
        ASSERT_NE(watch.clickedAt(), 0u);
        EXPECT_LT(ended - watch.clickedAt(), 2000u);
        std::printf("[ measured ] cancel %s: ended %llu ms after the click\n", c.what, ended - watch.clickedAt());
        // The next case starts with a new window, which has not been asked to cancel.
        ASSERT_TRUE(progress.Create(L"1.0.0"));
        ASSERT_FALSE(progress.CancelRequested());
    }
}

}  // namespace
