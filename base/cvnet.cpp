#include "base/cvnet.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/cvhandle.h"
#include "base/cvlog.h"
#include "base/cvstr.h"
#include "base/cvzlib.h"
#include "shell/folders.h"

namespace {

// "Network connection error: <step>", as the maker's support staff read it.
#define CV_NET_FAILED L"\u7f51\u7edc\u8fde\u63a5\u5f02\u5e38: "

constexpr DWORD kConnectTimeoutMs = 3000;
constexpr int kReadPiece = 16384;
constexpr size_t kHeaderRoom = 500;  // the header block holds at most 499 characters

struct CvInternetTraits {
    using type = HINTERNET;
    static type invalid() { return nullptr; }
    static void close(type h) { InternetCloseHandle(h); }
};
using CvInternet = CvScoped<CvInternetTraits>;

std::wstring Lower(const wchar_t* text)
{
    std::wstring s = text ? text : L"";
    if (!s.empty()) CharLowerBuffW(&s[0], static_cast<DWORD>(s.size()));
    return s;
}

// A field of proxy.dat, ending at its terminator or at the end of its field.
template <size_t N> std::wstring Field(const wchar_t (&field)[N])
{
    return std::wstring(field, CvFieldLen(field, N));
}

struct Target {
    std::wstring host;
    std::wstring path;
    int port = 0;  // from the URL's "host:port"; 0 when it names none
};

// "host:8080" names its port: the connection goes there, and the host name
// is what comes before the colon.
void TakePort(Target* t)
{
    size_t colon = t->host.rfind(L':');
    if (colon == std::wstring::npos || colon + 1 >= t->host.size()) return;
    int port = 0;
    for (size_t i = colon + 1; i < t->host.size(); ++i) {
        wchar_t c = t->host[i];
        if (c < L'0' || c > L'9' || port > 6553) return;
        port = port * 10 + (c - L'0');
    }
    if (port < 1 || port > 65535) return;
    t->port = port;
    t->host.resize(colon);
}

// How GetUrlInfo and Post address a URL: all of it lower-cased, every
// "http://" removed, the host up to the first slash.
Target SplitForTransfer(const wchar_t* url)
{
    std::wstring s = Lower(url);
    for (size_t at; (at = s.find(L"http://")) != std::wstring::npos;) s.erase(at, 7);
    Target t;
    size_t slash = s.find(L'/');
    if (slash == std::wstring::npos || slash == 0) {
        t.host = s;
        t.path = L"/";
    } else {
        t.host = s.substr(0, slash);
        t.path = s.substr(slash);
    }
    TakePort(&t);
    return t;
}

// How isConnected addresses a URL: the first slash from the ninth character
// on ends the host; without one, the whole argument is the host.
Target SplitForProbe(const wchar_t* url)
{
    std::wstring low = Lower(url);
    Target t;
    size_t slash = low.size() > 8 ? low.find(L'/', 8) : std::wstring::npos;
    if (slash == std::wstring::npos) {
        t.host = url ? url : L"";
        t.path = L"/";
    } else {
        size_t scheme = low.compare(0, 8, L"https://") == 0 ? 8 : 7;
        t.host = low.substr(scheme, slash - scheme);
        t.path = low.substr(slash);
    }
    TakePort(&t);
    return t;
}

}  // namespace

CCvNet& CCvNet::Instance()
{
    static CCvNet net;
    return net;
}

CCvNet::CCvNet() : proxy()
{
    LoadProxyConfig();
    CCvZlib::Instance().InitZlib(nullptr);
}

CCvNet::~CCvNet()
{
    stop = true;
    CCvZlib::Instance().UninitZlib();
}

void CCvNet::LoadProxyConfig()
{
    memset(&proxy, 0, sizeof(proxy));
    wchar_t path[MAX_PATH];
    GetCurPath(path);
    if (!CvStrAppend(path, L"proxy.dat")) return;
    CvStdFile file(_wfopen(path, L"rb"));
    if (file) fread(&proxy, 1, sizeof(proxy), file.get());
}

