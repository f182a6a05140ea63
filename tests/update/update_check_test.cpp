// CheckUpdate with its compiled-in host, reaching the local update service as its HTTP proxy.
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "base/brand.h"
#include "update/service_client.h"
#include "update/update_check.h"

using namespace update_test;

namespace {

const std::string kOrigin = LAUNCHER_UPDATE_ORIGIN;
const std::string kCheckHost = kOrigin.substr(kOrigin.find("//") + 2);  // with its port, if any
const std::string kCheckPath = LAUNCHER_BRAND_CHECK_PATH;
const std::string kCheckUrl = kOrigin + kCheckPath;
const std::string kSkuQuery = "?SKU=" LAUNCHER_BRAND_SKU;

using Elements = std::vector<std::pair<std::string, std::string>>;

const Elements kGoodElements = {
    {"ReturnCode", "1"},
    {"LatestSKU", LAUNCHER_BRAND_SKU},
    {"LatestVersion", "2.06"},
    {"UpdateAvailable", "Y"},
    {"ServerPath", "http://127.0.0.1/files/"},
    {"FileName", "Setup.exe"},
    {"FileSize", "5000000000"},
    {"MD5", "0123456789abcdef0123456789ABCDEF"},
};

// A reply in the service's usual dress: the elements one per line inside a root element.
std::string Reply(const Elements& elements)
{
    std::string body = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Reply>\r\n";
    for (const auto& [key, value] : elements)
        body += "<" + key + ">" + value + "</" + key + ">\r\n";
    return body + "</Reply>";
}

// The good reply with one element's value replaced (or the element dropped, for nullptr).
std::string ReplyWith(const std::string& key, const char* value)
{
    Elements elements;
    for (const auto& element : kGoodElements) {
        if (element.first != key)
            elements.push_back(element);
        else if (value)
            elements.emplace_back(key, value);
    }
    return Reply(elements);
}

struct CheckOutcome {
    bool update = false;
    std::vector<CheckNotice> notices;  // each notice shown, in order
    double elapsedMs = 0;
    std::vector<std::string> log;
    UpdateRecord record;
};

CheckOutcome RunCheck(const std::string& replyBody, uint16_t major = 2, uint16_t minor = 5)
{
    ConfigureService(R"({"check": {"body_hex": ")" + Hex(replyBody) + R"("}})");
    CheckOutcome outcome;
    outcome.record.localMajor = major;
    outcome.record.localMinor = minor;
    LogTail tail;
    const double started = NowMs();
    outcome.update = CheckUpdate(outcome.record, [&outcome](CheckNotice notice) {
        outcome.notices.push_back(notice);
    });
    outcome.elapsedMs = NowMs() - started;
    outcome.log = tail.NewLines();
    return outcome;
}

std::string LastLine(const CheckOutcome& outcome)
{
    return outcome.log.empty() ? std::string() : outcome.log.back();
}

}  // namespace

TEST(CheckUpdate, AsksWithTheSkuAndTheInstalledVersionUnescaped)
{
    const struct {
        uint16_t major, minor;
        const char* versions;  // the query after the SKU
    } cases[] = {
        {2, 5, "&Major=2&Minor=5"},
        {0, 0, "&Major=0&Minor=0"},
        {3, 123, "&Major=3&Minor=123"},
        {65535, 65535, "&Major=65535&Minor=65535"},
    };
    for (const auto& c : cases) {
        const std::string query = kSkuQuery + c.versions;
        SCOPED_TRACE(query);
        ClearRecordedRequests();
        const CheckOutcome outcome = RunCheck(ReplyWith("LatestVersion", "9.99"), c.major, c.minor);
        EXPECT_EQ(std::vector<std::string>{kCheckPath + query}, RecordedRequests());
        // Through the proxy, Wine names the default port as well.
        const std::vector<std::string> hosts = RecordedRequests("host");
        ASSERT_EQ(1u, hosts.size());
        EXPECT_EQ(0u, hosts[0].find(kCheckHost));
        ASSERT_FALSE(outcome.log.empty());
        EXPECT_EQ(kCheckUrl + query, outcome.log.front());
        EXPECT_TRUE(outcome.update);
    }
}

TEST(CheckUpdate, TakesTheValuesApartWhateverTheirOrder)
{
    const std::string body =
        "junk <Other>x</Other>\r\n<MD5>d41d8cd98f00b204e9800998ecf8427e</MD5>"
        "<FileSize>5000000000</FileSize><FileName>Setup 2.exe</FileName>"
        "<ServerPath>http://127.0.0.1:1/a b/</ServerPath>"
        "<UpdateAvailable>Y</UpdateAvailable><LatestVersion>2.06</LatestVersion>"
        "<LatestSKU> 024-K1187-05\r\n</LatestSKU><ReturnCode>1</ReturnCode> tail";
    const CheckOutcome outcome = RunCheck(body);

    EXPECT_TRUE(outcome.update);
    const UpdateInfo& info = outcome.record.info;
    EXPECT_EQ(std::wstring(body.begin(), body.end()), outcome.record.replyText);
    EXPECT_EQ(1, info.ReturnCode);
    EXPECT_EQ(L" 024-K1187-05\r\n", info.LatestSKU);
    EXPECT_EQ(L"2.06", info.LatestVersion);
    EXPECT_EQ(1, info.UpdateAvailable);
    EXPECT_EQ(L"http://127.0.0.1:1/a b/Setup 2.exe", info.GetDownloadLink());
    EXPECT_EQ(L"5000000000", info.FileSize);
    EXPECT_EQ(L"d41d8cd98f00b204e9800998ecf8427e", info.MD5);
}

