#include <gtest/gtest.h>

#include "base/cvhandle.h"
#include "support/pixels.h"
#include "support/test_support.h"
#include "ui/cvdc.h"

namespace {

const COLORREF kWhite = RGB(255, 255, 255);
const COLORREF kRed = RGB(255, 0, 0);

using cvtest::Canvas;

void Fill(HDC dc, int w, int h, COLORREF c)
{
    CvGdiObject<HBRUSH> brush(CreateSolidBrush(c));
    RECT rc = {0, 0, w, h};
    FillRect(dc, &rc, brush.get());
}

}  // namespace

// In plain mode memDC's (0, 0) lands at the rectangle's top-left on the
// target, and the copy covers the rectangle exactly.
TEST(CvDC, PlainCopyLandsAtTheRectangle)
{
    const RECT cases[] = {{0, 0, 20, 10}, {5, 7, 25, 17}, {30, 1, 31, 2}, {12, 20, 40, 40}};
    Canvas target(40, 40);
    for (const RECT& rc : cases) {
        SCOPED_TRACE(testing::Message() << rc.left << "," << rc.top << "," << rc.right << "," << rc.bottom);
        target.Fill(0xFFFFFF);
        CCvDC buf(target.dc(), rc, false, false, nullptr);
        ASSERT_NE(buf.memDC, nullptr);
        ASSERT_NE(buf.bitmap, nullptr);
        int w = rc.right - rc.left, h = rc.bottom - rc.top;
        Fill(buf.memDC, w, h, kRed);
        SetPixel(buf.memDC, 0, 0, RGB(0, 0, 255));
        buf.Draw();
        EXPECT_EQ(target.Color(rc.left, rc.top), RGB(0, 0, 255));
        EXPECT_EQ(target.Color(rc.right - 1, rc.bottom - 1), w * h > 1 ? kRed : RGB(0, 0, 255));
        if (rc.left > 0) {
            EXPECT_EQ(target.Color(rc.left - 1, rc.top), kWhite);
        }
        if (rc.top > 0) {
            EXPECT_EQ(target.Color(rc.left, rc.top - 1), kWhite);
        }
        if (rc.right < 40) {
            EXPECT_EQ(target.Color(rc.right, rc.bottom - 1), kWhite);
        }
        if (rc.bottom < 40) {
            EXPECT_EQ(target.Color(rc.right - 1, rc.bottom), kWhite);
        }
    }
}

// Each Draw copies; destruction copies once more only while draw-on-destroy
// is still set, and Draw clears it.
TEST(CvDC, CopiesMadeByDrawAndDestruction)
{
    struct Case {
        bool drawOnDestroy;
        int draws;
        bool copiedAtDestruction;
    };
    const Case cases[] = {{true, 0, true}, {true, 1, false}, {true, 2, false}, {false, 0, false}, {false, 2, false}};
    Canvas target(30, 30);
    const RECT rc = {10, 10, 20, 20};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "drawOnDestroy " << c.drawOnDestroy << " draws " << c.draws);
        target.Fill(0xFFFFFF);
        {
            CCvDC buf(target.dc(), rc, c.drawOnDestroy, false, nullptr);
            Fill(buf.memDC, 10, 10, kRed);
            for (int i = 0; i < c.draws; ++i) {
                target.Fill(0xFFFFFF);
                buf.Draw();
                EXPECT_EQ(target.Color(15, 15), kRed) << "draw " << i;
                EXPECT_FALSE(buf.drawOnDestroy);
            }
            target.Fill(0xFFFFFF);
        }
        EXPECT_EQ(target.Color(15, 15), c.copiedAtDestruction ? kRed : kWhite);
    }
}

