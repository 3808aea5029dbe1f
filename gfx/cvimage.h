// The image service: decodes images (module resources, files, streams) with
// GDI+ and draws them onto a caller's device context, whole, scaled, from a
// sub-rectangle, as one frame of a horizontal strip, three-sliced or
// nine-sliced, through a colour key or a colour matrix.
//
// One instance per process (Instance()); its constructor starts GDI+ and its
// destructor shuts it down. Nothing is cached: every call decodes its source
// and releases it before it returns. Drawing operations return false for a
// null device context and true otherwise, also when the source cannot be
// decoded (nothing is drawn then).
//
// Geometry: destinations are x, y, width, height in device units; a source
// rectangle is left, top, right, bottom in image pixels, right and bottom
// exclusive. Colour keys are ARGB values (0xAARRGGBB).
#pragma once
#include <windows.h>
#include <objidl.h>

#include <algorithm>
// The platform's GDI+ headers use unqualified min and max, which NOMINMAX
// removes from the global namespace.
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

#include "base/cvhandle.h"

// Owners of GDI+ objects (flat interface).
using CvGpImage = CvOwned<Gdiplus::GpImage*, &Gdiplus::DllExports::GdipDisposeImage>;
using CvGpGraphics = CvOwned<Gdiplus::GpGraphics*, &Gdiplus::DllExports::GdipDeleteGraphics>;
using CvGpImageAttributes =
    CvOwned<Gdiplus::GpImageAttributes*, &Gdiplus::DllExports::GdipDisposeImageAttributes>;
using CvGpBitmap = CvOwned<Gdiplus::GpBitmap*, &Gdiplus::DllExports::GdipDisposeImage>;

class CCvImage {
public:
    using GpImage = Gdiplus::GpImage;
    using GpImageAttributes = Gdiplus::GpImageAttributes;

    static CCvImage& Instance();

    CCvImage();  // starts GDI+
    ~CCvImage();  // sets the closing flag, shuts GDI+ down
    // The GDI+ token is the instance's own: a copy would shut GDI+ down twice.
    CCvImage(const CCvImage&) = delete;
    CCvImage& operator=(const CCvImage&) = delete;

    // True when GDI+ started.
    bool IsStarted() const { return started_; }
    // Set by the destructor; frame animations end when they see it.
    bool IsClosing() const { return closing_; }

    // The module whose resources the resource overloads search; without a
    // call, the executable's, fixed at the first resource load.
    void SetInst(HINSTANCE inst) { inst_ = inst; }
    HINSTANCE GetInst() const { return inst_; }

    // The core draw. w or h 0: the natural size (of the image, or of the
    // source rectangle when one is given). `src` null: the whole image.
    bool DrawImg(HDC dc, GpImage* image, int x, int y, int w, int h, const RECT* src,
                 GpImageAttributes* attributes);
    bool DrawImg(HDC dc, IStream* stream, int x, int y, int w, int h, const RECT* src);
    bool DrawImg(HDC dc, const wchar_t* path, int x, int y, int w, int h, const RECT* src);
    bool DrawImg(HDC dc, int id, const wchar_t* type, int x, int y, int w, int h, const RECT* src);

    // One frame (index, of `count` equal frames side by side) drawn plainly
    // (both edges below 1), three-sliced across (hEdge >= 1, vEdge < 1) or
    // nine-sliced (vEdge >= 1; each band three-sliced when hEdge >= 1).
    bool DrawStretchImg(HDC dc, GpImage* image, int x, int y, int w, int h, int hEdge, int count,
                        int index, int vEdge);
    bool DrawStretchImg(HDC dc, IStream* stream, int x, int y, int w, int h, int hEdge, int count,
                        int index, int vEdge);
    bool DrawStretchImg(HDC dc, const wchar_t* path, int x, int y, int w, int h, int hEdge,
                        int count, int index, int vEdge);
    bool DrawStretchImg(HDC dc, int id, const wchar_t* type, int x, int y, int w, int h, int hEdge,
                        int count, int index, int vEdge);

