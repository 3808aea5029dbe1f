#include "ui/cvdc.h"

CCvDC::CCvDC(HDC target, const RECT& rc, bool drawOnDestroy, bool layered, HWND hwnd)
{
    oldBitmap = nullptr;
    CreateMemDC(target, rc, drawOnDestroy, layered, hwnd);
}

CCvDC::~CCvDC()
{
    if (drawOnDestroy) Draw();
    Release();
}

void CCvDC::Release()
{
    if (memDC && oldBitmap) SelectObject(memDC, oldBitmap);
    if (bitmap) DeleteObject(bitmap);
    if (memDC) DeleteDC(memDC);
    memDC = nullptr;
    bitmap = nullptr;
    oldBitmap = nullptr;
}

void CCvDC::CreateMemDC(HDC target, const RECT& rc, bool drawOnDestroy_, bool layered_, HWND hwnd_)
{
    Release();
    targetDC = target;
    drawOnDestroy = drawOnDestroy_;
    layered = layered_;
    hwnd = hwnd_;
    rect = rc;

    memDC = CreateCompatibleDC(targetDC);
    if (layered)
        bitmap = CreateCompatibleBitmapEx(rect);
    else if (Width() > 0 && Height() > 0)
        bitmap = CreateCompatibleBitmap(targetDC, Width(), Height());
    if (memDC && bitmap) oldBitmap = SelectObject(memDC, bitmap);
}

HBITMAP CCvDC::CreateCompatibleBitmapEx(RECT rc)
{
    int width = rc.right - rc.left;
    int height = rc.bottom - rc.top;
    if (width <= 0 || height <= 0) return nullptr;  // a negative height would turn the rows top-down
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    return CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
}

void CCvDC::Draw()
{
    drawOnDestroy = false;
    if (!memDC || !bitmap) return;
    if (layered) {
        BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        RECT wr;
        if (!hwnd || !GetWindowRect(hwnd, &wr)) return;
        POINT dst = {wr.left, wr.top};
        SIZE size = {wr.right - wr.left, wr.bottom - wr.top};
        if (size.cx > Width() || size.cy > Height()) return;
        POINT src = {0, 0};
        UpdateLayeredWindow(hwnd, targetDC, &dst, &size, memDC, &src, 0, &blend, ULW_ALPHA);
    } else {
        BitBlt(targetDC, rect.left, rect.top, Width(), Height(), memDC, 0, 0, SRCCOPY);
    }
}
