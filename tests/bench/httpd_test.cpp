// The loopback HTTP server that the network tests rely on (support/httpd.py
// behind cvtest::HttpServer), checked with raw sockets: what it records, and
// that it answers exactly as it was told.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <utility>
#include <vector>

#include "support/http_server.h"

namespace {

using Headers = std::vector<std::pair<std::string, std::string>>;

class Httpd : public ::testing::Test {
protected:
    std::string HostLine() const { return "Host: 127.0.0.1:" + std::to_string(server.port()) + "\r\n"; }

    cvtest::HttpResponse Exchange(const std::string& request)
    {
        cvtest::RawExchange ex = cvtest::SendRaw(server.port(), request);
        EXPECT_TRUE(ex.sent);
        EXPECT_TRUE(ex.closed);
        return cvtest::ParseResponse(ex.response);
    }
    cvtest::HttpResponse Get(const std::string& target)
    {
        return Exchange("GET " + target + " HTTP/1.1\r\n" + HostLine() + "\r\n");
    }

    cvtest::HttpServer server;
};

// Unpacks one gzip member (and nothing else: no zlib or raw deflate stream).
bool Gunzip(const std::string& in, std::string* out)
{
    z_stream z = {};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) return false;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z.avail_in = static_cast<uInt>(in.size());
    out->clear();
    int rc = Z_OK;
    char buf[4096];
    while (rc == Z_OK) {
        z.next_out = reinterpret_cast<Bytef*>(buf);
        z.avail_out = sizeof(buf);
        rc = inflate(&z, Z_NO_FLUSH);
        out->append(buf, sizeof(buf) - z.avail_out);
    }
    bool whole = rc == Z_STREAM_END && z.avail_in == 0;
    inflateEnd(&z);
    return whole;
}

}  // namespace

TEST_F(Httpd, RecordsEachRequestAsSent)
{
    // Every byte a header can carry, and a body with NULs and line ends.
    std::string odd = "<";
    for (int c = 1; c < 256; ++c)
        if (c != '\r' && c != '\n') odd += static_cast<char>(c);
    odd += ">";
    const std::string body("a=1&b=\xd6\xd0\xce\xc4\0\xff\r\n\"}", 16);
    const Headers sent = {{"Host", "127.0.0.1:" + std::to_string(server.port())},
                          {"X-Mixed-Case", "Value \"quoted\" \\ back\tslash"},
                          {"X-Dup", "one"},
                          {"x-dup", "two"},
                          {"X-Bytes", odd},
                          {"Content-Length", std::to_string(body.size())}};
    std::string request = "POST /api/a%20b.asp?x=1&y=%E4%B8%AD HTTP/1.1\r\n";
    for (const auto& h : sent) request += h.first + ": " + h.second + "\r\n";
    EXPECT_EQ(Exchange(request + "\r\n" + body).body, "OK");
    // A chunked body (with a chunk extension) is recorded joined.
    EXPECT_EQ(Exchange("PUT /chunked HTTP/1.0\r\n" + HostLine() +
                       "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n7;note=x\r\n, world\r\n0\r\n\r\n")
                  .status,
              200);

    std::vector<cvtest::HttpRequest> got = server.Requests();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].method, "POST");
    EXPECT_EQ(got[0].target, "/api/a%20b.asp?x=1&y=%E4%B8%AD");
    EXPECT_EQ(got[0].version, "HTTP/1.1");
    EXPECT_EQ(got[0].headers, sent);
    EXPECT_EQ(got[0].body, body);
    EXPECT_EQ(got[0].Header("x-DUP"), "one");  // the first of duplicates
    EXPECT_EQ(got[0].peer.rfind("127.0.0.1:", 0), 0u) << got[0].peer;

    EXPECT_EQ(got[1].method, "PUT");
    EXPECT_EQ(got[1].version, "HTTP/1.0");
    EXPECT_EQ(got[1].body, "hello, world");
    EXPECT_EQ(got[1].Header("transfer-encoding"), "chunked");
    EXPECT_FALSE(got[1].HasHeader("Content-Length"));
    EXPECT_EQ(got[1].Header("Content-Length"), "");
}

TEST_F(Httpd, QueuedRepliesGoInOrderThenTheDefaultReply)
{
    cvtest::HttpReply first;
    first.status = 201;
    first.reason = "Made Here";
    first.headers = {{"Set-Cookie", "a=1"}, {"X-First", "yes"}, {"Set-Cookie", "b=2"}};
    first.body = "first";
    server.Queue(first);
    cvtest::HttpReply second;
    second.status = 503;
    second.body = "";
    server.Queue(second);

    cvtest::HttpResponse r = Get("/1");
    EXPECT_EQ(r.status, 201);
    EXPECT_EQ(r.reason, "Made Here");
    EXPECT_EQ(r.body, "first");
    const Headers given = {{"Set-Cookie", "a=1"}, {"X-First", "yes"}, {"Set-Cookie", "b=2"}};
    EXPECT_EQ(Headers(r.headers.begin(), r.headers.begin() + 3), given);  // as given, first
    EXPECT_EQ(r.Header("Content-Length"), "5");
    EXPECT_EQ(r.Header("Connection"), "close");

    r = Get("/2");
    EXPECT_EQ(r.status, 503);
    EXPECT_EQ(r.reason, "Service Unavailable");
    EXPECT_EQ(r.Header("Content-Length"), "0");
    EXPECT_EQ(r.body, "");

    r = Get("/3");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.reason, "OK");
    EXPECT_EQ(r.Header("Content-Type"), "text/plain");
    EXPECT_EQ(r.body, "OK");
    EXPECT_EQ(server.Requests().size(), 3u);
}

