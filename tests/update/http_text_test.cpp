// HttpGetText through the real WinINet against the local update service.
#include <gtest/gtest.h>

#include "support/test_support.h"
#include "update/http_text.h"
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
    EXPECT_EQ(nullptr, handles.m_hSession);
    EXPECT_EQ(nullptr, handles.m_hHttp);
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

class IllFormedBody : public testing::TestWithParam<const char*> {};

TEST_P(IllFormedBody, FailsEveryAttemptAsUndecodable)
{
    const std::wstring url = ServiceUrl(GetParam());
    const Fetched fetched = Fetch(url);

    EXPECT_FALSE(fetched.ok);
    EXPECT_GE(fetched.Elapsed(), 3000.0);
    const std::string failure = "InternetOpen unknown error";
    EXPECT_EQ((std::vector<std::string>{Narrow(url), failure, failure, failure}), fetched.log);
}

INSTANTIATE_TEST_SUITE_P(HttpGetText, IllFormedBody,
                         testing::Values(
                             // a 0xFF byte inside an otherwise good check reply
                             "/fault/utf8-invalid",
                             // a body cut inside a three-byte character (E2 82 AC)
                             "/fault/body?hex=3c613e20e282"),
                         [](const testing::TestParamInfo<const char*>& p) {
                             return p.index == 0 ? "ByteFF" : "CutAtTheEnd";
                         });

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
        // a connection that ends early ends the body like the end of data
        GoodBody{"ConnectionEndingEarly", "/fault/drop/100/1000", GeneratedText(100)}),
    [](const testing::TestParamInfo<GoodBody>& p) { return p.param.name; });
