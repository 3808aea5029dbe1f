// The HTTP client against a loopback server that records the exact bytes it
// receives and answers as each test asks.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "base/cvhandle.h"
#include "base/cvlog.h"
#include "base/cvnet.h"
#include "support/http_server.h"
#include "support/test_support.h"

using cvtest::HttpReply;
using cvtest::HttpRequest;
using cvtest::HttpServer;

namespace {


// The header lines every GET and POST carries, in order, as received.
void ExpectHeaderBlock(const HttpRequest& r, const std::string& host, bool post)
{
    EXPECT_EQ(r.Header("Accept"), "text/html,application/xml;q=0.9,application/json,*/*;q=0.8");
    EXPECT_EQ(r.Header("Accept-Encoding"), "gzip,deflate");
    EXPECT_EQ(r.Header("Accept-Language"), "zh-CN,zh;q=0.5");
    EXPECT_EQ(r.Header("Accept-Charset"), "gb2312,utf-8;q=0.7,*;q=0.7");
    EXPECT_EQ(r.Header("Host"), host);
    EXPECT_EQ(r.Header("User-Agent"), "Mozilla/5.0 (Windows NT 6.1)");
    if (post) {
        EXPECT_EQ(r.Header("Content-Type"), "application/x-www-form-urlencoded");
    }
}

std::wstring W(const std::string& s) { return cvtest::Widen(s); }

}  // namespace

TEST(CvNet, PostSendsTheFormToTheLowerCasedUrl)
{
    HttpServer server;
    server.Queue(HttpReply{200, "", {}, "thanks"});
    const std::string form = "type=open&value=Tovi_Uninstall&uuid=CV1&sign=5";
    char answer[500];
    std::wstring url = L"HTTP://127.0.0.1:" + std::to_wstring(server.port()) + L"/API/Report.asp?Kind=ABC";
    EXPECT_EQ(CCvNet::Instance().Post(url.c_str(), form.data(), static_cast<int>(form.size()), answer, 500, 80), 1);
    EXPECT_STREQ(answer, "thanks");

    auto requests = server.WaitForRequests(1);
    ASSERT_EQ(requests.size(), 1u);
    const HttpRequest& r = requests[0];
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.target, "/api/report.asp?kind=abc");  // path and query lower-cased
    EXPECT_EQ(r.version, "HTTP/1.1");
    EXPECT_EQ(r.body, form);
    ExpectHeaderBlock(r, "127.0.0.1", true);
}

TEST(CvNet, GetOfAUrlWithoutPathRequestsTheRoot)
{
    HttpServer server;
    server.Queue(HttpReply{200, "", {}, "root page"});
    char page[100];
    std::wstring url = L"http://127.0.0.1:" + std::to_wstring(server.port());
    EXPECT_EQ(CCvNet::Instance().GetUrlInfo(url.c_str(), page, 100, 80), 1);
    EXPECT_STREQ(page, "root page");
    EXPECT_EQ(CCvNet::Instance().GetInfoLen(), 9);
    auto requests = server.WaitForRequests(1);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/");
    EXPECT_TRUE(requests[0].body.empty());
    ExpectHeaderBlock(requests[0], "127.0.0.1", false);
}

TEST(CvNet, SmallBuffersTakeOneReadAndCutTheBody)
{
    HttpServer server;
    const std::string body(1000, 'b');
    server.Queue(HttpReply{200, "", {}, body});
    char buf[500];
    memset(buf, 'x', sizeof(buf));
    EXPECT_EQ(CCvNet::Instance().GetUrlInfo((server.wbase() + L"/long").c_str(), buf, 500, 80), 1);
    EXPECT_EQ(std::string(buf), std::string(499, 'b'));
    EXPECT_EQ(CCvNet::Instance().GetInfoLen(), 499);

    // A large buffer reads piece after piece until the body ends.
    const std::string big(100000, 'g');
    server.Queue(HttpReply{200, "", {}, big});
    std::string large(200000, 'x');
    EXPECT_EQ(CCvNet::Instance().GetUrlInfo((server.wbase() + L"/big").c_str(), &large[0], 200000, 80), 1);
    EXPECT_EQ(std::string(large.c_str()), big);
    EXPECT_EQ(CCvNet::Instance().GetInfoLen(), 100000);
}

