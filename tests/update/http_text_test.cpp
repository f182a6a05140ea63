// HttpGetText through the real WinINet against the local update service.
#include <gtest/gtest.h>

#include <memory>

#include "support/test_support.h"
#include "update/http_text.h"
#include "update/import_hook.h"
#include "update/url_request.h"
#include "update/service_client.h"

using namespace update_test;

namespace {

struct Fetched {
    bool ok = false;
    std::wstring text;
    double startedAt = 0;
    double returnedAt = 0;
    std::vector<std::string> log;
    double Elapsed() const { return returnedAt - startedAt; }
};

Fetched Fetch(const std::wstring& url)
{
    LogTail tail;
    InternetHandles handles;
    Fetched result;
    result.text = L"left over from an earlier call";
    result.startedAt = NowMs();
    result.ok = HttpGetText(handles, url.c_str(), result.text);
    result.returnedAt = NowMs();
    result.log = tail.NewLines();
    EXPECT_TRUE(handles.IsEmpty());
    return result;
}

std::string Narrow(const std::wstring& ascii)
{
    return std::string(ascii.begin(), ascii.end());
}

std::wstring GeneratedText(size_t length)
{
    const std::string bytes = GeneratedBytes(length);
    return std::wstring(bytes.begin(), bytes.end());
}

// The service's big-multibyte body: `prefix` letters 'a', then U+4E2D (three bytes each) up to
// `size` bytes.
std::wstring BigMultibyteText(size_t size, size_t prefix)
{
    return std::wstring(prefix, L'a') + std::wstring((size - prefix) / 3, L'\x4E2D');
}

}  // namespace

TEST(HttpGetText, UnreachableHostFailsThreeTimesWithAPauseAfterEach)
{
    const std::wstring url =
        L"http://127.0.0.1:" + std::to_wstring(test_support::UnusedPort()) + L"/check";
    const Fetched fetched = Fetch(url);

    EXPECT_FALSE(fetched.ok);
    EXPECT_GE(fetched.Elapsed(), 3000.0);
    const std::string failure =
        "InternetOpenUrl error, code: " + std::to_string(ERROR_INTERNET_CANNOT_CONNECT);
    EXPECT_EQ((std::vector<std::string>{Narrow(url), failure, failure, failure}), fetched.log);
}

TEST(HttpGetText, StatusOtherThan200FailsEveryAttempt)
{
    ClearRecordedRequests();
    const std::wstring url = ServiceUrl("/fault/status/404");
    const Fetched fetched = Fetch(url);

    EXPECT_FALSE(fetched.ok);
    EXPECT_GE(fetched.Elapsed(), 3000.0);
    const std::string failure = "HTTP_STATUS error, code: 404";
    EXPECT_EQ((std::vector<std::string>{Narrow(url), failure, failure, failure}), fetched.log);
    EXPECT_EQ(3u, RecordedRequests().size());
}

TEST(HttpGetText, CancelledCredentialDialogEndsTheCallAtOnce)
{
    ClearRecordedRequests();
    const std::wstring url = ServiceUrl("/fault/auth401");
    CredentialDialogWatch dialogs;
    ASSERT_TRUE(dialogs.Installed());
    DialogResponder responder(IDCANCEL);
    const Fetched fetched = Fetch(url);

    ASSERT_EQ(1, responder.Answered()) << "no credential dialog appeared";
    EXPECT_FALSE(fetched.ok);
    // No pause after the cancel, and no second attempt.
    EXPECT_EQ(1, dialogs.Calls());
    EXPECT_LT(fetched.returnedAt - dialogs.ReturnedAt(), 500.0);
    EXPECT_EQ((std::vector<std::string>{Narrow(url), "HTTP_STATUS error, code: 401"}), fetched.log);
    EXPECT_EQ(1u, RecordedRequests().size());
}

