// The download loop's conversation with the progress window, seen through recording stand-ins for the
// progress operations (this program links them in place of the real ones): what is called, in which
// order, with which counts, and where a cancel request is noticed.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "harness/test_support.h"
#include "transfer/package_download.h"
#include "transfer/transfer_faults.h"
#include "transfer/transfer_test_util.h"
#include "ui/progress.h"

namespace {

struct Event {
    char kind;  // 'p' pump, 'w' write, 'h' hash, 'u' progress update
    std::uint64_t count;
};
std::vector<Event> events;
std::function<void(ProgressWindow&, std::uint64_t)> onUpdate;
std::function<void(ProgressWindow&)> onPump;

const TransferCalls kReal = transferCalls;
BOOL WINAPI RecordWrite(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    events.push_back({'w', size});
    return kReal.writeFile(file, data, size, written, overlapped);
}
NTSTATUS WINAPI RecordHash(BCRYPT_HASH_HANDLE hash, PUCHAR data, ULONG size, ULONG flags) {
    events.push_back({'h', size});
    return kReal.bcryptHashData(hash, data, size, flags);
}

}  // namespace

void PumpMessages(ProgressWindow& progress) {
    events.push_back({'p', 0});
    if (onPump) onPump(progress);
}
void RequestCancel(ProgressWindow& progress) { progress.cancelRequested = true; }
void UpdateProgress(ProgressWindow& progress, std::uint64_t received, std::uint64_t total) {
    EXPECT_EQ(total, 300000u);
    events.push_back({'u', received});
    if (onUpdate) onUpdate(progress, received);
}
void ShowStatus(ProgressWindow&, const WideString&, const WideString&) {}

namespace {

constexpr std::uint64_t kSize = 300000;

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
        onUpdate = nullptr;
        onPump = nullptr;
        transferCalls.writeFile = RecordWrite;
        transferCalls.bcryptHashData = RecordHash;
    }
    void TearDown() override { transferCalls = kReal; }

    bool Download(ProgressWindow* progress) {
        const PackageEntry package{transfer_test::LocalUrl("/transfer/progress/package"),
                                   transfer_test::Widen(transfer_test::Sha256Hex(transfer_test::Generated(kSize))),
                                   kSize};
        return DownloadPackage(package, partial, progress, error);
    }

    std::wstring partial;
    ErrorText error;
};

TEST_F(DownloadProgressTest, EachBlockIsPumpedReadWrittenHashedCountedAndShownInThatOrder) {
    ProgressWindow progress;
    ASSERT_TRUE(Download(&progress));

    // pump, then per block: write n, hash n, update to the new count, pump; the last pump comes
    // before the read that ends the body, and no update follows it.
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

TEST_F(DownloadProgressTest, WithoutAWindowNothingIsPumpedOrShown) {
    ASSERT_TRUE(Download(nullptr));
    for (const Event& e : events) {
        EXPECT_TRUE(e.kind == 'w' || e.kind == 'h') << e.kind;
    }
    EXPECT_EQ(test_support::ReadWholeFile(partial), transfer_test::Generated(kSize));
}

TEST_F(DownloadProgressTest, ACancelDuringAProgressUpdateStopsBeforeTheNextRead) {
    const struct {
        const char* what;
        std::uint64_t cancelAt;  // the count shown when the user cancels
    } cases[] = {{"mid-download, at the first update", 0}, {"during the last update", kSize}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        events.clear();
        std::uint64_t firstShown = 0;
        onUpdate = [&](ProgressWindow& progress, std::uint64_t received) {
            if (firstShown == 0) firstShown = received;
            if (received == (c.cancelAt ? c.cancelAt : firstShown)) RequestCancel(progress);
        };
        ProgressWindow progress;
        error.clear();
        EXPECT_FALSE(Download(&progress));
        EXPECT_EQ(error, L"Download cancelled.");
        EXPECT_FALSE(test_support::FileExists(partial));
        // The pump after the cancelling update is the last thing that happened: no further write.
        ASSERT_GE(events.size(), 2u);
        EXPECT_EQ(events[events.size() - 2].kind, 'u');
        EXPECT_EQ(events.back().kind, 'p');
    }
}

TEST_F(DownloadProgressTest, ACancelFoundAtTheFirstPumpReadsNothing) {
    onPump = [](ProgressWindow& progress) { RequestCancel(progress); };
    ProgressWindow progress;
    EXPECT_FALSE(Download(&progress));
    EXPECT_EQ(error, L"Download cancelled.");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, 'p');
    EXPECT_FALSE(test_support::FileExists(partial));
}

}  // namespace