HINTERNET CCvNet::OpenSession(bool logFailure)
{
    DWORD state = 0;
    InternetGetConnectedState(&state, 0);
    wchar_t agent[32];
    _snwprintf(agent, 32, L"Agent%ld", static_cast<long>(GetTickCount()));
    agent[31] = L'\0';
    HINTERNET session;
    if (proxy.enabled) {
        std::wstring server = L"HTTP=HTTP://" + Field(proxy.host) + L":" + Field(proxy.port);
        session = InternetOpenW(agent, INTERNET_OPEN_TYPE_PROXY, server.c_str(), nullptr, 0);
    } else {
        DWORD type = (state & INTERNET_CONNECTION_PROXY) ? INTERNET_OPEN_TYPE_PRECONFIG : INTERNET_OPEN_TYPE_DIRECT;
        session = InternetOpenW(agent, type, nullptr, nullptr, 0);
    }
    if (!session && logFailure) CCvLog::Instance().WriteLog(CV_NET_FAILED L"InternetOpen");
    return session;
}

void CCvNet::SetProxyCredentials(HINTERNET connection)
{
    if (!proxy.enabled) return;
    std::wstring user = Field(proxy.user), password = Field(proxy.password);
    InternetSetOptionW(connection, INTERNET_OPTION_PROXY_USERNAME, const_cast<wchar_t*>(user.c_str()),
                       static_cast<DWORD>(user.size()));
    InternetSetOptionW(connection, INTERNET_OPTION_PROXY_PASSWORD, const_cast<wchar_t*>(password.c_str()),
                       static_cast<DWORD>(password.size()));
}

int CCvNet::isConnected(const wchar_t* url)
{
    CvInternet session(OpenSession(false));
    if (!session) return 0;
    Target t = SplitForProbe(url);
    INTERNET_PORT port = static_cast<INTERNET_PORT>(t.port ? t.port : 80);
    CvInternet connection(InternetConnectW(session.get(), t.host.c_str(), port, nullptr, nullptr,
                                           INTERNET_SERVICE_HTTP, INTERNET_FLAG_NO_UI, 0));
    if (!connection) return 0;
    SetProxyCredentials(connection.get());
    const wchar_t* accept[] = {L"*/*", nullptr};
    CvInternet request(HttpOpenRequestW(connection.get(), L"GET", t.path.c_str(), L"HTTP/1.1", nullptr, accept,
                                        INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_UI, 0));
    if (!request) return 0;
    return HttpSendRequestW(request.get(), nullptr, 0, nullptr, 0) ? 1 : 0;
}

int CCvNet::GetUrlInfo(const wchar_t* url, char* buffer, int bufferSize, int port)
{
    return Transfer(false, url, nullptr, 0, buffer, bufferSize, port);
}

int CCvNet::Post(const wchar_t* url, const void* data, int dataSize, char* buffer, int bufferSize, int port)
{
    return Transfer(true, url, data, dataSize, buffer, bufferSize, port);
}

