// Usage reports as the loopback server receives them.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "app/report.h"
#include "base/cvhandle.h"
#include "support/http_server.h"
#include "support/test_support.h"
#include "support/threads.h"

using cvtest::HttpRequest;
using cvtest::HttpServer;

namespace {

const wchar_t kUidKey[] = L"SOFTWARE\\Corvane";

std::map<std::string, std::string> Form(const std::string& body)
{
    std::map<std::string, std::string> fields;
    size_t start = 0;
    while (start <= body.size()) {
        size_t end = body.find('&', start);
        if (end == std::string::npos) end = body.size();
        std::string pair = body.substr(start, end - start);
        size_t eq = pair.find('=');
        fields[pair.substr(0, eq)] = eq == std::string::npos ? "" : pair.substr(eq + 1);
        start = end + 1;
    }
    return fields;
}

void SetUid(const wchar_t* uid)  // null: remove it
{
    CvRegKey key;
    RegCreateKeyExW(HKEY_CURRENT_USER, kUidKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
    if (uid)
        RegSetValueExW(key.get(), L"UID", 0, REG_SZ, reinterpret_cast<const BYTE*>(uid),
                       static_cast<DWORD>((wcslen(uid) + 1) * 2));
    else
        RegDeleteValueW(key.get(), L"UID");
}

std::wstring StoredUid()
{
    wchar_t value[64] = {};
    DWORD size = sizeof(value) - 2;
    CvRegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kUidKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return L"";
    RegQueryValueExW(key.get(), L"UID", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    return value;
}

// The account's stored id as it was before a test, put back after it: the
// prefix outlives the run, and an id left by a cut-short run must not be the
// next run's starting point either.
class SavedUid {
public:
    SavedUid() : had_(!StoredUid().empty()), value_(StoredUid()) {}
    ~SavedUid() { SetUid(had_ ? value_.c_str() : nullptr); }

private:
    bool had_;
    std::wstring value_;
};

// "CV", an optional sign and digits, 20 to 23 characters.
bool WellFormedUid(const std::string& id)
{
    if (id.size() < 20 || id.size() > 23 || id.compare(0, 2, "CV") != 0) return false;
    size_t digits = id[2] == '-' ? 3 : 2;
    return id.find_first_not_of("0123456789", digits) == std::string::npos;
}

class ReportTest : public ::testing::Test {
protected:
    SavedUid savedUid;
    std::wstring Endpoint() { return server.wbase() + L"/api/report.asp"; }
    // Sends one report and returns the request the server received.
    HttpRequest Send(const wchar_t* type, const wchar_t* value)
    {
        size_t before = server.Requests().size();
        DoReport(Endpoint().c_str(), type, value);
        auto requests = server.WaitForRequests(before + 1);
        if (requests.size() <= before) {
            ADD_FAILURE() << "no report arrived";
            return HttpRequest();
        }
        return requests[before];
    }
    HttpServer server;
};

}  // namespace

TEST_F(ReportTest, FormFieldsAndRequest)
{
    HttpRequest r = Send(L"open", L"Tovi_Uninstall");
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.target, "/api/report.asp");
    EXPECT_EQ(r.Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(r.body.rfind("type=open&value=Tovi_Uninstall&uuid=", 0), 0u) << r.body;
    auto form = Form(r.body);
    EXPECT_TRUE(WellFormedUid(form["uuid"])) << form["uuid"];
    ASSERT_FALSE(form["sign"].empty());
    EXPECT_EQ(form["sign"].find_first_not_of("-0123456789"), std::string::npos);
}

TEST_F(ReportTest, ValuesAreUrlEncoded)
{
    struct Case {
        const wchar_t* value;
        std::string sent;
    } cases[] = {
        {L"a b&c", "a%20b%26c"},
        {L"50%", "50%"},
        {L"\u4e2d", "%e4%b8%ad"},
        {L"x\"#$+,;<=>?@[\\]^`{|}", "x%22%23%24%2b%2c%3b%3c%3d%3e%3f%40%5b%5c%5d%5e%60%7b%7c%7d"},
        {L"A-z_0.9~!'()*/:", "A-z_0.9~!'()*/:"},
    };
    for (const Case& c : cases) EXPECT_EQ(Form(Send(L"uninstall", c.value).body)["value"], c.sent);

    // The longest value, all Chinese: nine characters each once encoded.
    std::wstring chinese(99, L'\u4e2d');
    std::string want;
    for (int i = 0; i < 99; ++i) want += "%e4%b8%ad";
    EXPECT_EQ(Form(Send(L"uninstall", chinese.c_str()).body)["value"], want);
}

TEST_F(ReportTest, BodyIsInTheThreadsAnsiCodePage)
{
    // The type is not encoded, so its characters reach the body as the
    // thread's code page renders them.
    HttpRequest r = Send(L"\u62a5\u544a", L"v");  // "report" in Chinese
    switch (GetACP()) {
    case 936:
        EXPECT_EQ(r.body.rfind("type=\xB1\xA8\xB8\xE6&value=v&uuid=", 0), 0u) << r.body;
        break;
    case 1252:
        EXPECT_EQ(r.body.rfind("type=??&value=v&uuid=", 0), 0u) << r.body;
        break;
    default:
        GTEST_SKIP() << "no expectation for code page " << GetACP();
    }
}

TEST_F(ReportTest, LimitsOfTypeAndValue)
{
    std::wstring type29(29, L't'), type30(30, L't');
    EXPECT_EQ(Form(Send(type29.c_str(), L"v").body)["type"], std::string(29, 't'));
    std::wstring value100(100, L'v');
    // A value of 100 characters is sent empty; an empty value is followed
    // directly by the uuid field.
    HttpRequest r = Send(L"crash", value100.c_str());
    EXPECT_NE(r.body.find("&value=&uuid="), std::string::npos) << r.body;
    r = Send(L"tv_uninstall_dump", L"");
    EXPECT_NE(r.body.find("type=tv_uninstall_dump&value=&uuid="), std::string::npos) << r.body;

    size_t before = server.Requests().size();
    DoReport(Endpoint().c_str(), type30.c_str(), L"v");
    DoReport(nullptr, L"open", L"v");
    DoReport(Endpoint().c_str(), nullptr, L"v");
    // A refused report starts no thread, so none can still be on its way;
    // one that went out at once is at the server before the marker is.
    int threads = cvtest::ThreadCount();
    std::wstring longEndpoint = Endpoint() + L"?" + std::wstring(200, L'e');
    DoReport(longEndpoint.c_str(), L"open", L"v");
    EXPECT_LE(cvtest::ThreadCount(), threads);  // earlier reports' threads may end meanwhile
    Send(L"marker", L"last");
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), before + 1);
    EXPECT_EQ(Form(requests.back().body)["type"], "marker");
}

