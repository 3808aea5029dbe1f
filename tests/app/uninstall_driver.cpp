// Stands in for the uninstaller's window in the end-to-end tests: copied into
// a staged product folder as "Uninstall.exe", it starts the uninstall on the
// engine's worker thread, pumps messages, records every progress message to
// the file named by CV_RECORD_FILE ("sent N" or "posted N"), and removes
// itself on the posted 100, as the window does.
#include <windows.h>

#include <string>

#include "app/uninstaller.h"

namespace {

CCvUninstaller* g_engine = nullptr;
bool g_leaving = false;

void Record(const std::string& line)
{
    wchar_t file[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"CV_RECORD_FILE", file, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    HANDLE h = CreateFileW(file, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(h);
}

LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_UNINSTALL_PROGRESS) {
        bool sent = InSendMessage() != FALSE;
        Record((sent ? "sent " : "posted ") + std::to_string(wp));
        if (!sent && wp == 100 && !g_leaving) {
            g_leaving = true;
            Record("delete-self");
            g_engine->DeleteSelf();  // does not return when the script starts
            Record("script-not-written");
            PostQuitMessage(3);
        }
        return 0;
    }
    if (msg == WM_TIMER) {  // a safety net: never hang a test
        Record("timeout");
        PostQuitMessage(4);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

int wmain()
{
    static CCvUninstaller engine;
    g_engine = &engine;
    WNDCLASSW wc = {};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"cvUninstallDriver";
    RegisterClassW(&wc);
    HWND hwnd = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    SetTimer(hwnd, 1, 60000, nullptr);
    Record("start");
    engine.StartUninstall(hwnd, 1);
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
    return static_cast<int>(m.wParam);
}
