#include "app/cvapp.h"

#include <cstdlib>

#include "base/cvstr.h"
#include "shell/folders.h"
#include "ui/cvthread.h"

CCvApp& CCvApp::Instance()
{
    static CCvApp app;
    return app;
}

CCvApp::CCvApp()
    : instance(GetModuleHandleW(nullptr)), mainWnd(nullptr), programDir(), appName(), exiting(false), caretX(-1),
      caretY(-1), caretHeight(20), caretPenWidth(1), caretColor(0), caretWnd(nullptr), systemCursor(true)
{
    GetCurPath(programDir);
}

void CCvApp::SetAppName(const wchar_t* name)
{
    CvStrCopy(appName, name);
}

int CCvApp::MsgLoop()
{
    MSG msg = {};
    BOOL got;
    // GetMessageW gives -1 on an error (never for a null window filter);
    // treat it as the end rather than spinning on it.
    while ((got = GetMessageW(&msg, nullptr, 0, 0)) != 0 && got != -1) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

void CCvApp::ExitApp()
{
    CCvThread::Instance().Stop();
    exiting = true;
    PostQuitMessage(0);
    exit(0);
}

void CCvApp::DrawCaret(HWND window)
{
    caretWnd = window;
    if (!window) return;  // GetDC(nullptr) would be the whole screen
    HDC dc = GetDC(window);
    if (!dc) return;
    HPEN pen = CreatePen(PS_SOLID, caretPenWidth, caretColor);
    HGDIOBJ oldPen = SelectObject(dc, pen);
    int oldMode = SetROP2(dc, R2_NOTXORPEN);
    MoveToEx(dc, caretX, caretY, nullptr);
    LineTo(dc, caretX, caretY + caretHeight);
    SetROP2(dc, oldMode);
    SelectObject(dc, oldPen);
    DeleteObject(pen);
    ReleaseDC(window, dc);
}