struct AcceptedReply {
    const char* name;
    std::string body;
};

class AcceptedReplies : public testing::TestWithParam<AcceptedReply> {};

// Installed 2.5, whose text is "2.05": any other offered text is an update, at once.
TEST_P(AcceptedReplies, LeadToAnUpdateWithoutPauseOrStateChange)
{
    const CheckOutcome outcome = RunCheck(GetParam().body);

    EXPECT_TRUE(outcome.update);
    EXPECT_TRUE(outcome.notices.empty());
    EXPECT_LT(outcome.elapsedMs, 1000.0);
    EXPECT_EQ("has update", LastLine(outcome));
    EXPECT_EQ(1, outcome.record.info.UpdateAvailable);
    EXPECT_EQ(1, outcome.record.info.ReturnCode);
}

INSTANTIATE_TEST_SUITE_P(
    CheckUpdate, AcceptedReplies,
    testing::Values(AcceptedReply{"ReturnCodeWithLeadingZero", ReplyWith("ReturnCode", "01")},
                    AcceptedReply{"ReturnCodeWithLeadingBlank", ReplyWith("ReturnCode", " 1")},
                    AcceptedReply{"NewerVersion", ReplyWith("LatestVersion", "2.06")},
                    AcceptedReply{"OlderVersion", ReplyWith("LatestVersion", "1.00")},
                    AcceptedReply{"SameVersionWrittenDifferently",
                                  ReplyWith("LatestVersion", "2.5")},
                    AcceptedReply{"TrailingBlank", ReplyWith("LatestVersion", "2.05 ")},
                    AcceptedReply{"TrailingLineBreak", ReplyWith("LatestVersion", "2.05\r\n")},
                    AcceptedReply{"ServiceSaysNo", ReplyWith("UpdateAvailable", "N")},
                    // The reply's SKU is not compared with the launcher's.
                    AcceptedReply{"AnotherSku", ReplyWith("LatestSKU", "999-X0000-00")}),
    [](const testing::TestParamInfo<AcceptedReply>& p) { return p.param.name; });

TEST(CheckUpdate, SameVersionTextIsNoUpdateWhateverTheServiceFlag)
{
    const CheckOutcome outcome = RunCheck(ReplyWith("LatestVersion", "2.05"));

    EXPECT_FALSE(outcome.update);
    EXPECT_EQ(std::vector<CheckNotice>{CheckNotice::NoUpdate}, outcome.notices);
    EXPECT_GE(outcome.elapsedMs, 2000.0);
    EXPECT_EQ("no update", LastLine(outcome));
    EXPECT_EQ(0, outcome.record.info.UpdateAvailable);
}

struct RejectedReply {
    const char* name;
    std::string body;
};

class RejectedReplies : public testing::TestWithParam<RejectedReply> {};

TEST_P(RejectedReplies, AreShownAsUnusableForThreeSeconds)
{
    const CheckOutcome outcome = RunCheck(GetParam().body);

    EXPECT_FALSE(outcome.update);
    EXPECT_EQ(std::vector<CheckNotice>{CheckNotice::ReplyInvalid}, outcome.notices);
    EXPECT_GE(outcome.elapsedMs, 3000.0);
    EXPECT_EQ("parse update error", LastLine(outcome));
    // The reply itself was logged before it was rejected.
    EXPECT_NE(outcome.log.end(),
              std::find(outcome.log.begin(), outcome.log.end(), "check update answer:"));
}

INSTANTIATE_TEST_SUITE_P(
    CheckUpdate, RejectedReplies,
    testing::Values(RejectedReply{"ReturnCodeZero", ReplyWith("ReturnCode", "0")},
                    RejectedReply{"ReturnCodeTwo", ReplyWith("ReturnCode", "2")},
                    RejectedReply{"ReturnCodeEmpty", ReplyWith("ReturnCode", "")},
                    RejectedReply{"MD5Missing", ReplyWith("MD5", nullptr)},
                    RejectedReply{"MD5AsEmptyElementTag", ReplyWith("MD5", nullptr) + "<MD5/>"},
                    RejectedReply{"EmptyBody", ""}),
    [](const testing::TestParamInfo<RejectedReply>& p) { return p.param.name; });

TEST(CheckUpdate, FailedRequestIsShownAsACheckFailure)
{
    ConfigureService(R"({"check": {"fault": {"status": 500}}})");
    UpdateRecord record;
    LogTail tail;
    const double started = NowMs();
    std::vector<CheckNotice> notices;
    EXPECT_FALSE(
        CheckUpdate(record, [&notices](CheckNotice notice) { notices.push_back(notice); }));
    EXPECT_GE(NowMs() - started, 6000.0);  // three attempts with their pauses, then 3 s shown
    EXPECT_EQ(std::vector<CheckNotice>{CheckNotice::CheckFailed}, notices);
    const std::string failure = "HTTP_STATUS error, code: 500";
    EXPECT_EQ((std::vector<std::string>{kCheckUrl + kSkuQuery + "&Major=0&Minor=0", failure,
                                        failure, failure, "request check update error"}),
              tail.NewLines());
}