TEST(HttpGetText, ConfirmedCredentialDialogOpensTheUrlAgainWithoutCountingAnAttempt)
{
    ClearRecordedRequests();
    // 401 for the first request only; the repeated one gets the body with status 200.
    const std::wstring url = ServiceUrl("/fault/auth401?fails=1&id=confirmed");
    CredentialDialogWatch dialogs;
    ASSERT_TRUE(dialogs.Installed());
    DialogResponder responder(IDOK);
    const Fetched fetched = Fetch(url);

    ASSERT_EQ(1, responder.Answered()) << "no credential dialog appeared";
    EXPECT_TRUE(fetched.ok);
    EXPECT_EQ(L"authentication required\r\n", fetched.text);
    EXPECT_EQ(1, dialogs.Calls());
    EXPECT_LT(fetched.returnedAt - dialogs.ReturnedAt(), 500.0);
    EXPECT_EQ((std::vector<std::string>{Narrow(url), "HTTP_STATUS error, code: 401"}), fetched.log);
    EXPECT_EQ(2u, RecordedRequests().size());
}

struct FailingReply {
    const char* name;
    const char* pathQuery;
    const char* logLine;
};

class FailingReplies : public testing::TestWithParam<FailingReply> {};

TEST_P(FailingReplies, FailEveryAttemptWithTheirLine)
{
    const std::wstring url = ServiceUrl(GetParam().pathQuery);
    const Fetched fetched = Fetch(url);

    EXPECT_FALSE(fetched.ok);
    EXPECT_GE(fetched.Elapsed(), 3000.0);
    const std::string failure = GetParam().logLine;
    EXPECT_EQ((std::vector<std::string>{Narrow(url), failure, failure, failure}), fetched.log);
}

INSTANTIATE_TEST_SUITE_P(
    HttpGetText, FailingReplies,
    testing::Values(
        // a 0xFF byte inside an otherwise good check reply
        FailingReply{"ByteFF", "/fault/utf8-invalid", "InternetOpen unknown error"},
        // a body cut inside a three-byte character (E2 82 AC)
        FailingReply{"CutAtTheEnd", "/fault/body?hex=3c613e20e282", "InternetOpen unknown error"},
        // a connection that ends before the announced length is not a reply
        FailingReply{"ConnectionEndingEarly", "/fault/drop/100/1000",
                     "reply length error, received: 100, announced: 1000"},
        // nothing of an oversized body is kept, whether announced or not
        FailingReply{"AnnouncedOverTheLimit", "/fault/bytes/1048577",
                     "reply size error, limit: 1048576"},
        FailingReply{"OverTheLimitWithoutLength", "/fault/bytes/1048577?length=none",
                     "reply size error, limit: 1048576"},
        // a header flood is refused once the headers are in
        FailingReply{"HeadersOverTheCap", "/fault/bytes/10?header_bytes=70000",
                     "reply header error, limit: 65536"},
        FailingReply{"RedirectLoop", "/fault/redirect/loop", "redirect error, limit: 10"},
        FailingReply{"ElevenRedirects", "/fault/redirect/11", "redirect error, limit: 10"}),
    [](const testing::TestParamInfo<FailingReply>& p) { return p.param.name; });

TEST(HttpGetText, CredentialsRefusedAfterThreeRepeatsCountAsCancel)
{
    const std::wstring url = ServiceUrl("/fault/auth401?id=refused");
    CredentialDialogWatch dialogs;
    ASSERT_TRUE(dialogs.Installed());
    DialogResponder responder(IDOK);
    const Fetched fetched = Fetch(url);

    EXPECT_FALSE(fetched.ok);
    EXPECT_EQ(4, dialogs.Calls());
    EXPECT_LT(fetched.returnedAt - dialogs.ReturnedAt(), 500.0);
    const std::string status = "HTTP_STATUS error, code: 401";
    EXPECT_EQ((std::vector<std::string>{Narrow(url), status, status, status, status, status,
                                        "credential error, prompts: 4"}),
              fetched.log);
}