    // The whole image without the pixels whose red, green and blue each lie
    // between the low and the high key's (high key first).
    bool DrawTranImg(HDC dc, IStream* stream, unsigned long highKey, unsigned long lowKey, int x,
                     int y, int w, int h);
    bool DrawTranImg(HDC dc, const wchar_t* path, unsigned long highKey, unsigned long lowKey,
                     int x, int y, int w, int h);
    bool DrawTranImg(HDC dc, int id, const wchar_t* type, unsigned long highKey,
                     unsigned long lowKey, int x, int y, int w, int h);

    // The whole image with each channel scaled by its factor (alpha 0.5:
    // half opacity).
    bool DrawImgEx(HDC dc, IStream* stream, float red, float green, float blue, float alpha, int x,
                   int y, int w, int h);
    bool DrawImgEx(HDC dc, const wchar_t* path, float red, float green, float blue, float alpha,
                   int x, int y, int w, int h);
    bool DrawImgEx(HDC dc, int id, const wchar_t* type, float red, float green, float blue,
                   float alpha, int x, int y, int w, int h);

    // The pixel size of a file's or an "IMG" resource's image; 0 and 0 when
    // it cannot be decoded. Always true.
    bool GetImgSize(const wchar_t* path, int& width, int& height);
    bool GetImgSize(int id, int& width, int& height);
    // True when the file decodes to an image with a height above 0.
    bool CheckImage(const wchar_t* path);

    // Rotated images (angles in degrees, clockwise on the screen).
    // The image scaled into (x, y, w, h) (w or h 0: its natural size) and
    // turned about that rectangle's centre (x + w / 2, y + h / 2).
    bool DrawRotate(HDC dc, IStream* stream, int angle, int x, int y, int w, int h);
    bool DrawRotate(HDC dc, const wchar_t* path, int angle, int x, int y, int w, int h);
    bool DrawRotate(HDC dc, int id, const wchar_t* type, int angle, int x, int y, int w, int h);
    // The image turned or mirrored by `type`, then drawn like DrawImg (w or
    // h 0: the turned image's natural size) with its alpha scaled by
    // `opacity`.
    bool DrawRotateFlip(HDC dc, IStream* stream, int x, int y, int w, int h,
                        Gdiplus::RotateFlipType type, float opacity);
    bool DrawRotateFlip(HDC dc, const wchar_t* path, int x, int y, int w, int h,
                        Gdiplus::RotateFlipType type, float opacity);
    bool DrawRotateFlip(HDC dc, int id, const wchar_t* type, int x, int y, int w, int h,
                        Gdiplus::RotateFlipType flip, float opacity);
    // The image mapped onto the parallelogram whose upper-left, upper-right
    // and lower-left corners are the three points.
    void DrawRotate3D(HDC dc, IStream* stream, int x1, int y1, int x2, int y2, int x3, int y3);
    void DrawRotate3D(HDC dc, int id, const wchar_t* type, int x1, int y1, int x2, int y2, int x3,
                      int y3);

    // Text with GDI+: `colour` is 0x00BBGGRR, `alpha` 0..255. centre: centred
    // both ways; else left-aligned, vertically centred (with a line limit)
    // when `middle` is set. w and h both non-zero: inside that rectangle,
    // ending in an ellipsis when it does not fit; otherwise from (x, y).
    void DrawString(HDC dc, HFONT font, const wchar_t* text, int x, int y, int w, int h,
                    unsigned long colour, int alpha, bool centre, bool middle, int unused);
    // The size of the text on one line (GDI+), measured on the window's
    // device context; (0, 0) without one. `layout` does not affect it.
    SIZE GetStrSize(const wchar_t* text, HWND wnd, HFONT font, Gdiplus::RectF layout);
    // The width of the text: GDI's (GetTextExtentPoint32W) or GDI+'s.
    int GetStrWidth(const wchar_t* text, HWND wnd, HFONT font, bool useGdiPlus);

