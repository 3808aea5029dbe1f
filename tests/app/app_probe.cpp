// Started by the application-object tests: takes one exit path of the
// process so that the test can read its exit code and output.
//   app_probe exitapp      ExitApp with a timer running
//   app_probe msgloop N    MsgLoop after a posted message and PostQuitMessage(N)
#include <cstdio>
#include <cwchar>
#include <cwctype>

#include "app/cvapp.h"
#include "ui/cvthread.h"

namespace {

struct SaysGoodbye {
    ~SaysGoodbye()
    {
        printf("exit-time destructor ran, exiting=%d\n", CCvApp::Instance().exiting ? 1 : 0);
        fflush(stdout);
    }
};

void Tick(void*) {}

LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_APP) {
        printf("dispatched %u\n", static_cast<unsigned>(wp));
        fflush(stdout);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) return 100;
    CCvApp& app = CCvApp::Instance();
    if (wcscmp(argv[1], L"exitapp") == 0) {
        static SaysGoodbye goodbye;  // constructed after the app: destroyed before it
        CCvThread::Instance().StartTimer(1, Tick, 5, nullptr);
        app.ExitApp();
    }
    if (wcscmp(argv[1], L"msgloop") == 0 && argc > 2) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = Proc;
        wc.hInstance = app.instance;
        wc.lpszClassName = L"app_probe";
        RegisterClassW(&wc);
        HWND w = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, app.instance, nullptr);
        PostMessageW(w, WM_APP, 5, 0);
        PostQuitMessage(_wtoi(argv[2]));
        return app.MsgLoop();
    }
    return 101;
}