// The limits of the text request (30 s) and the download (60 s) work alike; a short one here.
TEST(OpenUrlRequest, SilenceEndsTheWaitButASteadyTrickleDoesNot)
{
    constexpr DWORD kLimitMs = 2000;
    const struct {
        const char* pathQuery;
        bool opens;
        bool waitFirst;  // as the text request reads: wait for data, then take what is there
        bool completes;
    } cases[] = {
        {"/fault/hang?ms=20000", false, false, false},  // accepts, never answers
        // half the body, then silence
        {"/fault/bytes/100000?trickle=50000,20000", true, false, false},
        {"/fault/bytes/100000?trickle=50000,20000", true, true, false},
        // each 64 KiB read waits longer than the limit, but bytes keep arriving
        {"/fault/trickle/2048/500/12288", true, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.pathQuery) + (c.waitFirst ? " waiting first" : ""));
        LogTail tail;
        InternetHandles handles;
        const double started = NowMs();
        // The deadline is far off: only silence ends these waits.
        const internet::AttemptDeadline deadline = internet::StartDeadline(60000);
        const internet::Outcome opened = internet::OpenUrlRequest(
            handles, ServiceUrl(c.pathQuery).c_str(), {kLimitMs, deadline, true});
        ASSERT_EQ(c.opens, opened == internet::Outcome::Done);
        internet::ReadOutcome outcome = internet::ReadOutcome::Failed;
        auto buffer = std::make_unique<char[]>(internet::kReadBufferSize);
        DWORD read = 0;
        while (c.opens) {
            DWORD size = internet::kReadRequestSize;
            if (c.waitFirst &&
                (outcome = internet::WaitForData(handles.Request(), size, kLimitMs, deadline)) !=
                    internet::ReadOutcome::Data)
                break;
            outcome = internet::ReadChunk(handles.Request(), buffer.get(), size, read, kLimitMs);
            if (outcome != internet::ReadOutcome::Data)
                break;
        }
        const double elapsed = NowMs() - started;
        if (c.completes) {
            EXPECT_EQ(internet::ReadOutcome::End, outcome);
            EXPECT_GT(elapsed, 2500.0);
            EXPECT_TRUE(tail.NewLines().empty());
        } else {
            EXPECT_EQ(internet::ReadOutcome::Failed, outcome);
            EXPECT_GE(elapsed, 1900.0);
            EXPECT_LT(elapsed, 5000.0);
            EXPECT_EQ(std::vector<std::string>{"receive timeout error, seconds: 2"},
                      tail.NewLines());
        }
    }
}

struct GoodBody {
    const char* name;
    const char* pathQuery;
    std::wstring text;
};

class GoodBodies : public testing::TestWithParam<GoodBody> {};

TEST_P(GoodBodies, AreReturnedDecodedWithoutAnyLogLineButTheUrl)
{
    const std::wstring url = ServiceUrl(GetParam().pathQuery);
    const Fetched fetched = Fetch(url);

    EXPECT_TRUE(fetched.ok);
    EXPECT_LT(fetched.Elapsed(), 1000.0);
    EXPECT_EQ(GetParam().text.size(), fetched.text.size());
    EXPECT_TRUE(GetParam().text == fetched.text);
    EXPECT_EQ(std::vector<std::string>{Narrow(url)}, fetched.log);
}

