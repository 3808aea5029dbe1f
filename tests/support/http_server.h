// The loopback HTTP server of a test program (support/httpd.py), seen from
// the test: what it recorded, and what it answers next. A program declared
// with cv_test(... HTTPD) gets a private server that CTest starts before it
// and stops after it; CV_HTTPD_DIR names the folder with its port.
//
// This side talks Winsock directly, never WinINet, so that it does not share
// anything (cache, cookies, connections, proxy settings) with the code under
// test.
#pragma once
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace cvtest {

// One request as the server received it: strings hold the bytes as they
// came (no decoding of any kind; a chunked body is joined).
struct HttpRequest {
    std::string method, target, version, body, peer;  // peer: "127.0.0.1:<port>"
    std::vector<std::pair<std::string, std::string>> headers;  // in order, as received
    std::string Header(const std::string& name) const;  // case-insensitive; "" when absent
    bool HasHeader(const std::string& name) const;
};

// One answer to queue. The server adds Content-Length (unless `headers`
// names it) and "Connection: close" (unless `headers` names Connection).
struct HttpReply {
    int status = 200;
    std::string reason;  // empty: the status's usual phrase
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body = "OK";
    bool gzip = false;          // body sent gzip-compressed with Content-Encoding: gzip
    bool gzipNoHeader = false;  // body sent gzip-compressed without Content-Encoding
    int delayMs = 0;
    bool drop = false;  // connection closed with no answer
    // A request without Proxy-Authorization gets 407 with
    // Proxy-Authenticate: Basic realm="cvtest", and this reply stays queued
    // for the retry.
    bool requireProxyAuth = false;
};

class HttpServer {  // the loopback server CTest started for this test program (cv_test ... HTTPD)
public:
    HttpServer();  // finds it through CV_HTTPD_DIR and resets it; fails the test (ADD_FAILURE) if absent
    int port() const { return port_; }
    std::string base() const;  // "http://127.0.0.1:<port>"
    std::wstring wbase() const;
    // Each of these fails the test (ADD_FAILURE) when the server does not
    // answer as it should.
    void Reset();
    // The next request takes the first queued reply; with none queued the
    // answer is 200, Content-Type: text/plain, "OK".
    void Queue(const HttpReply& reply);
    std::vector<HttpRequest> Requests();
    // Waits (bounded) until at least n requests have been recorded; returns them.
    // When the time runs out it returns what has come (no failure of its own).
    std::vector<HttpRequest> WaitForRequests(size_t n, DWORD timeoutMs = 10000);

private:
    int port_ = 0;
};

// Plain exchanges on a fresh connection, for tests that need bytes the HTTP
// client would never send, or want to see every byte of an answer.
struct RawExchange {
    bool sent = false;     // connected, and the whole request went out
    bool closed = false;   // the server closed the connection in time
    std::string response;  // every byte received
};
// Sends `request` as it is to 127.0.0.1:port, then reads until the server
// closes the connection or timeoutMs runs out.
RawExchange SendRaw(int port, const std::string& request, DWORD timeoutMs = 10000);

struct HttpResponse {
    int status = 0;  // 0: not a complete HTTP response
    std::string reason;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;  // as sent: the bytes after the head, up to Content-Length when there is one
    std::string Header(const std::string& name) const;  // case-insensitive; "" when absent
    bool HasHeader(const std::string& name) const;
};
// Splits a response read up to the connection's close. A body shorter than
// its Content-Length, or a head without its end, gives status 0.
HttpResponse ParseResponse(const std::string& raw);

std::string Base64Encode(const std::string& bytes);
bool Base64Decode(const std::string& text, std::string* bytes);

}  // namespace cvtest
