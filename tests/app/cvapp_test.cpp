#include <gtest/gtest.h>

#include <string>

#include "app/cvapp.h"
#include "support/test_support.h"

TEST(CvApp, OneObjectWithTheProgramsFolderAndName)
{
    CCvApp& app = CCvApp::Instance();
    EXPECT_EQ(app.instance, GetModuleHandleW(nullptr));
    EXPECT_EQ(std::wstring(app.programDir), cvtest::BinDir());
    EXPECT_EQ(app.caretX, -1);
    EXPECT_EQ(app.caretHeight, 20);
    EXPECT_TRUE(app.systemCursor);
    app.SetAppName(L"Uninstall");
    EXPECT_STREQ(CCvApp::Instance().appName, L"Uninstall");
    EXPECT_EQ(&CCvApp::Instance(), &app);
}

TEST(CvApp, LongNamesAreCutToTheField)
{
    CCvApp app;
    app.caretX = 12345;  // the field after appName and exiting is untouched
    std::wstring name(250, L'n');
    app.SetAppName(name.c_str());
    EXPECT_EQ(std::wstring(app.appName), std::wstring(199, L'n'));
    EXPECT_EQ(app.caretX, 12345);
    app.SetAppName(std::wstring(199, L'x').c_str());
    EXPECT_EQ(std::wstring(app.appName), std::wstring(199, L'x'));
}

TEST(CvApp, MsgLoopDispatchesAndReturnsTheQuitCode)
{
    auto r = cvtest::Run(cvtest::BinDir() + L"app_probe.exe", L"msgloop 17");
    EXPECT_EQ(r.exitCode, 17u) << r.output;
    EXPECT_NE(r.output.find("dispatched 5"), std::string::npos) << r.output;
}

TEST(CvApp, ExitAppEndsWithZeroThroughTheRuntimesExit)
{
    auto r = cvtest::Run(cvtest::BinDir() + L"app_probe.exe", L"exitapp");
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_NE(r.output.find("exit-time destructor ran, exiting=1"), std::string::npos) << r.output;
}

TEST(CvApp, DrawCaretTwiceLeavesTheWindowAsItWas)
{
    HWND w = CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 10, 10, 60, 60, nullptr, nullptr,
                             nullptr, nullptr);
    ASSERT_NE(w, nullptr);
    UpdateWindow(w);
    HDC dc = GetDC(w);
    RECT rc = {0, 0, 60, 60};
    FillRect(dc, &rc, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    GdiFlush();
    COLORREF before = GetPixel(dc, 20, 25);
    ASSERT_EQ(before, RGB(255, 255, 255));

    CCvApp app;
    app.caretX = 20;
    app.caretY = 10;
    app.caretHeight = 30;
    app.DrawCaret(w);
    GdiFlush();
    EXPECT_EQ(app.caretWnd, w);
    EXPECT_EQ(GetPixel(dc, 20, 25), RGB(0, 0, 0));     // on the caret line
    EXPECT_EQ(GetPixel(dc, 22, 25), before);           // beside it
    app.DrawCaret(w);
    GdiFlush();
    EXPECT_EQ(GetPixel(dc, 20, 25), before);
    ReleaseDC(w, dc);
    DestroyWindow(w);

    app.DrawCaret(nullptr);  // no window: nothing is drawn anywhere
    EXPECT_EQ(app.caretWnd, nullptr);
}
