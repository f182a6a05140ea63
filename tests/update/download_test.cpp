// DownloadFile through the real WinINet against the local update service.
#include <gtest/gtest.h>

#include "shell/launcher_status.h"
#include "update/background_digest.h"
#include "support/test_support.h"
#include "update/download.h"
#include "update/import_hook.h"
#include "update/service_client.h"
#include "update/status_recorder.h"

using namespace update_test;
using test_support::FileSize;
using test_support::ReadFileBytes;

namespace {

const std::string kStaleBytes = "an installer downloaded earlier";

// What the workflow passes in: each percentage goes to the splash window's status.
void PublishProgress(int32_t percentage)
{
    SetLauncherStatus(StateDownloading, percentage);
}

std::wstring Destination()
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"update_download_tests";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder + L"\\Setup.exe";
}

// The pause after a failed attempt, seen as the call itself rather than as elapsed time, which a
// loaded machine stretches.
int g_pauses = 0;
void(WINAPI* g_sleep)(DWORD) = nullptr;

void WINAPI RecordPause(DWORD milliseconds)
{
    if (milliseconds >= 1000)
        ++g_pauses;
    g_sleep(milliseconds);
}

std::string Narrow(const std::wstring& ascii)
{
    return std::string(ascii.begin(), ascii.end());
}

struct Downloaded {
    bool ok = false;
    double elapsedMs = 0;
    int pauses = 0;  // calls that paused a second or more
    std::vector<std::string> log;
    std::vector<StatusChange> changes;
    std::string bytes;      // the destination after a success, else the part left to resume
    std::string installed;  // the destination afterwards
    std::string downloadLine;
    double returnedAt = 0;
};

Downloaded Download(const std::string& pathQuery, int64_t expectedSize,
                    const std::wstring& expectedMd5 = std::wstring(),
                    const std::wstring& destination = Destination())
{
    // An earlier installer is in place, and no part or record of an earlier attempt.
    test_support::WriteFileBytes(destination, kStaleBytes);
    DeleteFileW((destination + L".part").c_str());
    DeleteFileW((destination + L".resume").c_str());
    const std::wstring url = ServiceUrl(pathQuery);
    Downloaded result;
    result.downloadLine = "download: " + Narrow(url) + " to " + Narrow(destination);
    {
        StatusRecorder recorder;
        EXPECT_TRUE(recorder.Installed());
        LogTail tail;
        InternetHandles handles;
        g_pauses = 0;
        const ImportHook pauses("kernel32.dll", "Sleep", reinterpret_cast<const void*>(&RecordPause));
        EXPECT_TRUE(pauses.Installed());
        g_sleep = pauses.Original<void(WINAPI*)(DWORD)>();
        const double started = NowMs();
        result.ok = DownloadFile(handles, url, destination, expectedSize, PublishProgress,
                                 expectedMd5);
        result.returnedAt = NowMs();
        result.pauses = g_pauses;
        result.elapsedMs = result.returnedAt - started;
        result.log = tail.NewLines();
        result.changes = recorder.Changes();
        EXPECT_TRUE(handles.IsEmpty());
    }
    result.installed = ReadFileBytes(destination);
    result.bytes = result.ok ? result.installed : ReadFileBytes(destination + L".part");
    // A failed download leaves the installer in place as it was.
    if (!result.ok) {
        EXPECT_EQ(kStaleBytes, result.installed);
    }
    return result;
}

// Each published status is a download percentage for the whole window, rising, never repeated.
void ExpectRisingPercentages(const Downloaded& downloaded)
{
    int32_t previous = 0;
    for (const StatusChange& change : downloaded.changes) {
        EXPECT_EQ(StateDownloading, change.state);
        EXPECT_TRUE(change.wholeWindowErased);
        EXPECT_GT(change.progress, previous);
        EXPECT_LE(change.progress, 100);
        previous = change.progress;
    }
}

}  // namespace

