// The download's conversation with its observer, seen through a recording observer and recording
// write and hash calls. The body is written and hashed on a worker thread of the download's own; the
// observer hears of it on the caller's thread only, at most ten times a second and always at the end,
// and a stop it asks for ends the download with nothing written afterwards.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "harness/test_support.h"
#include "transfer/download_observer.h"
#include "transfer/package_download.h"
#include "transfer/transfer_calls.h"
#include "transfer/transfer_test_util.h"

namespace {

constexpr std::uint64_t kSize = 300000;

// What the worker did, in order. Recorded from the worker thread, read by the test once it has ended.
struct Block {
    char kind;  // 'w' write, 'h' hash
    std::uint64_t count;
};
SRWLOCK blocksLock = SRWLOCK_INIT;
std::vector<Block> blocks;

// This toolchain's threads are the platform's own; std::mutex is not there.
class Hold {
public:
    Hold() { AcquireSRWLockExclusive(&blocksLock); }
    ~Hold() { ReleaseSRWLockExclusive(&blocksLock); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
};

std::vector<Block> Blocks() {
    const Hold hold;
    return blocks;
}

const TransferCalls kReal;
BOOL WINAPI RecordWrite(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    {
        const Hold hold;
        blocks.push_back({'w', size});
    }
    return kReal.writeFile(file, data, size, written, overlapped);
}
NTSTATUS WINAPI RecordHash(BCRYPT_HASH_HANDLE hash, PUCHAR data, ULONG size, ULONG flags) {
    {
        const Hold hold;
        blocks.push_back({'h', size});
    }
    return kReal.bcryptHashData(hash, data, size, flags);
}

// Stands where the progress window is in the program; a test stops the download from a callback.
class RecordingObserver final : public DownloadObserver {
public:
    bool ContinueDownload() override {
        Heard('p', 0);
        if (onAsked) onAsked(*this);
        return !stopRequested;
    }
    void BlockReceived(std::uint64_t received, std::uint64_t total) override {
        EXPECT_EQ(total, kSize);
        Heard('u', received);
        if (onBlock) onBlock(*this, received);
    }

    struct Call {
        char kind;  // 'p' asked whether to go on, 'u' told of the count
        std::uint64_t count;
        DWORD thread;
    };
    std::vector<Call> calls;
    std::function<void(RecordingObserver&)> onAsked;
    std::function<void(RecordingObserver&, std::uint64_t)> onBlock;
    bool stopRequested = false;

private:
    void Heard(char kind, std::uint64_t count) { calls.push_back({kind, count, GetCurrentThreadId()}); }
};

class DownloadProgressTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Fast, and slow enough that the body is still on its way a good half second after it began.
        test_support::WriteRoutes("transfer_progress", R"({
            "/transfer/progress/package": {"body_size": 300000, "chunk": 20000},
            "/transfer/progress/slow": {"body_size": 300000, "chunk": 20000, "delay_ms": 60}})");
    }
    static void TearDownTestSuite() { transfer_test::RemoveRoutes("transfer_progress"); }

    void SetUp() override {
        partial = test_support::MakeScratchFolder(L"transfer-progress") + L"\\BrimlowAIQuillo-Setup-TEST.exe.part";
        const Hold hold;
        blocks.clear();
        calls.writeFile = RecordWrite;
        calls.bcryptHashData = RecordHash;
    }

    bool Download(DownloadObserver* observer, const char* path = "/transfer/progress/package") {
        const PackageEntry package{transfer_test::LocalUrl(path),
                                   transfer_test::Widen(transfer_test::Sha256Hex(transfer_test::Generated(kSize))),
                                   kSize};
        return transfer_test::DownloadWithCalls(package, partial, observer, calls, error);
    }

    TransferCalls calls;
    std::wstring partial;
    std::wstring error;
};

// Each block is written, then hashed, with the same count; the counts add up to the body.
std::set<std::uint64_t> CheckBlocks(const std::vector<Block>& recorded) {
    std::set<std::uint64_t> counts{0};
    std::uint64_t received = 0;
    EXPECT_EQ(recorded.size() % 2, 0u);
    for (std::size_t i = 0; i + 1 < recorded.size(); i += 2) {
        EXPECT_EQ(recorded[i].kind, 'w') << i;
        EXPECT_EQ(recorded[i + 1].kind, 'h') << i;
        EXPECT_EQ(recorded[i + 1].count, recorded[i].count) << i;
        EXPECT_GT(recorded[i].count, 0u);
        EXPECT_LE(recorded[i].count, 65536u);
        received += recorded[i].count;
        counts.insert(received);
    }
    return counts;
}