TEST_F(ReportTest, TheUserIdIsKeptPerAccount)
{
    SetUid(nullptr);
    std::string first = Form(Send(L"open", L"a").body)["uuid"];
    EXPECT_TRUE(WellFormedUid(first)) << first;
    EXPECT_EQ(cvtest::Narrow(StoredUid()), first);
    EXPECT_EQ(Form(Send(L"open", L"b").body)["uuid"], first);

    // Ids of the form the program writes are kept whatever the tick count was
    // when they were made: 20 characters below 100,000,000 ms of uptime, more
    // after about 28 hours, and a sign past 2^31 ms.
    for (const wchar_t* kept : {L"CV12345678000010000200", L"CV123456789000010000200", L"CV4000000000123451234",
                                L"CV-2147483648123451234", L"CV12345678901234567890"}) {
        SetUid(kept);
        EXPECT_EQ(Form(Send(L"open", L"c").body)["uuid"], cvtest::Narrow(kept));
        EXPECT_EQ(StoredUid(), kept);
    }
    // Anything else is replaced by a fresh id, which is stored.
    for (const wchar_t* bad : {L"CV12345678901234567", L"CV1234567890123456789012", L"XV123456789012345678",
                               L"CV12345678a012345678", L"CV1234-5678901234567", L"CV 2345678901234567890", L""}) {
        SetUid(bad);
        std::string sent = Form(Send(L"open", L"d").body)["uuid"];
        EXPECT_NE(sent, cvtest::Narrow(bad));
        EXPECT_TRUE(WellFormedUid(sent)) << sent;
        EXPECT_EQ(cvtest::Narrow(StoredUid()), sent);
    }
}

TEST(CreateUID, FreshIdsHaveTheirShape)
{
    wchar_t id[24];
    CreateUID(id, 0);
    std::string s = cvtest::Narrow(id);
    EXPECT_TRUE(WellFormedUid(s)) << s;
    // The tick count, then two groups of five digits.
    DWORD ticks = GetTickCount();
    std::string tickPart = s.substr(2, s.size() - 12);
    EXPECT_GE(tickPart.size(), 8u);
    EXPECT_LE(static_cast<DWORD>(std::stoll(tickPart)) - (ticks - 60000), 60000u) << s;
}

TEST(URLEncode, TooLongTextIsLeftAlone)
{
    wchar_t text[2000];
    std::wstring fits(341, L' ');  // 1023 characters encoded
    wcscpy(text, fits.c_str());
    EXPECT_EQ(URLEncode(text), 1);
    EXPECT_EQ(wcslen(text), 1023u);
    std::wstring over(342, L' ');
    wcscpy(text, over.c_str());
    EXPECT_EQ(URLEncode(text), 0);
    EXPECT_EQ(std::wstring(text), over);
    wchar_t small[8] = L"a b c";
    EXPECT_EQ(URLEncode(small, 8), 0);  // "a%20b%20c" needs 10
    EXPECT_STREQ(small, L"a b c");
    wchar_t empty[1] = L"";
    EXPECT_EQ(URLEncode(empty), 1);
}

// In a child process whose HTTP client does not exist yet: two reports
// started together make the first use of it from two threads at once.
TEST(ReportChild, DISABLED_TwoReportsAtOnce)
{
    HttpServer server;
    std::wstring endpoint = server.wbase() + L"/api/report.asp";
    int threads = cvtest::ThreadCount();
    DoReport(endpoint.c_str(), L"open", L"first");
    DoReport(endpoint.c_str(), L"uninstall", L"second");
    auto requests = server.WaitForRequests(2);
    // Once both report threads have ended, nothing more can arrive.
    ASSERT_TRUE(cvtest::WaitForThreads(threads)) << cvtest::ThreadCount() << " threads, " << threads << " before";
    requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    std::multiset<std::string> types;
    for (const HttpRequest& r : requests) types.insert(Form(r.body)["type"]);
    EXPECT_EQ(types, (std::multiset<std::string>{"open", "uninstall"}));
}

TEST(Report, TwoReportsStartedTogetherBothArriveOnce)
{
    for (int round = 0; round < 3; ++round) {
        EXPECT_TRUE(cvtest::PassedOneTest(cvtest::RunDisabledTest(L"ReportChild.DISABLED_TwoReportsAtOnce")))
            << "round " << round;
    }
}
