// A program that records how it was started, for the DoRun and at-job tests
// (it also stands in for at.exe). It appends "start show=N args=ARGS" to the
// file named by CV_RECORD_FILE, where N is the show command it was given
// (-1 for none) and ARGS its command line after the program name; when
// CV_RECORD_PID names a file, it writes its process id there; then, when
// CV_RECORD_GATE names an event, it waits (at most a minute) for that event;
// CV_RECORD_SLEEP_MS makes it take that long; and it appends "end" as its
// last act.
#include <windows.h>

#include <string>

namespace {

void Append(const std::wstring& file, const std::wstring& line)
{
    HANDLE h = CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    std::wstring text = line + L"\n";
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], n, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
}

std::wstring Env(const wchar_t* name)
{
    wchar_t buf[1024];
    DWORD n = GetEnvironmentVariableW(name, buf, 1024);
    return n && n < 1024 ? std::wstring(buf, n) : std::wstring();
}

// The command line after the program name and the blanks that follow it.
const wchar_t* Arguments()
{
    const wchar_t* p = GetCommandLineW();
    if (*p == L'"') {
        ++p;
        while (*p && *p != L'"') ++p;
        if (*p) ++p;
    } else {
        while (*p && *p != L' ' && *p != L'\t') ++p;
    }
    while (*p == L' ' || *p == L'\t') ++p;
    return p;
}

}  // namespace

int wmain()
{
    std::wstring file = Env(L"CV_RECORD_FILE");
    if (file.empty()) return 2;
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    GetStartupInfoW(&si);
    int show = (si.dwFlags & STARTF_USESHOWWINDOW) ? si.wShowWindow : -1;
    Append(file, L"start show=" + std::to_wstring(show) + L" args=" + Arguments());
    std::wstring pidFile = Env(L"CV_RECORD_PID");
    if (!pidFile.empty()) {
        DeleteFileW(pidFile.c_str());
        Append(pidFile, std::to_wstring(GetCurrentProcessId()));
    }
    std::wstring gate = Env(L"CV_RECORD_GATE");
    if (!gate.empty()) {
        HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, gate.c_str());
        if (event) {
            WaitForSingleObject(event, 60000);
            CloseHandle(event);
        }
    }
    std::wstring sleep = Env(L"CV_RECORD_SLEEP_MS");
    if (!sleep.empty()) Sleep(static_cast<DWORD>(_wtoi(sleep.c_str())));
    Append(file, L"end");
    return 0;
}