int CCvNet::Transfer(bool post, const wchar_t* url, const void* data, int dataSize, char* buffer, int bufferSize,
                     int port)
{
    // The answer needs at least its terminating NUL.
    if (!url || !buffer || bufferSize < 1 || dataSize < 0 || (dataSize > 0 && !data)) return 0;
    CvInternet session(OpenSession(true));
    if (!session) return 0;
    DWORD timeout = kConnectTimeoutMs;
    InternetSetOptionW(session.get(), INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof(timeout));

    Target t = SplitForTransfer(url);
    // The header block: refused, not cut, when the host name would not let
    // it fit its 499 characters.
    wchar_t headers[kHeaderRoom] = {};
    bool fits = CvStrAppend(headers, L"Accept:text/html,application/xml;q=0.9,application/json,*/*;q=0.8\r\n") &&
                CvStrAppend(headers, L"Accept-Encoding:gzip,deflate\r\n") &&
                CvStrAppend(headers, L"Accept-Language:zh-CN,zh;q=0.5\r\n") &&
                CvStrAppend(headers, L"Accept-Charset:gb2312,utf-8;q=0.7,*;q=0.7\r\n") &&
                CvStrAppend(headers, L"Host:") && CvStrAppend(headers, t.host.c_str()) &&
                CvStrAppend(headers, L"\r\n") && CvStrAppend(headers, L"User-Agent:Mozilla/5.0 (Windows NT 6.1)\r\n") &&
                (!post || CvStrAppend(headers, L"Content-Type: application/x-www-form-urlencoded\r\n"));
    if (!fits) return 0;

    INTERNET_PORT target = static_cast<INTERNET_PORT>(t.port ? t.port : port);
    CvInternet connection;
    for (int attempt = 1; attempt <= connectAttempts; ++attempt) {
        connection.reset(InternetConnectW(session.get(), t.host.c_str(), target, nullptr, nullptr,
                                          INTERNET_SERVICE_HTTP, INTERNET_FLAG_RELOAD, 0));
        if (connection) break;
        if (attempt < connectAttempts) Sleep(static_cast<DWORD>(connectRetryDelay));
    }
    if (!connection) {
        CCvLog::Instance().WriteLog(CV_NET_FAILED L"InternetConnect");
        return 0;
    }
    SetProxyCredentials(connection.get());

    const wchar_t* accept[] = {L"*/*", nullptr};
    CvInternet request(HttpOpenRequestW(connection.get(), post ? L"POST" : L"GET", t.path.c_str(), L"HTTP/1.1",
                                        nullptr, accept, INTERNET_FLAG_RELOAD, 0));
    if (!request) {
        CCvLog::Instance().WriteLog(CV_NET_FAILED L"HttpOpenRequest");
        return 0;
    }
    HttpAddRequestHeadersW(request.get(), headers, static_cast<DWORD>(-1),
                           HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE);
    HttpSendRequestW(request.get(), nullptr, 0, post ? const_cast<void*>(data) : nullptr,
                     post ? static_cast<DWORD>(dataSize) : 0);
    // Whatever sending reported, there must be an answer to read: a
    // connection closed before any status line is a failed read, not an
    // empty body.
    DWORD status = 0, statusSize = sizeof(status);
    if (!HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &statusSize,
                        nullptr) ||
        status == 0) {
        CCvLog::Instance().WriteLog(CV_NET_FAILED L"InternetReadFile");
        return 0;
    }
    bool gzip = isGzip(request.get()) != 0;

    memset(buffer, 0, static_cast<size_t>(bufferSize));
    const int piece = bufferSize > kReadPiece ? kReadPiece : bufferSize - 1;
    int received = 0;
    while (!stop && received + piece < bufferSize) {
        DWORD got = 0;
        if (!InternetReadFile(request.get(), buffer + received, static_cast<DWORD>(piece), &got)) {
            CCvLog::Instance().WriteLog(CV_NET_FAILED L"InternetReadFile");
            return 0;
        }
        if (got == 0) break;
        received += static_cast<int>(got);
    }
    buffer[received] = '\0';
    if (!post) infoLen = received;

    // A POST answer with a NUL byte inside is taken for compressed data too.
    bool decode = gzip || (post && memchr(buffer, 0, static_cast<size_t>(received)) != nullptr);
    if (decode) {
        BYTE* decoded = nullptr;
        int length = 0;
        if (CCvZlib::Instance().DecodeGZipBuffer(reinterpret_cast<BYTE*>(buffer), received, &decoded, &length) ==
                S_OK &&
            decoded) {
            int keep = length < bufferSize - 1 ? length : bufferSize - 1;
            memcpy(buffer, decoded, static_cast<size_t>(keep));
            buffer[keep] = '\0';
            infoLen = keep;
            free(decoded);
        }
    }
    return 1;
}

int CCvNet::isGzip(HINTERNET request)
{
    wchar_t value[256] = {};  // 512 bytes
    DWORD size = sizeof(value) - sizeof(wchar_t);
    if (!HttpQueryInfoW(request, HTTP_QUERY_CONTENT_ENCODING, value, &size, nullptr)) return 0;
    return _wcsicmp(value, L"gzip") == 0 ? 1 : 0;
}

int CCvNet::GetInfoLen() { return infoLen; }

void CCvNet::Stop() { stop = true; }

int isConnected(const wchar_t* url) { return CCvNet::Instance().isConnected(url); }

int GetUrlInfo(const wchar_t* url, char* buffer, int bufferSize)
{
    return CCvNet::Instance().GetUrlInfo(url, buffer, bufferSize, 80);
}
