// Pixels that the drawing tests draw on and read back: 32-bit DIB canvases,
// BMP file bytes made from a function, and memory streams.
#pragma once
#include <windows.h>
#include <objbase.h>

#include <cstdint>
#include <functional>
#include <string>

#include "base/cvhandle.h"

namespace cvtest {

using Rgb = uint32_t;  // 0xRRGGBB
using PixelFn = std::function<Rgb(int x, int y)>;

// A 32-bit top-down DIB section of w x h pixels; *bits receives its pixels
// (0x00RRGGBB each, rows from the top). Null when it cannot be made.
HBITMAP NewDib32(int w, int h, void** bits);

// A 32-bit top-down DIB section and a memory device context for it: a target
// whose pixels the test writes and reads directly. The bitmap is selected
// into the context the first time dc() is asked for, not before: GDI+ must
// not be given a bitmap that is or was selected into a context, so a canvas
// handed over only as bitmap() never is.
class Canvas {
public:
    Canvas(int w, int h, Rgb fill = 0xFFFFFF);
    Canvas(int w, int h, const PixelFn& fn);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC dc() const;
    HBITMAP bitmap() const { return bmp_.get(); }
    int w() const { return w_; }
    int h() const { return h_; }

    // The pixel once GDI has finished drawing: as 0xRRGGBB, and as GDI's
    // COLORREF (0x00BBGGRR, comparable with RGB()).
    Rgb at(int x, int y) const;
    COLORREF Color(int x, int y) const;
    // Pixels equal to c.
    int Count(Rgb c) const;
    // Same size and same colours everywhere (the unused top byte aside).
    bool operator==(const Canvas& o) const;

    void Fill(Rgb c);
    void Paint(const PixelFn& fn);

private:
    int w_, h_;
    DWORD* bits_ = nullptr;
    CvBitmap bmp_;
    CvMemDC dc_;
    mutable HGDIOBJ old_ = nullptr;
};

// A 24-bit bottom-up BMP file, header included, of the function's pixels.
std::string Bmp24(int w, int h, const PixelFn& fn);

// A new memory stream holding `bytes`, positioned at its start; the caller
// releases it. Inline, so that only the programs that use it need ole32.
inline IStream* StreamOf(const std::string& bytes)
{
    IStream* s = nullptr;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &s))) return nullptr;
    ULONG written = 0;
    if (!bytes.empty()) s->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
    LARGE_INTEGER zero = {};
    s->Seek(zero, STREAM_SEEK_SET, nullptr);
    return s;
}

}  // namespace cvtest
