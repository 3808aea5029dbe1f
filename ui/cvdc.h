// The off-screen buffer behind all painting in the toolkit: a memory device
// context over a bitmap the size of a rectangle, copied to its target in one
// step (plain mode), or handed to a per-pixel-alpha layered window as its
// whole image (layered mode).
#pragma once
#include <windows.h>

class CCvDC {
public:
    HDC memDC = nullptr;       // callers draw into it directly
    HDC targetDC = nullptr;    // the destination of Draw
    RECT rect = {0, 0, 0, 0};  // the buffer's place and size on the target
    HBITMAP bitmap = nullptr;  // selected into memDC
    HGDIOBJ oldBitmap = nullptr;
    bool drawOnDestroy = false;  // the destructor draws while this is set
    bool layered = false;
    HWND hwnd = nullptr;  // the layered window (layered mode only)

    // Empty until CreateMemDC; destroying it then releases nothing.
    CCvDC() = default;
    CCvDC(HDC target, const RECT& rc, bool drawOnDestroy, bool layered, HWND hwnd);
    ~CCvDC();
    // The object owns a device context and a bitmap: a copy would free them
    // twice.
    CCvDC(const CCvDC&) = delete;
    CCvDC& operator=(const CCvDC&) = delete;

    // Fills the object. One that is already filled first lets go of what it
    // holds (without drawing). An empty or inverted rectangle gives no
    // bitmap, and Draw then copies nothing.
    void CreateMemDC(HDC target, const RECT& rc, bool drawOnDestroy, bool layered, HWND hwnd);
    // A 32-bit bottom-up DIB section of the rectangle's size; null when the
    // rectangle is empty or inverted or the section cannot be made.
    HBITMAP CreateCompatibleBitmapEx(RECT rc);
    // Copies the buffer: block copy to (rect.left, rect.top) of the target,
    // or, layered, UpdateLayeredWindow with the window's own position and
    // size. A layered update needs a buffer at least as large as the window
    // (the platform would otherwise read past it) and is skipped without one.
    // Either way drawOnDestroy is cleared.
    void Draw();

    int Width() const { return rect.right - rect.left; }
    int Height() const { return rect.bottom - rect.top; }

private:
    void Release();
};