TEST_F(Httpd, GzipBodiesAreRealGzip)
{
    std::string text;
    for (int i = 0; i < 200; ++i) text += "line " + std::to_string(i) + " of a report\n";
    cvtest::HttpReply reply;
    reply.body = text;
    reply.gzip = true;
    server.Queue(reply);
    reply.gzip = false;
    reply.gzipNoHeader = true;
    server.Queue(reply);

    for (bool labelled : {true, false}) {
        cvtest::HttpResponse r = Get("/gz");
        ASSERT_EQ(r.status, 200);
        EXPECT_EQ(r.HasHeader("Content-Encoding"), labelled);
        if (labelled) {
            EXPECT_EQ(r.Header("Content-Encoding"), "gzip");
        }
        EXPECT_EQ(r.Header("Content-Length"), std::to_string(r.body.size()));
        EXPECT_LT(r.body.size(), text.size());
        EXPECT_EQ(r.body.substr(0, 2), "\x1f\x8b");
        std::string plain;
        EXPECT_TRUE(Gunzip(r.body, &plain));
        EXPECT_EQ(plain, text);
    }
}

TEST_F(Httpd, DropClosesTheConnectionWithoutAnswer)
{
    cvtest::HttpReply reply;
    reply.drop = true;
    server.Queue(reply);
    cvtest::RawExchange ex = cvtest::SendRaw(server.port(), "GET /dropped HTTP/1.1\r\n" + HostLine() + "\r\n");
    EXPECT_TRUE(ex.sent);
    EXPECT_TRUE(ex.closed);
    EXPECT_EQ(ex.response, "");

    std::vector<cvtest::HttpRequest> got = server.Requests();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].target, "/dropped");
    EXPECT_EQ(Get("/next").body, "OK");  // the dropped reply was used up
}

TEST_F(Httpd, ProxyChallengeStaysQueuedUntilTheRetryCarriesCredentials)
{
    cvtest::HttpReply reply;
    reply.requireProxyAuth = true;
    reply.body = "through the proxy";
    server.Queue(reply);
    const std::string target = "http://updates.example.invalid/check?v=1";
    auto proxied = [&](const std::string& more) {
        return Exchange("GET " + target + " HTTP/1.1\r\nHost: updates.example.invalid\r\n" +
                        "Proxy-Connection: Keep-Alive\r\n" + more + "\r\n");
    };
    const std::string credentials = "Proxy-Authorization: Basic dXNlcjpwYXNz\r\n";

    for (int i = 0; i < 2; ++i) {
        cvtest::HttpResponse r = proxied("");
        EXPECT_EQ(r.status, 407);
        EXPECT_EQ(r.Header("Proxy-Authenticate"), "Basic realm=\"cvtest\"");
        EXPECT_EQ(r.Header("Content-Length"), std::to_string(r.body.size()));
    }
    cvtest::HttpResponse r = proxied(credentials);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "through the proxy");
    EXPECT_EQ(proxied(credentials).body, "OK");

    std::vector<cvtest::HttpRequest> got = server.Requests();
    ASSERT_EQ(got.size(), 4u);
    for (const auto& req : got) EXPECT_EQ(req.target, target);
    EXPECT_FALSE(got[0].HasHeader("Proxy-Authorization"));
    EXPECT_EQ(got[2].Header("proxy-authorization"), "Basic dXNlcjpwYXNz");
    EXPECT_EQ(got[2].Header("Host"), "updates.example.invalid");
}

TEST_F(Httpd, DelayedReplyIsRecordedAtOnceAndAnsweredLater)
{
    cvtest::HttpReply slow;
    slow.delayMs = 5000;
    slow.body = "late";
    server.Queue(slow);
    cvtest::RawExchange ex = cvtest::SendRaw(server.port(), "GET /slow HTTP/1.1\r\n" + HostLine() + "\r\n", 300);
    EXPECT_TRUE(ex.sent);
    EXPECT_FALSE(ex.closed);  // nothing within 300 ms
    EXPECT_EQ(ex.response, "");
    EXPECT_EQ(server.WaitForRequests(1).size(), 1u);

    cvtest::HttpReply soon;
    soon.delayMs = 100;
    soon.body = "soon";
    server.Queue(soon);
    EXPECT_EQ(Get("/soon").body, "soon");
    EXPECT_EQ(server.WaitForRequests(3, 200).size(), 2u);  // gives up, with what came
}

TEST_F(Httpd, ResetForgetsRequestsAndQueuedReplies)
{
    cvtest::HttpReply reply;
    reply.status = 500;
    server.Queue(reply);
    reply.status = 404;
    server.Queue(reply);
    EXPECT_EQ(Get("/before").status, 500);
    ASSERT_EQ(server.Requests().size(), 1u);

    server.Reset();
    EXPECT_TRUE(server.Requests().empty());
    cvtest::HttpResponse r = Get("/after");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "OK");
    std::vector<cvtest::HttpRequest> got = server.Requests();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].target, "/after");
    EXPECT_EQ(server.base(), "http://127.0.0.1:" + std::to_string(server.port()));
    EXPECT_EQ(server.wbase(), L"http://127.0.0.1:" + std::to_wstring(server.port()));
}