// A real window as the target: the copy shows in its client area.
TEST(CvDC, PlainCopyIntoAWindow)
{
    HWND w = CreateWindowExW(WS_EX_TOPMOST, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 40, 40, 60, 60, nullptr, nullptr,
                             nullptr, nullptr);
    ASSERT_NE(w, nullptr);
    UpdateWindow(w);
    HDC dc = GetDC(w);
    Fill(dc, 60, 60, kWhite);
    {
        CCvDC buf(dc, RECT{10, 20, 30, 50}, true, false, nullptr);
        Fill(buf.memDC, 20, 30, RGB(0, 128, 0));
    }
    GdiFlush();
    EXPECT_EQ(GetPixel(dc, 10, 20), RGB(0, 128, 0));
    EXPECT_EQ(GetPixel(dc, 29, 49), RGB(0, 128, 0));
    EXPECT_EQ(GetPixel(dc, 9, 20), kWhite);
    EXPECT_EQ(GetPixel(dc, 30, 49), kWhite);
    ReleaseDC(w, dc);
    DestroyWindow(w);
}

TEST(CvDC, LayeredBufferIsABottomUp32BitSection)
{
    CCvDC buf(nullptr, RECT{3, 4, 53, 34}, false, true, nullptr);
    ASSERT_NE(buf.bitmap, nullptr);
    DIBSECTION ds = {};
    ASSERT_EQ(GetObjectW(buf.bitmap, sizeof ds, &ds), static_cast<int>(sizeof ds));
    EXPECT_EQ(ds.dsBmih.biWidth, 50);
    EXPECT_EQ(ds.dsBmih.biHeight, 30);  // positive: rows run bottom-up
    EXPECT_EQ(ds.dsBmih.biBitCount, 32);
    EXPECT_EQ(ds.dsBmih.biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_EQ(GetCurrentObject(buf.memDC, OBJ_BITMAP), buf.bitmap);
}

// Empty, inverted: no bitmap, and Draw touches nothing.
TEST(CvDC, EmptyRectanglesGiveNoBuffer)
{
    const RECT cases[] = {{5, 5, 5, 15}, {5, 5, 15, 5}, {15, 5, 5, 15}, {5, 15, 15, 5}};
    Canvas target(20, 20);
    for (const RECT& rc : cases) {
        for (bool layered : {false, true}) {
            CCvDC buf(target.dc(), rc, true, layered, nullptr);
            EXPECT_EQ(buf.bitmap, nullptr);
            EXPECT_EQ(buf.CreateCompatibleBitmapEx(rc), nullptr);
            buf.Draw();
        }
        EXPECT_EQ(target.Color(5, 5), kWhite);
    }
}

TEST(CvDC, EmptyObjectHoldsAndReleasesNothing)
{
    CCvDC buf;
    EXPECT_EQ(buf.memDC, nullptr);
    EXPECT_EQ(buf.bitmap, nullptr);
    EXPECT_EQ(buf.oldBitmap, nullptr);
    EXPECT_FALSE(buf.drawOnDestroy);
    buf.Draw();  // nothing to copy, nowhere to copy it
}

// Destruction frees the DC and bitmap; filling a filled object again frees
// the first pair instead of leaking it.
TEST(CvDC, HandlesAreFreedOnceAndNeverLeaked)
{
    Canvas target(20, 20);
    HDC firstDC;
    HBITMAP firstBmp;
    HDC secondDC;
    HBITMAP secondBmp;
    {
        CCvDC buf(target.dc(), RECT{0, 0, 10, 10}, false, false, nullptr);
        firstDC = buf.memDC;
        firstBmp = buf.bitmap;
        ASSERT_EQ(GetObjectType(firstDC), static_cast<DWORD>(OBJ_MEMDC));
        ASSERT_EQ(GetObjectType(firstBmp), static_cast<DWORD>(OBJ_BITMAP));
        buf.CreateMemDC(target.dc(), RECT{0, 0, 8, 8}, false, true, nullptr);
        EXPECT_EQ(GetObjectType(firstDC), 0u);
        EXPECT_EQ(GetObjectType(firstBmp), 0u);
        secondDC = buf.memDC;
        secondBmp = buf.bitmap;
        ASSERT_EQ(GetObjectType(secondBmp), static_cast<DWORD>(OBJ_BITMAP));
    }
    EXPECT_EQ(GetObjectType(secondDC), 0u);
    EXPECT_EQ(GetObjectType(secondBmp), 0u);
}

namespace {

// A layered pop-up window at (x, y), w × h, shown without activation.
HWND LayeredWindow(int x, int y, int w, int h)
{
    HWND wnd = CreateWindowExW(WS_EX_LAYERED | WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"STATIC", L"", WS_POPUP, x, y, w,
                               h, nullptr, nullptr, nullptr, nullptr);
    if (wnd) ShowWindow(wnd, SW_SHOWNOACTIVATE);
    return wnd;
}

COLORREF ScreenAt(int x, int y)
{
    HDC screen = GetDC(nullptr);
    COLORREF c = GetPixel(screen, x, y);
    ReleaseDC(nullptr, screen);
    return c;
}

// Fills a layered buffer (premultiplied 0xAARRGGBB, rows bottom-up) with
// one value per half: left and right.
void FillHalves(CCvDC& buf, DWORD left, DWORD right)
{
    DIBSECTION ds = {};
    GetObjectW(buf.bitmap, sizeof ds, &ds);
    DWORD* px = static_cast<DWORD*>(ds.dsBm.bmBits);
    int w = ds.dsBm.bmWidth, h = ds.dsBm.bmHeight;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) px[y * w + x] = x < w / 2 ? left : right;
}

// The screen's colour at (x, y) once it shows `expected`, or after 3 s
// whatever it shows then. Windows uncovered by a layered window repaint
// when the X server's expose events reach them, not at once.
COLORREF ScreenOnce(int x, int y, COLORREF expected)
{
    cvtest::PumpUntil([&] { return ScreenAt(x, y) == expected; }, 3000);
    return ScreenAt(x, y);
}

}  // namespace

