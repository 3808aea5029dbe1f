// The application object: what the whole process shares, its message loop
// and its one orderly exit.
#pragma once
#include <windows.h>

class CCvApp {
public:
    static CCvApp& Instance();

    CCvApp();
    ~CCvApp() {}
    CCvApp(const CCvApp&) = default;
    CCvApp& operator=(const CCvApp&) = default;

    // Copies the name into appName; a name of 200 characters or more is cut
    // to the first 199.
    void SetAppName(const wchar_t* name);
    // Dispatches the thread's messages until WM_QUIT; returns its exit code.
    int MsgLoop();
    // Stops the thread service, posts the quit message and ends the process
    // through the runtime's exit (code 0), running exit-time destructors.
    [[noreturn]] void ExitApp();
    // Draws (or, drawn again, removes) a one-line caret on the window.
    void DrawCaret(HWND window);

    HINSTANCE instance;
    HWND mainWnd;
    wchar_t programDir[261];
    wchar_t appName[200];
    bool exiting;
    int caretX;
    int caretY;
    int caretHeight;
    int caretPenWidth;
    COLORREF caretColor;
    HWND caretWnd;
    bool systemCursor;
};