TEST(DownloadFile, CompleteFileIsAcceptedWithOnePublicationPerNewPercent)
{
    const struct {
        const char* pathQuery;
        size_t size;
        bool binary;
    } cases[] = {
        {"/fault/bytes/1000?fill=binary", 1000, true},
        // far more reads than percentages: each percentage must still appear only once
        {"/fault/bytes/10000000", 10000000, false},
        {"/fault/trickle/40000/20/200000?fill=binary", 200000, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pathQuery);
        const Downloaded downloaded = Download(c.pathQuery, static_cast<int64_t>(c.size));

        EXPECT_TRUE(downloaded.ok);
        EXPECT_EQ(0, downloaded.pauses);
        EXPECT_TRUE(GeneratedBytes(c.size, c.binary) == downloaded.bytes);
        EXPECT_EQ(std::vector<std::string>{downloaded.downloadLine}, downloaded.log);
        ASSERT_FALSE(downloaded.changes.empty());
        EXPECT_EQ(100, downloaded.changes.back().progress);
        ExpectRisingPercentages(downloaded);
    }
}

struct EarlyFailure {
    const char* name;
    const char* pathQuery;
    int64_t expectedSize;
    const char* logLine;
};

class EarlyFailures : public testing::TestWithParam<EarlyFailure> {};

TEST_P(EarlyFailures, WriteNoByteAndPauseOnce)
{
    ClearRecordedRequests();
    const Downloaded downloaded = Download(GetParam().pathQuery, GetParam().expectedSize);

    EXPECT_FALSE(downloaded.ok);
    EXPECT_GE(downloaded.elapsedMs, 1000.0);
    EXPECT_EQ("", downloaded.bytes);
    EXPECT_EQ((std::vector<std::string>{downloaded.downloadLine, GetParam().logLine}),
              downloaded.log);
    EXPECT_TRUE(downloaded.changes.empty());
    EXPECT_EQ(1u, RecordedRequests().size());
}

INSTANTIATE_TEST_SUITE_P(
    DownloadFile, EarlyFailures,
    testing::Values(
        EarlyFailure{"OneByteMoreExpected", "/fault/bytes/1000", 1001,
                     "length error: server setting size:  1000, actual size:  1001"},
        EarlyFailure{"OneByteLessExpected", "/fault/bytes/1000", 999,
                     "length error: server setting size:  1000, actual size:  999"},
        EarlyFailure{"NoContentLength", "/fault/bytes/1000?length=none", 1000,
                     "length error: server setting size:  , actual size:  1000"},
        EarlyFailure{"ExpectedSizeBeyond32Bits", "/fault/bytes/1000", 5000000000,
                     "length error: server setting size:  1000, actual size:  5000000000"},
        EarlyFailure{"AnnouncedSizeBeyond32Bits", "/fault/bytes/1000?length=4294968296", 1000,
                     "length error: server setting size:  4294968296, actual size:  1000"},
        EarlyFailure{"NotFound", "/fault/status/404", 1000, "HTTP_STATUS error, code: 404"}),
    [](const testing::TestParamInfo<EarlyFailure>& p) { return p.param.name; });

struct SizeMismatch {
    const char* name;
    const char* pathQuery;
    int64_t expectedSize;
    size_t bytesArriving;
    const char* logLine;
};

class SizeMismatches : public testing::TestWithParam<SizeMismatch> {};

TEST_P(SizeMismatches, KeepWhatArrivedAndFailTheSizeCheck)
{
    const Downloaded downloaded = Download(GetParam().pathQuery, GetParam().expectedSize);

    EXPECT_FALSE(downloaded.ok);
    EXPECT_GE(downloaded.elapsedMs, 1000.0);
    EXPECT_TRUE(GeneratedBytes(GetParam().bytesArriving) == downloaded.bytes)
        << downloaded.bytes.size() << " bytes kept";
    ASSERT_GE(downloaded.log.size(), 2u);
    EXPECT_EQ(downloaded.downloadLine, downloaded.log.front());
    EXPECT_EQ(GetParam().logLine, downloaded.log.back());
    // Between them at most the line of a failed read.
    if (downloaded.log.size() == 3) {
        EXPECT_EQ(0u, downloaded.log[1].find("InternetReadFile, code: "));
    }
    EXPECT_LE(downloaded.log.size(), 3u);
    ExpectRisingPercentages(downloaded);
    if (!downloaded.changes.empty()) {
        EXPECT_LT(downloaded.changes.back().progress, 100);
    }
}

