// The blocking HTTP client on WinINet: a reachability probe, GET and form
// POST with a fixed header block, connect retries, gzip decoding, and the
// proxy from proxy.dat beside the executable.
#pragma once
#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstdint>

// proxy.dat: exactly one record, 428 bytes, little-endian.
#pragma pack(push, 4)
struct tagProxyConfig {
    int32_t enabled;       // non-zero: use the proxy
    wchar_t host[100];
    wchar_t port[12];      // decimal digits
    wchar_t user[50];
    wchar_t password[50];
};
#pragma pack(pop)
static_assert(sizeof(tagProxyConfig) == 428, "proxy.dat layout");

class CCvNet {
public:
    // Constructed on first use (thread-safe: two report threads may arrive
    // together): loads proxy.dat and makes the codec ready.
    static CCvNet& Instance();
    ~CCvNet();
    CCvNet(const CCvNet&) = delete;
    CCvNet& operator=(const CCvNet&) = delete;

    // Clears the record and reads the first 428 bytes of proxy.dat into it.
    void LoadProxyConfig();
    // 1 when a GET of the URL received an HTTP response of any status.
    int isConnected(const wchar_t* url);
    // GET; the body is stored NUL-terminated in `buffer` (a single read for
    // buffers of 16,384 bytes or less). 1 when the transfer ran to its end.
    int GetUrlInfo(const wchar_t* url, char* buffer, int bufferSize, int port);
    // POST of `dataSize` bytes as an URL-encoded form; the answer as above.
    int Post(const wchar_t* url, const void* data, int dataSize, char* buffer, int bufferSize, int port);
    // 1 when the response's Content-Encoding is gzip.
    int isGzip(HINTERNET request);
    // Bytes of the body last stored by a transfer.
    int GetInfoLen();
    // Ends the read loop of every transfer, now and later, for good.
    void Stop();

    tagProxyConfig proxy;
    std::atomic<bool> stop{false};
    int32_t connectAttempts = 3;
    int32_t connectRetryDelay = 1000;  // milliseconds
    std::atomic<int32_t> infoLen{0};

private:
    CCvNet();
    HINTERNET OpenSession(bool logFailure);
    int Transfer(bool post, const wchar_t* url, const void* data, int dataSize, char* buffer, int bufferSize,
                 int port);
    void SetProxyCredentials(HINTERNET connection);
};

int isConnected(const wchar_t* url);
int GetUrlInfo(const wchar_t* url, char* buffer, int bufferSize);