TEST(CvNet, CompressedAnswersAreDecoded)
{
    HttpServer server;
    CCvNet& net = CCvNet::Instance();
    const std::string text = "decoded answer: " + std::string(300, 'd');
    char buf[4096];

    HttpReply gz;
    gz.body = text;
    gz.gzip = true;
    server.Queue(gz);
    EXPECT_EQ(net.GetUrlInfo((server.wbase() + L"/gz").c_str(), buf, sizeof(buf), 80), 1);
    EXPECT_EQ(std::string(buf), text);
    EXPECT_EQ(net.GetInfoLen(), static_cast<int>(text.size()));

    // Claims gzip but is not: the bytes stay as received.
    HttpReply liar{200, "", {{"Content-Encoding", "gzip"}}, "plain after all"};
    server.Queue(liar);
    EXPECT_EQ(net.GetUrlInfo((server.wbase() + L"/liar").c_str(), buf, sizeof(buf), 80), 1);
    EXPECT_STREQ(buf, "plain after all");

    // A POST answer without Content-Encoding but with a NUL byte inside goes
    // through the decoder; a GET answer does not.
    HttpReply bare;
    bare.body = text;
    bare.gzipNoHeader = true;
    server.Queue(bare);
    EXPECT_EQ(net.Post((server.wbase() + L"/bare").c_str(), "a=1", 3, buf, sizeof(buf), 80), 1);
    EXPECT_EQ(std::string(buf), text);
    EXPECT_EQ(net.GetInfoLen(), static_cast<int>(text.size()));
    server.Queue(bare);
    EXPECT_EQ(net.GetUrlInfo((server.wbase() + L"/bare").c_str(), buf, sizeof(buf), 80), 1);
    EXPECT_EQ(std::string(buf, 2), cvtest::Gzip(text).substr(0, 2));  // raw gzip bytes
}

TEST(CvNet, ErrorPagesAreBodiesAndFailuresAreLogged)
{
    HttpServer server;
    char buf[500];
    server.Queue(HttpReply{500, "", {}, "server trouble"});
    EXPECT_EQ(CCvNet::Instance().GetUrlInfo((server.wbase() + L"/err").c_str(), buf, 500, 80), 1);
    EXPECT_STREQ(buf, "server trouble");

    // A dropped connection fails the read, which is logged.
    CCvLog::Instance().ForceLog(true);
    HttpReply drop;
    drop.drop = true;
    server.Queue(drop);
    EXPECT_EQ(CCvNet::Instance().Post((server.wbase() + L"/drop").c_str(), "x", 1, buf, 500, 80), 0);
    CCvLog::Instance().ForceLog(false);
    SYSTEMTIME t;
    GetLocalTime(&t);
    std::wstring log = cvtest::BinDir() + L"CV-" + std::to_wstring(t.wYear) + L"-" + std::to_wstring(t.wMonth) + L"-" +
                       std::to_wstring(t.wDay) + L".log";
    std::string text;
    {
        CvStdFile f(_wfopen(log.c_str(), L"rb"));
        ASSERT_TRUE(f);
        char chunk[4096];
        size_t n;
        while ((n = fread(chunk, 1, sizeof(chunk), f.get())) > 0) text.append(chunk, n);
    }
    EXPECT_NE(text.find(": InternetReadFile\r\n"), std::string::npos);
}

TEST(CvNet, ProbeReportsAnyAnswer)
{
    HttpServer server;
    server.Queue(HttpReply{404, "", {}, "nothing here"});
    std::wstring host = L"127.0.0.1:" + std::to_wstring(server.port());
    EXPECT_EQ(isConnected(host.c_str()), 1);  // a bare host: "/" is probed
    auto requests = server.WaitForRequests(1);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "/");
    EXPECT_FALSE(requests[0].HasHeader("Accept-Language"));  // no header block

    EXPECT_EQ(isConnected((server.wbase() + L"/ping").c_str()), 1);
    EXPECT_EQ(server.WaitForRequests(2).back().target, "/ping");
}

