// Image export: GDI bitmaps, screen and window regions and image files
// encoded with GDI+'s encoders.
#include "gfx/cvimage.h"

#include <cwchar>
#include <memory>
#include <new>
#include <string>

namespace gp = Gdiplus::DllExports;
using Gdiplus::GpBitmap;
using Gdiplus::GpImage;

namespace {

// "image/" + format; empty for a null or empty format.
std::wstring MimeOf(const wchar_t* format)
{
    if (!format || !*format) return std::wstring();
    return std::wstring(L"image/") + format;
}

bool Encoder(const wchar_t* format, CLSID* clsid)
{
    const std::wstring mime = MimeOf(format);
    return !mime.empty() && CCvImage::GetEncoderClsid(mime.c_str(), clsid) >= 0;
}

}  // namespace

int CCvImage::GetEncoderClsid(const wchar_t* mimeType, GUID* clsid)
{
    if (!mimeType || !clsid) return -1;
    UINT count = 0, size = 0;
    if (gp::GdipGetImageEncodersSize(&count, &size) != Gdiplus::Ok || size == 0 || count == 0)
        return -1;
    // The list is an array of ImageCodecInfo followed by the strings it
    // points to; operator new's alignment suits it.
    std::unique_ptr<unsigned char[]> bytes(new (std::nothrow) unsigned char[size]);
    if (!bytes) return -1;
    auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(bytes.get());
    if (gp::GdipGetImageEncoders(count, size, codecs) != Gdiplus::Ok) return -1;
    for (UINT i = 0; i < count; ++i) {
        if (codecs[i].MimeType && std::wcscmp(codecs[i].MimeType, mimeType) == 0) {
            *clsid = codecs[i].Clsid;
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool CCvImage::SaveImage(GpImage* image, const wchar_t* path, const wchar_t* format)
{
    CLSID clsid;
    if (!image || !path || !*path || !Encoder(format, &clsid)) return false;
    return gp::GdipSaveImageToFile(image, path, &clsid, nullptr) == Gdiplus::Ok;
}

bool CCvImage::SaveImage(GpImage* image, IStream* stream, const wchar_t* format)
{
    CLSID clsid;
    if (!image || !stream || !Encoder(format, &clsid)) return false;
    // Encoded into a private memory stream first and then written at the
    // caller's position: Wine's BMP encoder (8.0) seeks to the stream's start
    // for its file header, overwriting what lay before the position.
    IStream* raw = nullptr;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &raw)) || !raw) return false;
    CvComPtr<IStream> buffer(raw);
    if (gp::GdipSaveImageToStream(image, buffer.get(), &clsid, nullptr) != Gdiplus::Ok)
        return false;
    STATSTG st = {};
    HGLOBAL block = nullptr;
    if (FAILED(buffer.get()->Stat(&st, STATFLAG_NONAME)) || st.cbSize.HighPart != 0 ||
        st.cbSize.LowPart == 0 || FAILED(GetHGlobalFromStream(buffer.get(), &block)))
        return false;
    CvGlobalLock bytes(block);
    if (!bytes.get()) return false;
    ULONG written = 0;
    return SUCCEEDED(stream->Write(bytes.get(), st.cbSize.LowPart, &written)) &&
           written == st.cbSize.LowPart;
}

bool CCvImage::SaveBitmap(HBITMAP bitmap, const wchar_t* path, const wchar_t* format)
{
    if (!bitmap) return false;
    CvGpBitmap image;
    if (gp::GdipCreateBitmapFromHBITMAP(bitmap, nullptr, image.put()) != Gdiplus::Ok || !image)
        return false;
    return SaveImage(image.get(), path, format);
}

bool CCvImage::BmToStream(HBITMAP bitmap, IStream* stream, const wchar_t* format)
{
    if (!bitmap || !stream) return false;
    CvGpBitmap image;
    if (gp::GdipCreateBitmapFromHBITMAP(bitmap, nullptr, image.put()) != Gdiplus::Ok || !image)
        return false;
    return SaveImage(image.get(), stream, format);
}