    // Export (gfx/cvimgexport.cpp). A format is a MIME subtype ("bmp",
    // "jpeg", "gif", "tiff", "png"); "image/" + format must name one of
    // GDI+'s encoders exactly (case-sensitive: "jpg" names none). Files and
    // streams are written with the encoder's defaults (no parameters). Each
    // returns true only when GDI+ wrote the whole image; false for a null or
    // empty argument, an undecodable source, a format without an encoder, an
    // empty region or a failed write.

    // The position of the encoder of `mimeType` (such as "image/png") in
    // GDI+'s list, its class id copied to `clsid`; -1 (`clsid` untouched)
    // when none matches or the list cannot be read.
    static int GetEncoderClsid(const wchar_t* mimeType, GUID* clsid);
    // The bitmap encoded into the stream from its current position; the
    // stream stays open, positioned after the image.
    bool BmToStream(HBITMAP bitmap, IStream* stream, const wchar_t* format);
    // The primary screen (SM_CXSCREEN x SM_CYSCREEN from (0, 0)).
    bool SaveScreen(const wchar_t* path, const wchar_t* format);
    // The rectangle's region of the device context (right - left by
    // bottom - top, both above 0).
    bool SavePic(HDC dc, RECT rect, const wchar_t* path, const wchar_t* format);
    // The window's client area; false for a null or destroyed window.
    bool SavePic(HWND wnd, const wchar_t* path, const wchar_t* format);
    // The source file converted to the format, at its own size.
    bool SavePic(const wchar_t* source, const wchar_t* path, const wchar_t* format);
    // The source file scaled: by `percent` when it is above 0 (width and
    // height ignored), else to width x height, where a 0 keeps the aspect
    // ratio from the other (sizes truncated towards zero). Saved as 32-bit
    // ARGB to `target`, or over the source when `target` is null, in
    // `format`, or JPEG when it is null. False, with the files untouched,
    // when the new size has no pixels.
    bool Zoom(const wchar_t* source, float percent, int width, int height, const wchar_t* target,
              const wchar_t* format);

private:
    // Saves the image to a file or stream with the encoder of "image/" +
    // format; false when there is none or the save fails.
    static bool SaveImage(GpImage* image, const wchar_t* path, const wchar_t* format);
    static bool SaveImage(GpImage* image, IStream* stream, const wchar_t* format);
    // The GDI bitmap (selected into no device context) saved to the file.
    static bool SaveBitmap(HBITMAP bitmap, const wchar_t* path, const wchar_t* format);

    // A newly decoded image of the resource (low 16 bits of id, type), or
    // null; the caller disposes of it.
    GpImage* LoadPngFromRes(int id, const wchar_t* type);
    static GpImage* LoadFile(const wchar_t* path);
    static GpImage* LoadStream(IStream* stream);

    void DrawSplitH(HDC dc, GpImage* image, int x, int y, int w, int h, const RECT& src, int edge);
    void DrawSplitV(HDC dc, GpImage* image, int x, int y, int w, int h, const RECT& src,
                    int vEdge, int hEdge);
    bool DrawRotate(HDC dc, GpImage* image, int angle, int x, int y, int w, int h);
    bool DrawRotateFlip(HDC dc, GpImage* image, int x, int y, int w, int h,
                        Gdiplus::RotateFlipType type, float opacity);
    void DrawRotate3D(HDC dc, GpImage* image, int x1, int y1, int x2, int y2, int x3, int y3);
    bool DrawWithAttributes(HDC dc, GpImage* image, GpImageAttributes* attributes, int x, int y,
                            int w, int h);
    static GpImageAttributes* ColorKeyAttributes(unsigned long highKey, unsigned long lowKey);
    static GpImageAttributes* ScaleAttributes(float red, float green, float blue, float alpha);

    Gdiplus::GdiplusStartupInput input_;  // version 1, defaults otherwise
    ULONG_PTR token_ = 0;
    bool started_ = false;
    bool closing_ = false;
    HINSTANCE inst_ = nullptr;
};

// GetStrWidth with GDI.
int CvGetStrWidth(const wchar_t* text, HWND wnd, HFONT font);
