// The package download against the loopback server into real files: size and digest enforcement,
// every failure's message, and that a failed download never leaves its file behind.
#include <gtest/gtest.h>

#include <string>

#include "harness/test_support.h"
#include "transfer/download_observer.h"
#include "transfer/package_download.h"
#include "transfer/sha256_digest.h"
#include "transfer/transfer_calls.h"
#include "transfer/transfer_test_util.h"
#include "ui/progress_window.h"

namespace {

using test_support::FileExists;
using transfer_test::Generated;
using transfer_test::LocalUrl;
using transfer_test::Sha256Hex;
using transfer_test::Widen;

constexpr std::uint64_t kSize = 200000;

const wchar_t kCreateFailed[] = L"Could not create the temporary installer file.";
const wchar_t kHashInitFailed[] = L"Windows could not initialize SHA-256 verification.";
const wchar_t kCancelled[] = L"Download cancelled.";
const wchar_t kTooMuchData[] = L"The server sent more data than the release metadata allows.";
const wchar_t kSaveFailed[] = L"Could not securely save the downloaded installer.";
const wchar_t kSizeMismatch[] = L"The downloaded installer size does not match the signed release metadata.";
const wchar_t kFinishFailed[] = L"SHA-256 verification could not be completed.";
const wchar_t kDigestMismatch[] = L"Security check failed: the installer SHA-256 does not match.";

// Every write the download makes goes through here, so a test sees what the file ever held.
const TransferCalls kReal;
std::uint64_t writtenTotal = 0;
int writeCalls = 0;
BOOL WINAPI CountingWrite(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    ++writeCalls;
    const BOOL ok = kReal.writeFile(file, data, size, written, overlapped);
    if (ok) writtenTotal += *written;
    return ok;
}
BOOL WINAPI ShortWrite(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    return kReal.writeFile(file, data, size / 2, written, overlapped);
}
constexpr NTSTATUS kRefused = static_cast<NTSTATUS>(0xC0000225);
NTSTATUS WINAPI RefuseOpen(BCRYPT_ALG_HANDLE*, LPCWSTR, LPCWSTR, ULONG) { return kRefused; }
NTSTATUS WINAPI RefuseCreate(BCRYPT_ALG_HANDLE, BCRYPT_HASH_HANDLE*, PUCHAR, ULONG, PUCHAR, ULONG, ULONG) {
    return kRefused;
}
NTSTATUS WINAPI RefuseData(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG) { return kRefused; }
NTSTATUS WINAPI RefuseFinish(BCRYPT_HASH_HANDLE, PUCHAR, ULONG, ULONG) { return kRefused; }

class PackageDownloadTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        test_support::WriteRoutes("transfer_download", R"({
            "/transfer/download/exact": {"body_size": 200000, "chunk": 30000},
            "/transfer/download/one-more": {"body_size": 200001, "chunk": 30000},
            "/transfer/download/one-short": {"body_size": 199999, "chunk": 30000},
            "/transfer/download/large": {"body_size": 3000000},
            "/transfer/download/one": {"body": "x"},
            "/transfer/download/slow": {"body_size": 400000, "chunk": 8192, "delay_ms": 20}
        })");
    }
    static void TearDownTestSuite() { transfer_test::RemoveRoutes("transfer_download"); }

    void SetUp() override {
        folder = test_support::MakeScratchFolder(L"transfer-download");
        partial = folder + L"\\BrimlowAIQuillo-Setup-TEST.exe.part";
        writtenTotal = 0;
        writeCalls = 0;
        calls = TransferCalls{};
        calls.writeFile = CountingWrite;
    }

    static PackageEntry Entry(const char* route, std::uint64_t size = kSize,
                              std::string sha256 = Sha256Hex(Generated(kSize))) {
        return PackageEntry{LocalUrl(std::string("/transfer/download/") + route), Widen(sha256), size};
    }

    bool Download(const PackageEntry& package, DownloadObserver* observer = nullptr) {
        return transfer_test::DownloadWithCalls(package, partial, observer, calls, error);
    }

    TransferCalls calls;
    std::wstring folder;
    std::wstring partial;
    std::wstring error;
};