INSTANTIATE_TEST_SUITE_P(
    DownloadFile, SizeMismatches,
    testing::Values(
        SizeMismatch{"ConnectionDroppedMidFile", "/fault/drop/300000/1000000", 1000000, 300000,
                     "Download size(300000) not equal to server size(1000000) "},
        SizeMismatch{"ConnectionDroppedBeyond32Bits", "/fault/bytes/1000?length=5000000000",
                     5000000000, 1000, "Download size(1000) not equal to server size(5000000000) "},
        // No length announced and none expected: the first byte is already one too many, and
        // nothing of it is kept.
        SizeMismatch{"DataWhereNoneExpected", "/fault/bytes/1000?length=none", 0, 0,
                     "Download size(1) not equal to server size(0) "}),
    [](const testing::TestParamInfo<SizeMismatch>& p) { return p.param.name; });

TEST(DownloadFile, FollowsTenRedirectsButNotALoop)
{
    const Downloaded arrived = Download("/fault/redirect/10?to=/fault/bytes/1000", 1000);
    EXPECT_TRUE(arrived.ok);
    EXPECT_TRUE(GeneratedBytes(1000) == arrived.bytes);

    ClearRecordedRequests();
    const Downloaded looped = Download("/fault/redirect/loop", 1000);
    EXPECT_FALSE(looped.ok);
    EXPECT_GE(looped.elapsedMs, 1000.0);
    EXPECT_EQ("", looped.bytes);
    EXPECT_EQ((std::vector<std::string>{looped.downloadLine, "redirect error, limit: 10"}),
              looped.log);
    EXPECT_EQ(11u, RecordedRequests().size());
}

TEST(DownloadFile, EmptyFileExpectedEmptyIsAcceptedWithoutPercentage)
{
    const Downloaded downloaded = Download("/fault/empty", 0);

    EXPECT_TRUE(downloaded.ok);
    EXPECT_EQ("", downloaded.bytes);
    EXPECT_TRUE(downloaded.changes.empty());
}

TEST(DownloadFile, DigestOf32HexDigitsMustMatchInEitherCase)
{
    const char* const pathQuery = "/fault/bytes/100000?fill=binary";
    const std::string actual = "7007d9ba10b9a5e64a9f92df87e94a06";  // MD5 of those bytes
    const struct {
        const wchar_t* md5;
        bool ok;
    } cases[] = {
        {L"7007d9ba10b9a5e64a9f92df87e94a06", true},
        {L"7007D9BA10B9A5E64A9F92DF87E94A06", true},
        {L"7007d9ba10b9a5e64a9f92df87e94a07", false},
        {L"00000000000000000000000000000000", false},
        // anything but 32 hexadecimal digits is not checked
        {L"", true},
        {L"7007d9ba10b9a5e64a9f92df87e94a0", true},
        {L"7007d9ba10b9a5e64a9f92df87e94a077", true},
        {L"7007d9ba10b9a5e64a9f92df87e94a0g", true},
        {L" 7007d9ba10b9a5e64a9f92df87e94a0", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.md5));
        const Downloaded downloaded = Download(pathQuery, 100000, c.md5);

        EXPECT_EQ(c.ok, downloaded.ok);
        // A complete file with the wrong digest is not kept for resuming.
        EXPECT_EQ(c.ok ? 100000u : 0u, downloaded.bytes.size());
        if (c.ok) {
            EXPECT_EQ(std::vector<std::string>{downloaded.downloadLine}, downloaded.log);
        } else {
            EXPECT_GE(downloaded.elapsedMs, 1000.0);
            EXPECT_EQ(
                (std::vector<std::string>{downloaded.downloadLine,
                                          "Download MD5(" + actual + ") not equal to server MD5(" +
                                              Narrow(c.md5) + ")"}),
                downloaded.log);
        }
    }
}

TEST(DownloadFile, CancelledCredentialDialogReturnsAtOnceWithoutLogLine)
{
    ClearRecordedRequests();
    CredentialDialogWatch dialogs;
    ASSERT_TRUE(dialogs.Installed());
    DialogResponder responder(IDCANCEL);
    const Downloaded downloaded = Download("/fault/auth401", 1000);

    ASSERT_EQ(1, responder.Answered()) << "no credential dialog appeared";
    EXPECT_FALSE(downloaded.ok);
    EXPECT_EQ(1, dialogs.Calls());
    EXPECT_LT(downloaded.returnedAt - dialogs.ReturnedAt(), 500.0);
    EXPECT_EQ("", downloaded.bytes);
    EXPECT_EQ(std::vector<std::string>{downloaded.downloadLine}, downloaded.log);
    EXPECT_EQ(1u, RecordedRequests().size());
}

