// The download's conversation with its observer, seen through a recording observer and recording
// write and hash calls: what is called, in which order, with which counts, and where a request to stop
// is noticed.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "harness/test_support.h"
#include "transfer/download_observer.h"
#include "transfer/package_download.h"
#include "transfer/transfer_calls.h"
#include "transfer/transfer_test_util.h"

namespace {

constexpr std::uint64_t kSize = 300000;

struct Event {
    char kind;  // 'p' asked whether to go on, 'w' write, 'h' hash, 'u' told of a block
    std::uint64_t count;
};
std::vector<Event> events;

const TransferCalls kReal;
BOOL WINAPI RecordWrite(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    events.push_back({'w', size});
    return kReal.writeFile(file, data, size, written, overlapped);
}
NTSTATUS WINAPI RecordHash(BCRYPT_HASH_HANDLE hash, PUCHAR data, ULONG size, ULONG flags) {
    events.push_back({'h', size});
    return kReal.bcryptHashData(hash, data, size, flags);
}

// Stands where the progress window is in the program; a test stops the download from a callback.
class RecordingObserver final : public DownloadObserver {
public:
    bool ContinueDownload() override {
        events.push_back({'p', 0});
        if (onAsked) onAsked(*this);
        return !stopRequested;
    }
    void BlockReceived(std::uint64_t received, std::uint64_t total) override {
        EXPECT_EQ(total, kSize);
        events.push_back({'u', received});
        if (onBlock) onBlock(*this, received);
    }

    std::function<void(RecordingObserver&)> onAsked;
    std::function<void(RecordingObserver&, std::uint64_t)> onBlock;
    bool stopRequested = false;
};

class DownloadProgressTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        test_support::WriteRoutes("transfer_progress",
                                  R"({"/transfer/progress/package": {"body_size": 300000, "chunk": 20000}})");
    }
    static void TearDownTestSuite() { transfer_test::RemoveRoutes("transfer_progress"); }

    void SetUp() override {
        partial = test_support::MakeScratchFolder(L"transfer-progress") + L"\\BrimlowAIQuillo-Setup-TEST.exe.part";
        events.clear();
        calls.writeFile = RecordWrite;
        calls.bcryptHashData = RecordHash;
    }

    bool Download(DownloadObserver* observer) {
        const PackageEntry package{transfer_test::LocalUrl("/transfer/progress/package"),
                                   transfer_test::Widen(transfer_test::Sha256Hex(transfer_test::Generated(kSize))),
                                   kSize};
        return transfer_test::DownloadWithCalls(package, partial, observer, calls, error);
    }

    TransferCalls calls;
    std::wstring partial;
    std::wstring error;
};

TEST_F(DownloadProgressTest, BeforeEachReadTheObserverIsAskedAndEachBlockIsWrittenHashedAndReported) {
    RecordingObserver observer;
    ASSERT_TRUE(Download(&observer));

    // asked, then per block: write n, hash n, report the new count, asked; the last question comes
    // before the read that ends the body, and no report follows it.
    ASSERT_GE(events.size(), 5u);
    ASSERT_EQ(events.front().kind, 'p');
    ASSERT_EQ(events.back().kind, 'p');
    std::uint64_t received = 0;
    std::size_t i = 1;
    while (i + 3 < events.size() && events[i].kind == 'w') {
        const std::uint64_t block = events[i].count;
        EXPECT_GT(block, 0u);
        EXPECT_LE(block, 65536u);
        EXPECT_EQ(events[i + 1].kind, 'h');
        EXPECT_EQ(events[i + 1].count, block);
        received += block;
        EXPECT_EQ(events[i + 2].kind, 'u');
        EXPECT_EQ(events[i + 2].count, received);
        EXPECT_EQ(events[i + 3].kind, 'p');
        i += 4;
    }
    EXPECT_EQ(i, events.size()) << "an event out of order at " << i;
    EXPECT_EQ(received, kSize);
}

TEST_F(DownloadProgressTest, WithoutAnObserverTheDownloadRunsAlone) {
    ASSERT_TRUE(Download(nullptr));
    for (const Event& e : events) {
        EXPECT_TRUE(e.kind == 'w' || e.kind == 'h') << e.kind;
    }
    EXPECT_EQ(test_support::ReadWholeFile(partial), transfer_test::Generated(kSize));
}

TEST_F(DownloadProgressTest, AStopRequestedWhileABlockIsReportedEndsTheDownloadBeforeTheNextRead) {
    const struct {
        const char* what;
        std::uint64_t cancelAt;  // the count shown when the user cancels
    } cases[] = {{"mid-download, at the first update", 0}, {"during the last update", kSize}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        events.clear();
        std::uint64_t firstShown = 0;
        RecordingObserver observer;
        observer.onBlock = [&](RecordingObserver& self, std::uint64_t received) {
            if (firstShown == 0) firstShown = received;
            if (received == (c.cancelAt ? c.cancelAt : firstShown)) self.stopRequested = true;
        };
        error.clear();
        EXPECT_FALSE(Download(&observer));
        EXPECT_EQ(error, L"Download cancelled.");
        EXPECT_FALSE(test_support::FileExists(partial));
        // The question after the report that stopped it is the last thing that happened: no further write.
        ASSERT_GE(events.size(), 2u);
        EXPECT_EQ(events[events.size() - 2].kind, 'u');
        EXPECT_EQ(events.back().kind, 'p');
    }
}

TEST_F(DownloadProgressTest, AStopRequestedBeforeTheFirstReadReadsNothing) {
    RecordingObserver observer;
    observer.onAsked = [](RecordingObserver& self) { self.stopRequested = true; };
    EXPECT_FALSE(Download(&observer));
    EXPECT_EQ(error, L"Download cancelled.");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, 'p');
    EXPECT_FALSE(test_support::FileExists(partial));
}

}  // namespace