std::string Lower(std::string text) {
    for (auto& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

TEST_F(PackageDownloadTest, ABodyOfExactlyTheSizeWithItsDigestInAnyCaseIsKept) {
    const std::string digest = Sha256Hex(Generated(kSize));
    std::string mixed = digest;
    for (std::size_t i = 0; i < mixed.size(); i += 2) mixed[i] = static_cast<char>(tolower(mixed[i]));
    for (const std::string& sha : {digest, Lower(digest), mixed}) {
        SCOPED_TRACE(sha);
        DeleteFileW(partial.c_str());  // the download makes only a new file (see the staging tests)
        error = L"";
        ASSERT_TRUE(Download(Entry("exact", kSize, sha)));
        EXPECT_EQ(error, L"");
        EXPECT_EQ(test_support::ReadWholeFile(partial), Generated(kSize));
    }
}

TEST_F(PackageDownloadTest, AOneBytePackageIsKept) {
    ASSERT_TRUE(Download(Entry("one", 1, Sha256Hex("x"))));
    EXPECT_EQ(test_support::ReadWholeFile(partial), "x");
}

TEST_F(PackageDownloadTest, EveryBodyThatIsNotExactlyThePackageIsRefusedAndItsFileRemoved) {
    const struct {
        const char* what;
        PackageEntry package;
        const wchar_t* error;
    } cases[] = {
        {"one byte more than the size", Entry("one-more"), kTooMuchData},
        {"one byte less than the size", Entry("one-short"), kSizeMismatch},
        {"the right size with another digest", Entry("exact", kSize, Sha256Hex(Generated(kSize - 1))), kDigestMismatch},
        {"a digest one digit short", Entry("exact", kSize, Sha256Hex(Generated(kSize)).substr(1)), kDigestMismatch},
        {"a body far beyond the size", Entry("large"), kTooMuchData},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writtenTotal = 0;
        EXPECT_FALSE(Download(c.package));
        EXPECT_EQ(error, c.error);
        EXPECT_FALSE(FileExists(partial));
        EXPECT_LE(writtenTotal, c.package.size) << "the file never holds more than the size";
    }
}

TEST_F(PackageDownloadTest, ARequestThatFailsCreatesNoFile) {
    EXPECT_FALSE(Download(Entry("missing")));
    EXPECT_EQ(error, L"The download server returned an unexpected response.");
    EXPECT_EQ(test_support::CountEntries(folder), 0);
    EXPECT_FALSE(Download(PackageEntry{L"http://localhost/x", L"", 1}));
    EXPECT_EQ(error, L"The release URL is not a valid HTTPS address.");
    EXPECT_EQ(test_support::CountEntries(folder), 0);
}

TEST_F(PackageDownloadTest, AFileThatCannotBeOpenedExclusivelyIsLeftAlone) {
    test_support::WriteWholeFile(partial, "someone else's");
    HANDLE other = CreateFileW(partial.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(Download(Entry("exact")));
    CloseHandle(other);
    EXPECT_EQ(error, kCreateFailed);
    EXPECT_EQ(test_support::ReadWholeFile(partial), "someone else's");
}

TEST_F(PackageDownloadTest, ACancelAlreadyRequestedStopsBeforeAnyByteIsRead) {
    ProgressWindow progress;
    progress.RequestCancel();
    EXPECT_FALSE(Download(Entry("exact"), &progress));
    EXPECT_EQ(error, kCancelled);
    EXPECT_EQ(writeCalls, 0);
    EXPECT_FALSE(FileExists(partial));
}

// The first time the window shows a byte count, the user clicks Cancel.
WNDPROC labelProc = nullptr;
HWND cancelButton = nullptr;
LRESULT CALLBACK ClickCancelOnFirstCount(HWND label, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETTEXT && cancelButton != nullptr) {
        PostMessageW(cancelButton, BM_CLICK, 0, 0);
        cancelButton = nullptr;
    }
    return CallWindowProcW(labelProc, label, message, wParam, lParam);
}

TEST_F(PackageDownloadTest, ACancelClickedInTheWindowMidDownloadStopsItAndRemovesTheFile) {
    ProgressWindow progress;
    ASSERT_TRUE(progress.Create(L"1.0.0"));
    const HWND bytesLabel = GetDlgItem(progress.Handle(), kBytesLabelId);
    ASSERT_NE(bytesLabel, nullptr);
    cancelButton = GetDlgItem(progress.Handle(), kCancelButtonId);
    labelProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(bytesLabel, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ClickCancelOnFirstCount)));
    const bool ok = Download(Entry("slow", 400000, Sha256Hex(Generated(400000))), &progress);
    const bool flagged = progress.CancelRequested();
    progress.Destroy();
    EXPECT_FALSE(ok);
    EXPECT_TRUE(flagged);
    EXPECT_EQ(error, kCancelled);
    EXPECT_GT(writtenTotal, 0u) << "the download had begun";
    EXPECT_LT(writtenTotal, 400000u) << "and stopped before its end";
    EXPECT_FALSE(FileExists(partial));
}