bool CCvImage::SaveScreen(const wchar_t* path, const wchar_t* format)
{
    if (!path || !*path) return false;
    CvMemDC screen(CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr));
    if (!screen) return false;
    const int w = GetSystemMetrics(SM_CXSCREEN);
    const int h = GetSystemMetrics(SM_CYSCREEN);
    if (w <= 0 || h <= 0) return false;
    CvMemDC mem(CreateCompatibleDC(screen.get()));
    CvBitmap bitmap(CreateCompatibleBitmap(screen.get(), w, h));
    if (!mem || !bitmap) return false;
    {
        CvSelected selected(mem.get(), bitmap.get());
        if (!selected.ok() || !BitBlt(mem.get(), 0, 0, w, h, screen.get(), 0, 0, SRCCOPY))
            return false;
    }  // deselected: GDI+ must not wrap a bitmap selected into a context
    return SaveBitmap(bitmap.get(), path, format);
}

bool CCvImage::SavePic(HDC dc, RECT rect, const wchar_t* path, const wchar_t* format)
{
    if (!dc || !path || !*path) return false;
    const int w = rect.right - rect.left;
    const int h = rect.bottom - rect.top;
    // CreateCompatibleBitmap would make a 1x1 monochrome bitmap of an empty
    // region.
    if (w <= 0 || h <= 0) return false;
    CvMemDC mem(CreateCompatibleDC(dc));
    CvBitmap bitmap(CreateCompatibleBitmap(dc, w, h));
    if (!mem || !bitmap) return false;
    {
        CvSelected selected(mem.get(), bitmap.get());
        if (!selected.ok() || !BitBlt(mem.get(), 0, 0, w, h, dc, rect.left, rect.top, SRCCOPY))
            return false;
    }
    return SaveBitmap(bitmap.get(), path, format);
}

bool CCvImage::SavePic(HWND wnd, const wchar_t* path, const wchar_t* format)
{
    // GetDC(nullptr) is the whole screen's context: a null or stale window
    // must not silently become a screenshot.
    if (!wnd || !IsWindow(wnd)) return false;
    RECT client;
    if (!GetClientRect(wnd, &client)) return false;
    CvWindowDC dc(wnd);
    if (!dc.get()) return false;
    return SavePic(dc.get(), client, path, format);
}

bool CCvImage::SavePic(const wchar_t* source, const wchar_t* path, const wchar_t* format)
{
    CvGpImage image(LoadFile(source));
    return SaveImage(image.get(), path, format);
}

bool CCvImage::Zoom(const wchar_t* source, float percent, int width, int height,
                    const wchar_t* target, const wchar_t* format)
{
    if (!source || !*source) return false;
    if (!target || !*target) target = source;
    // The encoder is looked up before anything is written, so that a format
    // without one leaves an overwritten source intact.
    CLSID clsid;
    if (!Encoder(format && *format ? format : L"jpeg", &clsid)) return false;

    CvGpImage image(LoadFile(source));
    if (!image) return false;
    UINT iw = 0, ih = 0;
    gp::GdipGetImageWidth(image.get(), &iw);
    gp::GdipGetImageHeight(image.get(), &ih);
    if (iw == 0 || ih == 0) return false;
    const double sw = iw, sh = ih;
    double nw = width, nh = height;
    if (percent > 0) {
        nw = sw * percent / 100;
        nh = sh * percent / 100;
    } else if (width == 0) {
        nw = height / sh * sw;
    } else if (height == 0) {
        nh = width / sw * sh;
    }
    // Sizes beyond what a bitmap can hold, and sizes without a pixel, fail.
    if (!(nw >= 1 && nh >= 1 && nw <= 0x7FFF && nh <= 0x7FFF)) return false;
    const int w = static_cast<int>(nw);
    const int h = static_cast<int>(nh);

    CvGpBitmap scaled;
    if (gp::GdipCreateBitmapFromScan0(w, h, 0, PixelFormat32bppARGB, nullptr, scaled.put()) !=
            Gdiplus::Ok ||
        !scaled)
        return false;
    {
        CvGpGraphics g;
        if (gp::GdipGetImageGraphicsContext(scaled.get(), g.put()) != Gdiplus::Ok || !g)
            return false;
        gp::GdipSetInterpolationMode(g.get(), Gdiplus::InterpolationModeHighQualityBicubic);
        if (gp::GdipDrawImageRectI(g.get(), image.get(), 0, 0, w, h) != Gdiplus::Ok) return false;
    }
    image.reset();  // frees the source file, which may be the target
    return gp::GdipSaveImageToFile(scaled.get(), target, &clsid, nullptr) == Gdiplus::Ok;
}