TEST_F(DownloadProgressTest, TheObserverIsAskedFirstAndHearsWholeBlocksOnItsOwnThreadEndingWithTheLast) {
    RecordingObserver observer;
    ASSERT_TRUE(Download(&observer, "/transfer/progress/slow"));

    const std::set<std::uint64_t> counts = CheckBlocks(Blocks());
    EXPECT_EQ(*counts.rbegin(), kSize);
    // Asked before anything was read; told only of counts that end a written and hashed block, never
    // going back; the last thing heard is the whole body, then one more question.
    ASSERT_GE(observer.calls.size(), 3u);
    EXPECT_EQ(observer.calls.front().kind, 'p');
    std::uint64_t last = 0;
    int reports = 0;
    for (const auto& call : observer.calls) {
        EXPECT_EQ(call.thread, GetCurrentThreadId());
        if (call.kind != 'u') continue;
        ++reports;
        EXPECT_TRUE(counts.count(call.count)) << call.count;
        EXPECT_GE(call.count, last);
        last = call.count;
    }
    EXPECT_GT(reports, 1) << "the body took about a second: it was shown on its way";
    const auto& end = observer.calls;
    EXPECT_EQ(end[end.size() - 2].kind, 'u');
    EXPECT_EQ(end[end.size() - 2].count, kSize);
    EXPECT_EQ(end.back().kind, 'p');
}

TEST_F(DownloadProgressTest, WithoutAnObserverTheDownloadRunsAlone) {
    ASSERT_TRUE(Download(nullptr));
    EXPECT_EQ(*CheckBlocks(Blocks()).rbegin(), kSize);
    EXPECT_EQ(test_support::ReadWholeFile(partial), transfer_test::Generated(kSize));
}

TEST_F(DownloadProgressTest, AStopAskedForWhileTheCountIsShownEndsTheDownloadAndNothingIsWrittenAfter) {
    const struct {
        const char* what;
        const char* path;
        bool atTheEnd;  // stopped when the whole body is shown, else at the first count shown
    } cases[] = {{"mid-download, at the first count shown", "/transfer/progress/slow", false},
                 {"when the last count is shown", "/transfer/progress/package", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        {
            const Hold hold;
            blocks.clear();
        }
        RecordingObserver observer;
        observer.onBlock = [&](RecordingObserver& self, std::uint64_t received) {
            if (!c.atTheEnd || received == kSize) self.stopRequested = true;
        };
        error.clear();
        EXPECT_FALSE(Download(&observer, c.path));
        EXPECT_EQ(error, L"Download cancelled.");
        EXPECT_FALSE(test_support::FileExists(partial));
        // The question after the count that stopped it is the last thing the observer heard.
        ASSERT_GE(observer.calls.size(), 2u);
        EXPECT_EQ(observer.calls[observer.calls.size() - 2].kind, 'u');
        EXPECT_EQ(observer.calls.back().kind, 'p');
        const std::size_t written = Blocks().size();
        if (!c.atTheEnd) {
            EXPECT_LT(written, 2 * kSize / 20000) << "the body was stopped on its way";
        }
        // The rest of the body keeps coming for most of a second, and none of it reaches the file.
        Sleep(700);
        EXPECT_EQ(Blocks().size(), written);
    }
}

TEST_F(DownloadProgressTest, AStopRequestedBeforeTheFirstReadReadsNothing) {
    RecordingObserver observer;
    observer.onAsked = [](RecordingObserver& self) { self.stopRequested = true; };
    EXPECT_FALSE(Download(&observer));
    EXPECT_EQ(error, L"Download cancelled.");
    ASSERT_EQ(observer.calls.size(), 1u);
    EXPECT_EQ(observer.calls[0].kind, 'p');
    EXPECT_TRUE(Blocks().empty());
    EXPECT_FALSE(test_support::FileExists(partial));
}

}  // namespace