TEST_F(PackageDownloadTest, PlatformFailuresOfHashingAndWritingEndInTheirMessagesWithTheFileRemoved) {
    const struct {
        const char* what;
        void (*inject)(TransferCalls& calls);
        const wchar_t* error;
    } cases[] = {
        {"no SHA-256 provider", [](TransferCalls& calls) { calls.bcryptOpenAlgorithmProvider = RefuseOpen; }, kHashInitFailed},
        {"no hash", [](TransferCalls& calls) { calls.bcryptCreateHash = RefuseCreate; }, kHashInitFailed},
        {"a block that cannot be hashed", [](TransferCalls& calls) { calls.bcryptHashData = RefuseData; }, kSaveFailed},
        {"a hash that cannot be finished", [](TransferCalls& calls) { calls.bcryptFinishHash = RefuseFinish; }, kFinishFailed},
        {"a write that falls short", [](TransferCalls& calls) { calls.writeFile = ShortWrite; }, kSaveFailed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        calls = TransferCalls{};
        c.inject(calls);
        EXPECT_FALSE(Download(Entry("exact")));
        EXPECT_EQ(error, c.error);
        EXPECT_FALSE(FileExists(partial));
    }
}

TEST_F(PackageDownloadTest, AFullDiskIsASaveFailureAndLeavesNoFile) {
    // A 1 MiB tmpfs mounted by the test's CTest fixture when it runs as root.
    const std::wstring small = test_support::HarnessPath("transfer-full-disk");
    if (!FileExists(small + L"\\mounted")) {
        GTEST_SKIP() << "no small file system to fill: the fixture mounts one only when run as root";
    }
    partial = small + L"\\BrimlowAIQuillo-Setup-FULL.exe.part";
    EXPECT_FALSE(Download(Entry("large", 3000000, Sha256Hex(Generated(3000000)))));
    EXPECT_EQ(error, kSaveFailed);
    EXPECT_FALSE(FileExists(partial));
}

class FileMatchesPackageTest : public PackageDownloadTest {};

TEST_F(FileMatchesPackageTest, AcceptsOnlyAFileOfExactlyTheSizeAndDigestReadFromItsStart) {
    const std::string bytes = Generated(kSize);
    const std::string digest = Sha256Hex(bytes);
    std::string changed = bytes;
    changed[kSize / 2] ^= 1;
    const struct {
        const char* what;
        std::string content;
        std::string sha256;
        bool matches;
    } cases[] = {
        {"the package", bytes, digest, true},
        {"the package, digest in lower case", bytes, Lower(digest), true},
        {"one byte more", bytes + "x", digest, false},
        {"one byte less", bytes.substr(1), digest, false},
        {"one byte changed", changed, digest, false},
        {"empty", "", digest, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test_support::WriteWholeFile(partial, c.content);
        HANDLE file = CreateFileW(partial.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        char skip[100];
        DWORD read = 0;
        ReadFile(file, skip, sizeof skip, &read, nullptr);  // the check must not depend on where the file stands
        EXPECT_EQ(static_cast<bool>(FileMatchesPackage(file, PackageEntry{L"", Widen(c.sha256), kSize})), c.matches);
        CloseHandle(file);
    }
}

TEST(ToUpperCase, ChangesOnlyTheLettersAToZ) {
    EXPECT_EQ(transfer_internal::ToUpperCase(L"09afAFgz{}\u00e9\u0131"), L"09AFAFGZ{}\u00e9\u0131");
}

}  // namespace
