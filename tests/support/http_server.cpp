#include <winsock2.h>

#include "support/http_server.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "base/cvhandle.h"
#include "support/test_support.h"

namespace cvtest {

namespace {

struct SocketTraits {
    using type = SOCKET;
    static type invalid() { return INVALID_SOCKET; }
    static void close(type s) { ::closesocket(s); }
};
using Socket = CvScoped<SocketTraits>;

// Winsock for the whole program, started on first use.
bool WinsockReady()
{
    struct Winsock {
        bool ok = false;
        Winsock()
        {
            WSADATA data;
            ok = WSAStartup(MAKEWORD(2, 2), &data) == 0;
        }
        ~Winsock()
        {
            if (ok) WSACleanup();
        }
    };
    static Winsock winsock;
    return winsock.ok;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

const std::pair<std::string, std::string>* Find(const std::vector<std::pair<std::string, std::string>>& headers,
                                                const std::string& name)
{
    for (const auto& h : headers)
        if (SameName(h.first, name)) return &h;
    return nullptr;
}

// ---------------------------------------------------------------------------
// JSON, as the control API writes it: ASCII only, and each character of a
// string stands for one byte (U+0000..U+00FF), so strings come back as the
// bytes the server received. Anything else is refused rather than guessed.

struct Json {
    enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<Json> items;        // Array; Object: the values
    std::vector<std::string> keys;  // Object: the names, beside their values

    const Json* Get(const char* key) const
    {
        for (size_t i = 0; i < keys.size(); ++i)
            if (keys[i] == key) return &items[i];
        return nullptr;
    }
};

class JsonReader {
public:
    explicit JsonReader(const std::string& s) : s_(s) {}

    bool Read(Json* out)
    {
        SkipSpace();
        if (!Value(out, 0)) return false;
        SkipSpace();
        return pos_ == s_.size();
    }
    size_t where() const { return pos_; }

private:
    static constexpr int kMaxDepth = 32;

    void SkipSpace()
    {
        while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
            ++pos_;
    }
    bool Take(char c)
    {
        if (pos_ < s_.size() && s_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    bool Literal(const char* word)
    {
        size_t n = strlen(word);
        if (s_.compare(pos_, n, word) != 0) return false;
        pos_ += n;
        return true;
    }
    bool Value(Json* v, int depth)
    {
        if (pos_ >= s_.size() || depth > kMaxDepth) return false;
        char c = s_[pos_];
        if (c == '"') {
            v->kind = Json::String;
            return String(&v->text);
        }
        if (c == '[') return Array(v, depth);
        if (c == '{') return Object(v, depth);
        if (c == '-' || (c >= '0' && c <= '9')) return Number(v);
        if (Literal("true")) {
            v->kind = Json::Bool;
            v->boolean = true;
            return true;
        }
        if (Literal("false")) {
            v->kind = Json::Bool;
            return true;
        }
        if (Literal("null")) {
            v->kind = Json::Null;
            return true;
        }
        return false;
    }
    bool Digits()
    {
        size_t start = pos_;
        while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
        return pos_ > start;
    }
    bool Number(Json* v)
    {
        size_t start = pos_;
        Take('-');
        if (!Take('0') && !Digits()) return false;
        if (Take('.') && !Digits()) return false;
        if (Take('e') || Take('E')) {
            if (!Take('+')) Take('-');
            if (!Digits()) return false;
        }
        v->kind = Json::Number;
        v->number = strtod(s_.substr(start, pos_ - start).c_str(), nullptr);
        return true;
    }
    static int Hex(char c)
    {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }
    bool String(std::string* out)
    {
        if (!Take('"')) return false;
        out->clear();
        while (pos_ < s_.size()) {
            unsigned char c = static_cast<unsigned char>(s_[pos_++]);
            if (c == '"') return true;
            if (c < 0x20 || c >= 0x80) return false;
            if (c != '\\') {
                out->push_back(static_cast<char>(c));
                continue;
            }
            if (pos_ >= s_.size()) return false;
            char e = s_[pos_++];
            switch (e) {
            case '"': out->push_back('"'); break;
            case '\\': out->push_back('\\'); break;
            case '/': out->push_back('/'); break;
            case 'b': out->push_back('\b'); break;
            case 'f': out->push_back('\f'); break;
            case 'n': out->push_back('\n'); break;
            case 'r': out->push_back('\r'); break;
            case 't': out->push_back('\t'); break;
            case 'u': {
                if (s_.size() - pos_ < 4) return false;
                int cp = 0;
                for (int i = 0; i < 4; ++i) {
                    int h = Hex(s_[pos_++]);
                    if (h < 0) return false;
                    cp = cp * 16 + h;
                }
                if (cp > 0xFF) return false;  // no byte: the server never writes one
                out->push_back(static_cast<char>(cp));
                break;
            }
            default: return false;
            }
        }
        return false;  // no closing quote
    }
    bool Array(Json* v, int depth)
    {
        Take('[');
        v->kind = Json::Array;
        SkipSpace();
        if (Take(']')) return true;
        for (;;) {
            v->items.emplace_back();
            SkipSpace();
            if (!Value(&v->items.back(), depth + 1)) return false;
            SkipSpace();
            if (Take(']')) return true;
            if (!Take(',')) return false;
        }
    }
    bool Object(Json* v, int depth)
    {
        Take('{');
        v->kind = Json::Object;
        SkipSpace();
        if (Take('}')) return true;
        for (;;) {
            SkipSpace();
            v->keys.emplace_back();
            if (!String(&v->keys.back())) return false;
            SkipSpace();
            if (!Take(':')) return false;
            SkipSpace();
            v->items.emplace_back();
            if (!Value(&v->items.back(), depth + 1)) return false;
            SkipSpace();
            if (Take('}')) return true;
            if (!Take(',')) return false;
        }
    }

    const std::string& s_;
    size_t pos_ = 0;
};

// A JSON string for the control API: bytes outside printable ASCII become
// \u00XX, which the server turns back into those bytes.
std::string JsonString(const std::string& bytes)
{
    static const char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (char ch : bytes) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c >= 0x7F) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

bool ToRequest(const Json& j, HttpRequest* r)
{
    if (j.kind != Json::Object) return false;
    struct Field {
        const char* name;
        std::string* into;
    } fields[] = {{"method", &r->method}, {"target", &r->target}, {"version", &r->version}, {"peer", &r->peer}};
    for (const Field& f : fields) {
        const Json* v = j.Get(f.name);
        if (!v || v->kind != Json::String) return false;
        *f.into = v->text;
    }
    const Json* body = j.Get("body_b64");
    if (!body || body->kind != Json::String || !Base64Decode(body->text, &r->body)) return false;
    const Json* headers = j.Get("headers");
    if (!headers || headers->kind != Json::Array) return false;
    for (const Json& h : headers->items) {
        if (h.kind != Json::Array || h.items.size() != 2 || h.items[0].kind != Json::String ||
            h.items[1].kind != Json::String)
            return false;
        r->headers.emplace_back(h.items[0].text, h.items[1].text);
    }
    return true;
}

// One call of the control API; fails the test unless it is answered 200.
bool Control(int port, const char* method, const char* what, const std::string& body, std::string* answer = nullptr)
{
    if (!port) {
        ADD_FAILURE() << "no loopback server for /__control/" << what;
        return false;
    }
    std::string request = std::string(method) + " /__control/" + what + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                          std::to_string(port) + "\r\nContent-Length: " + std::to_string(body.size()) +
                          "\r\nConnection: close\r\n\r\n" + body;
    RawExchange ex = SendRaw(port, request);
    HttpResponse response = ParseResponse(ex.response);
    if (response.status != 200) {
        ADD_FAILURE() << "loopback server, /__control/" << what << ": "
                      << (ex.sent ? (response.status ? "answered " + std::to_string(response.status) + " " +
                                                           response.body
                                                     : "no complete answer")
                                  : "cannot connect to port " + std::to_string(port));
        return false;
    }
    if (answer) *answer = response.body;
    return true;
}

bool FetchRequests(int port, std::vector<HttpRequest>* out)
{
    out->clear();
    std::string text;
    if (!Control(port, "GET", "requests", "", &text)) return false;
    Json all;
    JsonReader reader(text);
    if (!reader.Read(&all) || all.kind != Json::Array) {
        ADD_FAILURE() << "loopback server: unreadable request list near byte " << reader.where();
        return false;
    }
    for (const Json& j : all.items) {
        HttpRequest r;
        if (!ToRequest(j, &r)) {
            ADD_FAILURE() << "loopback server: a recorded request without its fields";
            out->clear();
            return false;
        }
        out->push_back(std::move(r));
    }
    return true;
}

}  // namespace

std::string HttpRequest::Header(const std::string& name) const
{
    const auto* h = Find(headers, name);
    return h ? h->second : std::string();
}

bool HttpRequest::HasHeader(const std::string& name) const { return Find(headers, name) != nullptr; }

std::string HttpResponse::Header(const std::string& name) const
{
    const auto* h = Find(headers, name);
    return h ? h->second : std::string();
}

bool HttpResponse::HasHeader(const std::string& name) const { return Find(headers, name) != nullptr; }

HttpServer::HttpServer()
{
    wchar_t unixDir[MAX_PATH] = {};
    DWORD n = GetEnvironmentVariableW(L"CV_HTTPD_DIR", unixDir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        ADD_FAILURE() << "CV_HTTPD_DIR is not set: the test program needs cv_test(... HTTPD)";
        return;
    }
    // Wine hands the Unix path over as it is; Z: is the Unix root.
    std::wstring dir = std::wstring(L"Z:") + unixDir;
    for (wchar_t& c : dir)
        if (c == L'/') c = L'\\';
    std::wstring portFile = dir + L"\\port";
    CvFileHandle f(CreateFileW(portFile.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, 0, nullptr));
    char buf[16] = {};
    DWORD got = 0;
    if (!f || !ReadFile(f.get(), buf, sizeof(buf) - 1, &got, nullptr)) {
        ADD_FAILURE() << "no loopback server: cannot read " << Narrow(portFile);
        return;
    }
    int port = atoi(buf);
    if (port <= 0 || port > 65535) {
        ADD_FAILURE() << "no loopback server: " << Narrow(portFile) << " holds \"" << buf << "\"";
        return;
    }
    port_ = port;
    Reset();
}

std::string HttpServer::base() const { return "http://127.0.0.1:" + std::to_string(port_); }

std::wstring HttpServer::wbase() const { return L"http://127.0.0.1:" + std::to_wstring(port_); }

void HttpServer::Reset() { Control(port_, "POST", "reset", ""); }

void HttpServer::Queue(const HttpReply& reply)
{
    auto flag = [](bool b) { return b ? "true" : "false"; };
    std::string json = "{\"status\":" + std::to_string(reply.status) + ",\"reason\":" + JsonString(reply.reason) +
                       ",\"headers\":[";
    for (size_t i = 0; i < reply.headers.size(); ++i) {
        if (i) json += ",";
        json += "[" + JsonString(reply.headers[i].first) + "," + JsonString(reply.headers[i].second) + "]";
    }
    json += "],\"body_b64\":\"" + Base64Encode(reply.body) + "\",\"gzip\":" + flag(reply.gzip) +
            ",\"gzip_no_header\":" + flag(reply.gzipNoHeader) + ",\"delay_ms\":" + std::to_string(reply.delayMs) +
            ",\"drop\":" + flag(reply.drop) + ",\"require_proxy_auth\":" + flag(reply.requireProxyAuth) + "}";
    Control(port_, "POST", "queue", json);
}

std::vector<HttpRequest> HttpServer::Requests()
{
    std::vector<HttpRequest> requests;
    FetchRequests(port_, &requests);
    return requests;
}

std::vector<HttpRequest> HttpServer::WaitForRequests(size_t n, DWORD timeoutMs)
{
    std::vector<HttpRequest> requests;
    DWORD start = GetTickCount();
    while (FetchRequests(port_, &requests) && requests.size() < n && GetTickCount() - start < timeoutMs) Sleep(20);
    return requests;
}

RawExchange SendRaw(int port, const std::string& request, DWORD timeoutMs)
{
    RawExchange ex;
    if (!WinsockReady()) return ex;
    Socket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!s) return ex;
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<u_short>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) return ex;
    for (size_t off = 0; off < request.size();) {
        size_t chunk = request.size() - off < 65536 ? request.size() - off : 65536;
        int n = send(s.get(), request.data() + off, static_cast<int>(chunk), 0);
        if (n <= 0) return ex;
        off += static_cast<size_t>(n);
    }
    ex.sent = true;
    shutdown(s.get(), SD_SEND);  // the request is whole: a short body ends here

    char buf[8192];
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) break;
        DWORD left = timeoutMs - elapsed;
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(s.get(), &readable);
        timeval tv = {static_cast<long>(left / 1000), static_cast<long>((left % 1000) * 1000)};
        int ready = select(0, &readable, nullptr, nullptr, &tv);
        if (ready < 0) break;
        if (ready == 0) continue;
        int n = recv(s.get(), buf, sizeof(buf), 0);
        if (n > 0) {
            ex.response.append(buf, static_cast<size_t>(n));
            continue;
        }
        ex.closed = true;  // 0: closed in order; an error: reset
        break;
    }
    return ex;
}