TEST(DownloadFile, UncreatableDestinationFailsBeforeAnyRequest)
{
    ClearRecordedRequests();
    const std::wstring destination = Destination() + L"-missing\\Setup.exe";
    LogTail tail;
    InternetHandles handles;
    const double started = NowMs();
    EXPECT_FALSE(
        DownloadFile(handles, ServiceUrl("/fault/bytes/10"), destination, 10, PublishProgress));
    EXPECT_LT(NowMs() - started, 500.0);
    EXPECT_EQ((std::vector<std::string>{"download: " + Narrow(ServiceUrl("/fault/bytes/10")) +
                                            " to " + Narrow(destination),
                                        "file open fail: " + Narrow(destination) + ".part"}),
              tail.NewLines());
    EXPECT_TRUE(RecordedRequests().empty());
}

// Whatever a server sends past the announced size is never written: the attempt fails with the
// size line (counting what arrived), nothing is kept to resume, and no percentage passes 100.
TEST(DownloadFile, BodyPastTheAnnouncedSizeIsNeitherWrittenNorKept)
{
    const struct {
        const char* pathQuery;
        int64_t size;
    } cases[] = {
        {"/fault/bytes/100000?overrun=1", 100000},
        {"/fault/bytes/100000?overrun=5000000", 100000},
        {"/fault/bytes/1000?overrun=200000", 1000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pathQuery);
        const Downloaded downloaded = Download(c.pathQuery, c.size);

        EXPECT_FALSE(downloaded.ok);
        EXPECT_EQ("", downloaded.bytes);
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES,
                  GetFileAttributesW((Destination() + L".resume").c_str()));
        ASSERT_EQ(2u, downloaded.log.size());
        const std::string& line = downloaded.log[1];
        EXPECT_EQ(0u, line.find("Download size(")) << line;
        EXPECT_GT(std::stoll(line.substr(14)), c.size) << line;
        EXPECT_NE(std::string::npos,
                  line.find(") not equal to server size(" + std::to_string(c.size) + ") "));
        ExpectRisingPercentages(downloaded);
    }
}

TEST(DownloadPercentage, IsWholeRoundedDownAndNeverAbove100)
{
    const struct {
        int64_t total, expected;
        int32_t percentage;
    } cases[] = {
        {0, 1000, 0},       {9, 1000, 0},           {10, 1000, 1},
        {999, 1000, 99},    {1000, 1000, 100},      {1001, 1000, 100},
        {23760, 1000, 100}, {4999999999, 5000000000, 99},
        {5000000000, 5000000000, 100},              {10, 0, -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.percentage, DownloadPercentage(c.total, c.expected)) << c.total << "/" << c.expected;
}

TEST(NextReadSize, GrowsWhileReadsAreQuickAndShrinksOnASlowOne)
{
    const struct {
        unsigned long current, tookMs, next;
    } cases[] = {
        {kSmallestRead, 0, 2 * kSmallestRead},
        {kSmallestRead, kQuickReadMs - 1, 2 * kSmallestRead},
        {kLargestRead / 2, 5, kLargestRead},
        {kLargestRead, 5, kLargestRead},
        {kLargestRead, kQuickReadMs, kLargestRead / 2},
        {2 * kSmallestRead, 60000, kSmallestRead},
        {kSmallestRead, 60000, kSmallestRead},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.next, NextReadSize(c.current, c.tookMs)) << c.current << " in " << c.tookMs;
}

// Two buffers take turns as in the download: each is refilled as soon as the other is handed
// over, so a chunk digested late or not at all changes the MD5.
TEST(BackgroundDigest, DigestsEveryChunkHandedOverInOrder)
{
    const std::string bytes = GeneratedBytes(100000, true);
    const size_t chunks[] = {1, 4096, 30000, 65536, 367};
    Md5Digest digest;
    std::string buffers[2];
    {
        BackgroundDigest background(digest);
        size_t offset = 0;
        for (size_t i = 0; i < std::size(chunks); ++i) {
            buffers[i % 2] = bytes.substr(offset, chunks[i]);
            background.Hand(buffers[i % 2].data(), static_cast<DWORD>(chunks[i]));
            offset += chunks[i];
        }
    }
    EXPECT_EQ(L"7007d9ba10b9a5e64a9f92df87e94a06", digest.Finish());
}