INSTANTIATE_TEST_SUITE_P(
    HttpGetText, GoodBodies,
    testing::Values(
        GoodBody{"Empty", "/fault/empty", L""},
        // one unit per BMP character, a surrogate pair beyond it
        GoodBody{"BeyondTheBasicPlane", "/fault/body?hex=c3a9e282acf09f9880",
                 L"\x00E9\x20AC\xD83D\xDE00"},
        // a zero byte ends the text; what follows it is not even decoded
        GoodBody{"ZeroByteEndsTheText", "/fault/body?hex=6162630064", L"abc"},
        GoodBody{"BytesAfterTheZeroAreNotDecoded", "/fault/body?hex=61626300ff80", L"abc"},
        GoodBody{"ZeroByteFirst", "/fault/body?hex=00616263", L""},
        // three-byte characters across the 65,535- and the 65,536-byte marks
        GoodBody{"CharacterAcrossThe65536Mark", "/fault/big-multibyte?size=200000&prefix=0",
                 BigMultibyteText(200000, 0)},
        GoodBody{"CharacterAcrossThe65535Mark", "/fault/big-multibyte?size=200000&prefix=1",
                 BigMultibyteText(200000, 1)},
        GoodBody{"CharacterAcrossBothMarks", "/fault/big-multibyte?size=200000&prefix=2",
                 BigMultibyteText(200000, 2)},
        GoodBody{"ExactlyTheSizeLimit", "/fault/bytes/1048576", GeneratedText(1048576)},
        GoodBody{"HeadersUnderTheCap", "/fault/body?text=ok&header_bytes=60000", L"ok"},
        // relative Location headers, resolved against the URL that sent them
        GoodBody{"TenRedirects", "/fault/redirect/10", L"arrived\r\n"}),
    [](const testing::TestParamInfo<GoodBody>& p) { return p.param.name; });

TEST(AttemptDeadline, LeavesWhatIsLeftOfTheLimitAcrossTheTickCountWrap)
{
    const struct {
        DWORD started, limit, now, remaining;
    } cases[] = {
        {1000, 60000, 1000, 60000},
        {1000, 60000, 31000, 30000},
        {1000, 60000, 60999, 1},
        {1000, 60000, 61000, 0},
        {1000, 60000, 900000, 0},
        // the tick count wrapped after the attempt began
        {0xFFFFF000u, 60000, 0x00001000u, 60000 - 0x2000},
        {0xFFFFF000u, 60000, 0x0000F000u, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.remaining, (internet::AttemptDeadline{c.started, c.limit}.RemainingMs(c.now)))
            << c.started << " + " << c.limit << " at " << c.now;
    }
}

namespace {

using SendFunction = decltype(&HttpSendRequestW);
SendFunction g_realSend = nullptr;
DWORD g_sendDelayMs = 0;

// A send that takes its time before the real one, as a server that trickles its headers does.
BOOL WINAPI SlowSend(HINTERNET request, LPCWSTR headers, DWORD length, LPVOID optional,
                     DWORD optionalLength)
{
    Sleep(g_sendDelayMs);
    return g_realSend(request, headers, length, optional, optionalLength);
}

}  // namespace

// Nothing but the deadline ends a send that never returns on its own (under Wine, closing the
// handle does not end it): the attempt fails at the deadline with its line, however long the
// silence limit.
TEST(OpenUrlRequest, DeadlineEndsASendThatTakesTooLong)
{
    ImportHook hook("wininet.dll", "HttpSendRequestW", reinterpret_cast<const void*>(&SlowSend));
    ASSERT_TRUE(hook.Installed());
    g_realSend = hook.Original<SendFunction>();
    const struct {
        DWORD delayMs;
        bool opens;
    } cases[] = {{0, true}, {1000, true}, {6000, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.delayMs);
        g_sendDelayMs = c.delayMs;
        LogTail tail;
        InternetHandles handles;
        const double started = NowMs();
        const internet::Outcome opened = internet::OpenUrlRequest(
            handles, ServiceUrl("/fault/bytes/10").c_str(),
            {30000, internet::StartDeadline(3000), true});
        const double elapsed = NowMs() - started;
        EXPECT_EQ(c.opens, opened == internet::Outcome::Done);
        if (c.opens) {
            EXPECT_TRUE(tail.NewLines().empty());
        } else {
            EXPECT_GE(elapsed, 2900.0);
            EXPECT_LT(elapsed, 4500.0);
            EXPECT_EQ(std::vector<std::string>{"receive timeout error, seconds: 3"},
                      tail.NewLines());
            EXPECT_EQ(nullptr, handles.Request());
        }
    }
    // The send left behind ends on its own once its delay is over.
    Sleep(3500);
}