// A layered window in front of a plain one: opaque pixels of the buffer show
// their colour, transparent ones let the window behind show, and the window keeps
// its place and size. The buffer may be given by the window's client
// rectangle or by its screen rectangle.
TEST(CvDC, LayeredDrawIsTheWindowsWholeImage)
{
    HWND back = CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 180, 130, 120, 100, nullptr,
                                nullptr, nullptr, nullptr);
    ASSERT_NE(back, nullptr);
    // The window behind paints itself in its class's background colour once
    // it is mapped; the bare screen is black.
    ASSERT_TRUE(cvtest::PumpUntil([] { return ScreenAt(190, 160) != RGB(0, 0, 0); }, 3000));
    const COLORREF behind = ScreenAt(190, 160);
    HWND wnd = LayeredWindow(200, 150, 80, 60);
    ASSERT_NE(wnd, nullptr);
    HDC screen = GetDC(nullptr);
    struct Case {
        RECT rc;
        DWORD left, right;  // premultiplied 0xAARRGGBB
        COLORREF seenLeft, seenRight;
    };
    const Case cases[] = {
        {{0, 0, 80, 60}, 0xFFFF0000, 0x00000000, kRed, behind},
        {{200, 150, 280, 210}, 0x00000000, 0xFF0000FF, behind, RGB(0, 0, 255)},
        {{0, 0, 80, 60}, 0xFF00FF00, 0xFF00FF00, RGB(0, 255, 0), RGB(0, 255, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.left << " " << c.right);
        {
            CCvDC buf(screen, c.rc, true, true, wnd);
            ASSERT_NE(buf.bitmap, nullptr);
            FillHalves(buf, c.left, c.right);
        }
        cvtest::PumpPending();
        EXPECT_EQ(ScreenOnce(210, 160, c.seenLeft), c.seenLeft);
        EXPECT_EQ(ScreenOnce(270, 200, c.seenRight), c.seenRight);
        EXPECT_EQ(ScreenAt(190, 160), behind);  // beside the window
        RECT wr;
        GetWindowRect(wnd, &wr);
        EXPECT_EQ(wr.left, 200);
        EXPECT_EQ(wr.top, 150);
        EXPECT_EQ(wr.right, 280);
        EXPECT_EQ(wr.bottom, 210);
    }

    ReleaseDC(nullptr, screen);
    DestroyWindow(wnd);
    DestroyWindow(back);
}