HttpResponse ParseResponse(const std::string& raw)
{
    HttpResponse r;
    size_t headEnd = raw.find("\r\n\r\n");
    if (headEnd == std::string::npos || raw.compare(0, 5, "HTTP/") != 0) return r;
    std::string head = raw.substr(0, headEnd + 2);
    size_t lineEnd = head.find("\r\n");
    std::string statusLine = head.substr(0, lineEnd);
    size_t sp1 = statusLine.find(' ');
    if (sp1 == std::string::npos) return r;
    size_t sp2 = statusLine.find(' ', sp1 + 1);
    std::string code = statusLine.substr(sp1 + 1, sp2 == std::string::npos ? std::string::npos : sp2 - sp1 - 1);
    if (code.size() != 3 || code.find_first_not_of("0123456789") != std::string::npos) return r;
    if (sp2 != std::string::npos) r.reason = statusLine.substr(sp2 + 1);
    for (size_t pos = lineEnd + 2; pos < head.size();) {
        size_t end = head.find("\r\n", pos);
        std::string line = head.substr(pos, end - pos);
        pos = end + 2;
        size_t colon = line.find(':');
        if (colon == std::string::npos) return r;
        size_t v = line.find_first_not_of(" \t", colon + 1);
        size_t vEnd = line.find_last_not_of(" \t");
        r.headers.emplace_back(line.substr(0, colon),
                               v == std::string::npos || vEnd < v ? std::string() : line.substr(v, vEnd - v + 1));
    }
    r.body = raw.substr(headEnd + 4);
    if (const auto* length = Find(r.headers, "Content-Length")) {
        size_t n = strtoul(length->second.c_str(), nullptr, 10);
        if (r.body.size() < n) return HttpResponse();
        r.body.resize(n);
    }
    r.status = atoi(code.c_str());
    return r;
}

std::string Base64Encode(const std::string& bytes)
{
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8 |
                     static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (bytes.size() - i == 1) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += "==";
    } else if (bytes.size() - i == 2) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

bool Base64Decode(const std::string& text, std::string* bytes)
{
    auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    bytes->clear();
    if (text.size() % 4) return false;
    for (size_t i = 0; i < text.size(); i += 4) {
        bool last = i + 4 == text.size();
        int v[4];
        int pad = 0;
        for (int k = 0; k < 4; ++k) {
            char c = text[i + k];
            if (c == '=' && last && k >= 2) {
                v[k] = 0;
                ++pad;
            } else if (pad || (v[k] = value(c)) < 0) {
                return false;  // a character after padding, or not of the alphabet
            }
        }
        unsigned n = static_cast<unsigned>(v[0]) << 18 | static_cast<unsigned>(v[1]) << 12 |
                     static_cast<unsigned>(v[2]) << 6 | static_cast<unsigned>(v[3]);
        bytes->push_back(static_cast<char>(n >> 16));
        if (pad < 2) bytes->push_back(static_cast<char>((n >> 8) & 0xFF));
        if (pad < 1) bytes->push_back(static_cast<char>(n & 0xFF));
    }
    return true;
}

}  // namespace cvtest