// In child processes (copies of this program in a folder of their own), with
// a client of their own: proxy.dat is read beside the executable, and Stop
// is final.
TEST(CvNetChild, DISABLED_ThroughTheProxyFile)
{
    HttpServer server;
    char buf[500];
    EXPECT_EQ(CCvNet::Instance().proxy.enabled, 1);
    EXPECT_EQ(CCvNet::Instance().Post(L"http://report.corvane.test/api/report.asp", "a=b", 3, buf, 500, 80), 1);
    auto requests = server.WaitForRequests(1);
    ASSERT_GE(requests.size(), 1u);
    // Through the proxy the absolute address is asked for (Wine adds ":80").
    const std::string& target = requests.back().target;
    EXPECT_EQ(target.rfind("http://report.corvane.test", 0), 0u) << target;
    EXPECT_EQ(target.substr(target.size() - 15), "/api/report.asp") << target;
    EXPECT_EQ(requests.back().Header("Host"), "report.corvane.test");
    EXPECT_EQ(requests.back().body, "a=b");

    // A host name that would not let the header block fit is refused
    // without a request; one character less still goes out.
    // 230 characters in labels of at most 63, as a host name allows.
    const std::string longest = std::string(56, 'a') + "." + std::string(57, 'b') + "." + std::string(57, 'c') + "." +
                                std::string(57, 'd');
    EXPECT_EQ(CCvNet::Instance().Post(W("http://" + longest + "x/p").c_str(), "a", 1, buf, 500, 80), 0);
    EXPECT_EQ(CCvNet::Instance().Post(W("http://" + longest + "/p").c_str(), "a", 1, buf, 500, 80), 1);
    requests = server.WaitForRequests(2);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests.back().Header("Host"), longest);
}

TEST(CvNetChild, DISABLED_ProxyCredentialsAnswerTheChallenge)
{
    HttpServer server;
    HttpReply guarded{200, "", {}, "through"};
    guarded.requireProxyAuth = true;
    server.Queue(guarded);
    char buf[500];
    EXPECT_EQ(CCvNet::Instance().GetUrlInfo(L"http://report.corvane.test/page", buf, 500, 80), 1);
    EXPECT_STREQ(buf, "through");
    auto requests = server.Requests();
    ASSERT_FALSE(requests.empty());
    // "user:secret" in Basic form.
    EXPECT_EQ(requests.back().Header("Proxy-Authorization"), "Basic dXNlcjpzZWNyZXQ=");
}

TEST(CvNetChild, DISABLED_DisabledProxyIsIgnored)
{
    HttpServer server;
    EXPECT_EQ(CCvNet::Instance().proxy.enabled, 0);
    char buf[500];
    EXPECT_EQ(CCvNet::Instance().GetUrlInfo((server.wbase() + L"/direct").c_str(), buf, 500, 80), 1);
    auto requests = server.WaitForRequests(1);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "/direct");
}

TEST(CvNetChild, DISABLED_StopIsFinal)
{
    HttpServer server;
    CCvNet::Instance().Stop();
    char buf[500];
    memset(buf, 'x', sizeof(buf));
    EXPECT_EQ(CCvNet::Instance().Post((server.wbase() + L"/after-stop").c_str(), "a", 1, buf, 500, 80), 1);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(server.WaitForRequests(1).size(), 1u);  // sent, but nothing read
}

namespace {

// Runs one of the tests above in a copy of this program that has `proxy`
// (if any) as its proxy.dat.
void RunChild(const wchar_t* test, const tagProxyConfig* proxy, size_t proxyBytes = sizeof(tagProxyConfig))
{
    cvtest::ScratchDir dir(L"child");
    std::wstring exe = dir / L"net_test.exe";
    ASSERT_TRUE(CopyFileW((cvtest::BinDir() + L"net_test.exe").c_str(), exe.c_str(), FALSE));
    if (proxy) cvtest::WriteFile(dir / L"proxy.dat", std::string(reinterpret_cast<const char*>(proxy), proxyBytes));
    EXPECT_TRUE(cvtest::PassedOneTest(cvtest::RunDisabledTest(std::wstring(L"CvNetChild.") + test, exe)));
}

tagProxyConfig Proxy(int port, bool enabled)
{
    tagProxyConfig p = {};
    p.enabled = enabled ? 1 : 0;
    wcscpy(p.host, L"127.0.0.1");
    wcscpy(p.port, std::to_wstring(port).c_str());
    wcscpy(p.user, L"user");
    wcscpy(p.password, L"secret");
    return p;
}

}  // namespace

TEST(CvNet, ProxyFileBesideTheProgram)
{
    HttpServer server;
    tagProxyConfig on = Proxy(server.port(), true);
    RunChild(L"DISABLED_ThroughTheProxyFile", &on);
    RunChild(L"DISABLED_ProxyCredentialsAnswerTheChallenge", &on);
    // Zero in the first four bytes: the rest of the file is ignored.
    tagProxyConfig off = Proxy(1, false);
    RunChild(L"DISABLED_DisabledProxyIsIgnored", &off);
    // Fields without terminator end at their field.
    tagProxyConfig full = Proxy(server.port(), true);
    for (wchar_t& c : full.user) c = L'u';
    RunChild(L"DISABLED_ThroughTheProxyFile", &full);
}

TEST(CvNet, StopEndsEveryLaterRead)
{
    RunChild(L"DISABLED_StopIsFinal", nullptr);
}
