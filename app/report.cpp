#include "app/report.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/cvhandle.h"
#include "base/cvnet.h"
#include "base/cvstr.h"

#ifndef CV_REPORT_SERVER
#define CV_REPORT_SERVER L"http://report.corvane.com"
#endif
#ifndef CV_HOME_PAGE
#define CV_HOME_PAGE L"http://www.corvane.com/"
#endif

namespace {

// The request block handed to the report thread: 660 bytes.
struct ReportBlock {
    wchar_t endpoint[200];
    wchar_t type[30];
    wchar_t value[100];
};
static_assert(sizeof(ReportBlock) == 660, "report block layout");

const wchar_t kUidKey[] = L"SOFTWARE\\Corvane";
constexpr size_t kEncodedRoom = 1024;  // encoded text and its terminator

bool Unreserved(unsigned char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return c != 0 && strchr("!'()*-./:_~%", c) != nullptr;
}

// An id of the form this program writes: "CV", the tick count (eight digits
// or more, with a sign when it did not fit an int), then two groups of five
// digits: 20 to 23 characters. A fresh id has 20 only while the tick count is
// below 100,000,000, so a machine that has run for more than a day writes
// longer ones, and those must be kept as well.
bool WellFormedUid(const wchar_t* id)
{
    size_t n = wcslen(id);
    if (n < 20 || n > 23 || id[0] != L'C' || id[1] != L'V') return false;
    for (size_t i = 2; i < n; ++i) {
        if (id[i] >= L'0' && id[i] <= L'9') continue;
        if (i == 2 && id[i] == L'-') continue;
        return false;
    }
    return true;
}

// A built-in setting. Bench and demo builds let the environment variable of
// the same name replace it, so that tests and the demo can point it at a
// server started on a port of their choosing; release builds have no such
// switch.
std::wstring BuildSetting(const wchar_t* name, const wchar_t* builtIn)
{
#ifdef CV_BENCH_HOOKS
    wchar_t value[200];
    DWORD n = GetEnvironmentVariableW(name, value, 200);
    if (n > 0 && n < 200) return value;
#else
    (void)name;
#endif
    return builtIn;
}

}  // namespace

const wchar_t* CvReportEndpoint()
{
    static const std::wstring endpoint = BuildSetting(L"CV_REPORT_SERVER", CV_REPORT_SERVER) + L"/api/report.asp";
    return endpoint.c_str();
}

const wchar_t* CvHomePage()
{
    static const std::wstring page = BuildSetting(L"CV_HOME_PAGE", CV_HOME_PAGE);
    return page.c_str();
}

void DoReport(const wchar_t* endpoint, const wchar_t* type, const wchar_t* value)
{
    if (!endpoint || !type || wcslen(type) >= 30) return;
    ReportBlock* block = static_cast<ReportBlock*>(calloc(1, sizeof(ReportBlock)));
    if (!block) return;
    // An endpoint that does not fit its field is not sent cut short.
    if (!CvStrCopy(block->endpoint, endpoint)) {
        free(block);
        return;
    }
    CvStrCopy(block->type, type);
    if (value && wcslen(value) < 100) CvStrCopy(block->value, value);
    HANDLE thread = CreateThread(nullptr, 0, ReportThread, block, 0, nullptr);
    if (!thread) {
        free(block);  // no thread will take it
        return;
    }
    CloseHandle(thread);
}

DWORD WINAPI ReportThread(LPVOID param)
{
    ReportBlock* block = static_cast<ReportBlock*>(param);
    if (!block) return 0;
    wchar_t uid[50];
    CreateUID(uid, 1);

    // Room for any encoded value of under 100 characters (at most nine
    // characters for each).
    wchar_t value[kEncodedRoom + 1];
    CvStrCopy(value, block->value);
    URLEncode(value, kEncodedRoom + 1);

    std::wstring body(64 + wcslen(block->type) + wcslen(value) + wcslen(uid), L'\0');
    int n = _snwprintf(&body[0], body.size(), L"type=%ls&value=%ls&uuid=%ls&sign=%d", block->type, value, uid,
                       static_cast<int>(GetTickCount()));
    body.resize(n > 0 ? static_cast<size_t>(n) : 0);

    std::string data = CvToThreadAnsi(body);
    char response[500] = {};
    CCvNet::Instance().Post(block->endpoint, data.data(), static_cast<int>(data.size()), response, sizeof(response),
                            80);
    free(block);
    return 0;
}

void CreateUID(wchar_t* buffer, int persist)
{
    srand(GetTickCount());
    int first = rand();
    int second = rand();
    wchar_t fresh[32];
    _snwprintf(fresh, 32, L"CV%08d%05d%05d", static_cast<int>(GetTickCount()), second, first);
    fresh[31] = L'\0';
    if (!persist) {
        CvStrCopy(buffer, 24, fresh);
        return;
    }

    wchar_t result[32];
    CvStrCopy(result, fresh);
    CvRegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kUidKey, 0, KEY_ALL_ACCESS, key.put()) == ERROR_SUCCESS) {
        wchar_t stored[50] = {};
        DWORD size = 30 * sizeof(wchar_t);
        LONG r = RegQueryValueExW(key.get(), L"UID", nullptr, nullptr, reinterpret_cast<BYTE*>(stored), &size);
        if (r == ERROR_SUCCESS && WellFormedUid(stored)) {
            CvStrCopy(result, stored);
        } else {
            RegSetValueExW(key.get(), L"UID", 0, REG_SZ, reinterpret_cast<const BYTE*>(fresh),
                           static_cast<DWORD>((wcslen(fresh) + 1) * sizeof(wchar_t)));
        }
    } else if (RegCreateKeyExW(HKEY_CURRENT_USER, kUidKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                               nullptr, key.put(), nullptr) == ERROR_SUCCESS) {
        RegSetValueExW(key.get(), L"UID", 0, REG_SZ, reinterpret_cast<const BYTE*>(fresh),
                       static_cast<DWORD>((wcslen(fresh) + 1) * sizeof(wchar_t)));
    }
    CvStrCopy(buffer, 24, result);
}

int URLEncode(wchar_t* text) { return URLEncode(text, kEncodedRoom); }

int URLEncode(wchar_t* text, size_t capacity)
{
    if (!text) return 0;
    if (!text[0]) return 1;
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return 0;
    std::string utf8(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &utf8[0], n, nullptr, nullptr);
    utf8.resize(static_cast<size_t>(n - 1));

    static const char kHex[] = "0123456789abcdef";
    std::wstring encoded;
    for (unsigned char c : utf8) {
        if (Unreserved(c)) {
            encoded += static_cast<wchar_t>(c);
        } else {
            encoded += L'%';
            encoded += static_cast<wchar_t>(kHex[c >> 4]);
            encoded += static_cast<wchar_t>(kHex[c & 15]);
        }
    }
    size_t room = capacity < kEncodedRoom ? capacity : kEncodedRoom;
    if (encoded.size() + 1 > room) return 0;
    memcpy(text, encoded.c_str(), (encoded.size() + 1) * sizeof(wchar_t));
    return 1;
}
