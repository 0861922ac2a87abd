// The manifest fetch from the compiled-in manifest URL, served by the loopback server: the cap, the
// block sizes and an empty body. A broken connection: broken_connection_test.cpp.
#include <gtest/gtest.h>

#include <string>

#include "harness/test_support.h"
#include "transfer/manifest_fetch.h"
#include "transfer/transfer_test_util.h"

namespace {

const char kTable[] = "transfer_manifest";

class ManifestFetchTest : public ::testing::Test {
protected:
    void TearDown() override { transfer_test::RemoveRoutes(kTable); }

    // Serves the manifest path with the given route fields, then fetches it.
    bool Fetch(const std::string& route) {
        test_support::WriteRoutes(kTable, R"({"/download/releases/online-latest.json": {)" + route + "}}");
        body.clear();
        const Outcome fetched = FetchReleaseManifest(body);
        error = fetched.Text();
        return static_cast<bool>(fetched);
    }

    Utf8String body;
    std::wstring error;
};

TEST_F(ManifestFetchTest, BodiesUpToTheCapArriveByteForByteHoweverTheServerSplitsThem) {
    const struct {
        std::size_t size;
        int chunk;
    } cases[] = {{1, 65536}, {4000, 1000}, {65536, 65536}, {65536, 8192}, {65536, 1000}, {65536, 12345}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + " bytes in writes of " + std::to_string(c.chunk));
        error = L"";
        ASSERT_TRUE(Fetch(R"("body_size": )" + std::to_string(c.size) + R"(, "chunk": )" + std::to_string(c.chunk)));
        EXPECT_EQ(body, transfer_test::Generated(c.size));
        EXPECT_EQ(error, L"");
    }
}

TEST_F(ManifestFetchTest, OneByteOverTheCapIsRefusedWithoutGrowingPastIt) {
    for (int chunk : {65537, 65536, 8192, 1000, 1}) {
        SCOPED_TRACE(chunk);
        EXPECT_FALSE(Fetch(R"("body_size": 65537, "chunk": )" + std::to_string(chunk)));
        EXPECT_EQ(error, L"The release information is unexpectedly large.");
        EXPECT_LE(body.size(), 65536u);
    }
}

TEST_F(ManifestFetchTest, AnyContentTypeIsTakenAsItIs) {
    ASSERT_TRUE(Fetch(R"("body": "not json at all", "headers": {"Content-Type": "image/png"})"));
    EXPECT_EQ(body, "not json at all");
}

TEST_F(ManifestFetchTest, AnEmptyBodyFailsWithItsOwnMessage) {
    EXPECT_FALSE(Fetch(R"("body": "")"));
    EXPECT_EQ(error, L"The release information is empty.");
}

TEST_F(ManifestFetchTest, AStatusOtherThan200IsTheRequestsFailure) {
    EXPECT_FALSE(Fetch(R"("status": 404, "body": "gone")"));
    EXPECT_EQ(error, L"The download server returned an unexpected response.");
    EXPECT_TRUE(body.empty());
}

TEST_F(ManifestFetchTest, AServerThatTricklesOrStallsIsCutOffAtTheDeadline) {
    // The program's limit is a minute; a shorter one here shows the same rule in seconds.
    constexpr DWORD kLimitMs = 3000;
    const struct {
        const char* what;
        std::string route;
    } cases[] = {
        // Every read gets its byte well inside its own time-out, but the whole body would take 30 s.
        {"one byte every 0.3 s", R"("body_size": 100, "chunk": 1, "delay_ms": 300)"},
        // The headers come at once, then nothing for longer than the limit.
        {"silence after the headers", R"("body_size": 10, "chunk": 10, "delay_ms": 20000)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test_support::WriteRoutes(kTable, R"({"/download/releases/online-latest.json": {)" + c.route + "}}");
        body.clear();
        const ULONGLONG start = GetTickCount64();
        const Outcome fetched =
            FetchManifestAt(transfer_test::LocalUrl("/download/releases/online-latest.json"), body, kLimitMs);
        const ULONGLONG elapsed = GetTickCount64() - start;
        EXPECT_STREQ(fetched.Text(), L"Could not read release information.");
        EXPECT_GE(elapsed, kLimitMs - 500);
        // Bounded by the limit, not by the 30 s that a read may otherwise wait or the body would take.
        EXPECT_LT(elapsed, kLimitMs + 5000);
    }
}

TEST_F(ManifestFetchTest, AManifestThatArrivesSlowlyButWithinTheLimitIsTaken) {
    test_support::WriteRoutes(kTable,
                              R"({"/download/releases/online-latest.json": {"body_size": 8, "chunk": 1, "delay_ms": 100}})");
    EXPECT_TRUE(FetchManifestAt(transfer_test::LocalUrl("/download/releases/online-latest.json"), body, 5000));
    EXPECT_EQ(body, transfer_test::Generated(8));
}

}  // namespace
