#include "gfx/cvimage.h"

#include <cstring>

namespace gp = Gdiplus::DllExports;
using Gdiplus::GpGraphics;
using Gdiplus::GpImage;
using Gdiplus::GpImageAttributes;

CCvImage& CCvImage::Instance()
{
    static CCvImage instance;
    return instance;
}

CCvImage::CCvImage()
{
    started_ = Gdiplus::GdiplusStartup(&token_, &input_, nullptr) == Gdiplus::Ok;
}

CCvImage::~CCvImage()
{
    closing_ = true;
    // A failed start-up hands out no token; shutting that down is undefined.
    if (started_) Gdiplus::GdiplusShutdown(token_);
    started_ = false;
}

GpImage* CCvImage::LoadFile(const wchar_t* path)
{
    if (!path || !*path) return nullptr;
    GpImage* image = nullptr;
    if (gp::GdipLoadImageFromFile(path, &image) != Gdiplus::Ok) return nullptr;
    return image;
}

GpImage* CCvImage::LoadStream(IStream* stream)
{
    if (!stream) return nullptr;
    GpImage* image = nullptr;
    if (gp::GdipLoadImageFromStream(stream, &image) != Gdiplus::Ok) return nullptr;
    return image;
}

GpImage* CCvImage::LoadPngFromRes(int id, const wchar_t* type)
{
    if (!type) return nullptr;
    if (!inst_) inst_ = GetModuleHandleW(nullptr);
    HRSRC info = FindResourceW(inst_, MAKEINTRESOURCEW(id & 0xFFFF), type);
    if (!info) return nullptr;
    HGLOBAL res = LoadResource(inst_, info);
    if (!res) return nullptr;
    const void* bytes = LockResource(res);
    DWORD size = SizeofResource(inst_, info);
    if (!bytes || size == 0) return nullptr;  // module resources need no freeing
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!block) return nullptr;
    void* dst = GlobalLock(block);
    if (!dst) {
        GlobalFree(block);
        return nullptr;
    }
    std::memcpy(dst, bytes, size);
    GlobalUnlock(block);
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(block, TRUE, &stream)) || !stream) {
        GlobalFree(block);  // not handed over: ours to free
        return nullptr;
    }
    CvComPtr<IStream> owned(stream);  // frees the block on its last release
    return LoadStream(owned.get());
}

bool CCvImage::DrawImg(HDC dc, GpImage* image, int x, int y, int w, int h, const RECT* src,
                       GpImageAttributes* attributes)
{
    if (!dc) return false;
    if (!image) return true;
    CvGpGraphics g;
    if (gp::GdipCreateFromHDC(dc, g.put()) != Gdiplus::Ok || !g) return true;
    int sx = 0, sy = 0, sw = 0, sh = 0;
    if (src) {
        sx = src->left;
        sy = src->top;
        sw = src->right - src->left;
        sh = src->bottom - src->top;
    } else {
        UINT iw = 0, ih = 0;
        gp::GdipGetImageWidth(image, &iw);
        gp::GdipGetImageHeight(image, &ih);
        sw = static_cast<int>(iw);
        sh = static_cast<int>(ih);
    }
    if (w == 0 || h == 0) {
        w = sw;
        h = sh;
    }
    gp::GdipDrawImageRectRectI(g.get(), image, x, y, w, h, sx, sy, sw, sh, Gdiplus::UnitPixel,
                               attributes, nullptr, nullptr);
    return true;
}

bool CCvImage::DrawImg(HDC dc, IStream* stream, int x, int y, int w, int h, const RECT* src)
{
    if (!dc) return false;
    CvGpImage image(LoadStream(stream));
    return DrawImg(dc, image.get(), x, y, w, h, src, nullptr);
}

bool CCvImage::DrawImg(HDC dc, const wchar_t* path, int x, int y, int w, int h, const RECT* src)
{
    if (!dc) return false;
    CvGpImage image(LoadFile(path));
    return DrawImg(dc, image.get(), x, y, w, h, src, nullptr);
}

bool CCvImage::DrawImg(HDC dc, int id, const wchar_t* type, int x, int y, int w, int h,
                       const RECT* src)
{
    if (!dc) return false;
    CvGpImage image(LoadPngFromRes(id, type));
    return DrawImg(dc, image.get(), x, y, w, h, src, nullptr);
}

bool CCvImage::DrawStretchImg(HDC dc, GpImage* image, int x, int y, int w, int h, int hEdge,
                              int count, int index, int vEdge)
{
    if (!dc) return false;
    if (!image) return true;
    UINT iw = 0, ih = 0;
    gp::GdipGetImageWidth(image, &iw);
    gp::GdipGetImageHeight(image, &ih);
    if (count < 1) count = 1;
    if (index >= count) index = count - 1;
    // A negative index would address columns left of the image.
    if (index < 0) index = 0;
    const int frame = static_cast<int>(iw) / count;
    RECT src;
    src.left = frame * index;
    src.top = 0;
    src.right = src.left + frame;
    src.bottom = static_cast<int>(ih);
    if (vEdge >= 1)
        DrawSplitV(dc, image, x, y, w, h, src, vEdge, hEdge);
    else if (hEdge < 1)
        DrawImg(dc, image, x, y, w, h, &src, nullptr);
    else
        DrawSplitH(dc, image, x, y, w, h, src, hEdge);
    return true;
}

bool CCvImage::DrawStretchImg(HDC dc, IStream* stream, int x, int y, int w, int h, int hEdge,
                              int count, int index, int vEdge)
{
    if (!dc) return false;
    CvGpImage image(LoadStream(stream));
    return DrawStretchImg(dc, image.get(), x, y, w, h, hEdge, count, index, vEdge);
}

bool CCvImage::DrawStretchImg(HDC dc, const wchar_t* path, int x, int y, int w, int h, int hEdge,
                              int count, int index, int vEdge)
{
    if (!dc) return false;
    CvGpImage image(LoadFile(path));
    return DrawStretchImg(dc, image.get(), x, y, w, h, hEdge, count, index, vEdge);
}

bool CCvImage::DrawStretchImg(HDC dc, int id, const wchar_t* type, int x, int y, int w, int h,
                              int hEdge, int count, int index, int vEdge)
{
    if (!dc) return false;
    CvGpImage image(LoadPngFromRes(id, type));
    return DrawStretchImg(dc, image.get(), x, y, w, h, hEdge, count, index, vEdge);
}

void CCvImage::DrawSplitH(HDC dc, GpImage* image, int x, int y, int w, int h, const RECT& src,
                          int edge)
{
    RECT part = src;
    part.right = src.left + edge;
    DrawImg(dc, image, x, y, edge, h, &part, nullptr);
    // The middle needs room on both sides; an edge wider than half the frame
    // leaves no middle columns (a reversed source would draw them mirrored).
    if (w - 2 * edge > 0 && src.right - src.left - 2 * edge > 0) {
        part.left = src.left + edge;
        part.right = src.right - edge;
        DrawImg(dc, image, x + edge, y, w - 2 * edge, h, &part, nullptr);
    }
    part.left = src.right - edge;
    part.right = src.right;
    DrawImg(dc, image, x + w - edge, y, edge, h, &part, nullptr);
}

void CCvImage::DrawSplitV(HDC dc, GpImage* image, int x, int y, int w, int h, const RECT& src,
                          int vEdge, int hEdge)
{
    auto band = [&](int top, int bottom, int dy, int dh) {
        RECT part = src;
        part.top = top;
        part.bottom = bottom;
        if (hEdge > 0)
            DrawSplitH(dc, image, x, dy, w, dh, part, hEdge);
        else
            DrawImg(dc, image, x, dy, w, dh, &part, nullptr);
    };
    band(src.top, src.top + vEdge, y, vEdge);
    if (h - 2 * vEdge > 0 && src.bottom - src.top - 2 * vEdge > 0)
        band(src.top + vEdge, src.bottom - vEdge, y + vEdge, h - 2 * vEdge);
    band(src.bottom - vEdge, src.bottom, y + h - vEdge, vEdge);
}

bool CCvImage::DrawWithAttributes(HDC dc, GpImage* image, GpImageAttributes* attributes, int x,
                                  int y, int w, int h)
{
    CvGpImageAttributes owned(attributes);
    CvGpImage img(image);
    return DrawImg(dc, img.get(), x, y, w, h, nullptr, owned.get());
}

GpImageAttributes* CCvImage::ColorKeyAttributes(unsigned long highKey, unsigned long lowKey)
{
    CvGpImageAttributes attr;
    if (gp::GdipCreateImageAttributes(attr.put()) != Gdiplus::Ok) return nullptr;
    gp::GdipSetImageAttributesColorKeys(attr.get(), Gdiplus::ColorAdjustTypeDefault, TRUE,
                                        static_cast<Gdiplus::ARGB>(lowKey),
                                        static_cast<Gdiplus::ARGB>(highKey));
    return attr.release();
}

GpImageAttributes* CCvImage::ScaleAttributes(float red, float green, float blue, float alpha)
{
    Gdiplus::ColorMatrix m;
    std::memset(&m, 0, sizeof m);
    m.m[0][0] = red;
    m.m[1][1] = green;
    m.m[2][2] = blue;
    m.m[3][3] = alpha;
    CvGpImageAttributes attr;
    if (gp::GdipCreateImageAttributes(attr.put()) != Gdiplus::Ok) return nullptr;
    gp::GdipSetImageAttributesColorMatrix(attr.get(), Gdiplus::ColorAdjustTypeDefault, TRUE, &m,
                                          nullptr, Gdiplus::ColorMatrixFlagsDefault);
    return attr.release();
}

bool CCvImage::DrawTranImg(HDC dc, IStream* stream, unsigned long highKey, unsigned long lowKey,
                           int x, int y, int w, int h)
{
    if (!dc) return false;
    return DrawWithAttributes(dc, LoadStream(stream), ColorKeyAttributes(highKey, lowKey), x, y,
                              w, h);
}

bool CCvImage::DrawTranImg(HDC dc, const wchar_t* path, unsigned long highKey,
                           unsigned long lowKey, int x, int y, int w, int h)
{
    if (!dc) return false;
    return DrawWithAttributes(dc, LoadFile(path), ColorKeyAttributes(highKey, lowKey), x, y, w,
                              h);
}

bool CCvImage::DrawTranImg(HDC dc, int id, const wchar_t* type, unsigned long highKey,
                           unsigned long lowKey, int x, int y, int w, int h)
{
    if (!dc) return false;
    return DrawWithAttributes(dc, LoadPngFromRes(id, type), ColorKeyAttributes(highKey, lowKey),
                              x, y, w, h);
}

bool CCvImage::DrawImgEx(HDC dc, IStream* stream, float red, float green, float blue, float alpha,
                         int x, int y, int w, int h)
{
    if (!dc) return false;
    return DrawWithAttributes(dc, LoadStream(stream), ScaleAttributes(red, green, blue, alpha), x,
                              y, w, h);
}

bool CCvImage::DrawImgEx(HDC dc, const wchar_t* path, float red, float green, float blue,
                         float alpha, int x, int y, int w, int h)
{
    if (!dc) return false;
    return DrawWithAttributes(dc, LoadFile(path), ScaleAttributes(red, green, blue, alpha), x, y,
                              w, h);
}

bool CCvImage::DrawImgEx(HDC dc, int id, const wchar_t* type, float red, float green, float blue,
                         float alpha, int x, int y, int w, int h)
{
    if (!dc) return false;
    return DrawWithAttributes(dc, LoadPngFromRes(id, type),
                              ScaleAttributes(red, green, blue, alpha), x, y, w, h);
}

namespace {
void SizeOf(GpImage* image, int& width, int& height)
{
    UINT w = 0, h = 0;
    if (image) {
        gp::GdipGetImageWidth(image, &w);
        gp::GdipGetImageHeight(image, &h);
    }
    width = static_cast<int>(w);
    height = static_cast<int>(h);
}
}  // namespace

bool CCvImage::GetImgSize(const wchar_t* path, int& width, int& height)
{
    CvGpImage image(LoadFile(path));
    SizeOf(image.get(), width, height);
    return true;
}

bool CCvImage::GetImgSize(int id, int& width, int& height)
{
    CvGpImage image(LoadPngFromRes(id, L"IMG"));
    SizeOf(image.get(), width, height);
    return true;
}

bool CCvImage::CheckImage(const wchar_t* path)
{
    int w = 0, h = 0;
    GetImgSize(path, w, h);
    return h > 0;
}

// ---- Rotated images ----

bool CCvImage::DrawRotate(HDC dc, GpImage* image, int angle, int x, int y, int w, int h)
{
    if (!dc) return false;
    if (!image) return true;
    CvGpGraphics g;
    if (gp::GdipCreateFromHDC(dc, g.put()) != Gdiplus::Ok || !g) return true;
    if (w == 0 || h == 0) SizeOf(image, w, h);
    const int cx = x + w / 2, cy = y + h / 2;
    gp::GdipTranslateWorldTransform(g.get(), static_cast<float>(cx), static_cast<float>(cy),
                                    Gdiplus::MatrixOrderPrepend);
    gp::GdipRotateWorldTransform(g.get(), static_cast<float>(angle), Gdiplus::MatrixOrderPrepend);
    gp::GdipTranslateWorldTransform(g.get(), static_cast<float>(-w / 2 - x),
                                    static_cast<float>(-h / 2 - y), Gdiplus::MatrixOrderPrepend);
    gp::GdipDrawImageRectI(g.get(), image, x, y, w, h);
    gp::GdipResetWorldTransform(g.get());
    return true;
}

bool CCvImage::DrawRotate(HDC dc, IStream* stream, int angle, int x, int y, int w, int h)
{
    if (!dc) return false;
    CvGpImage image(LoadStream(stream));
    return DrawRotate(dc, image.get(), angle, x, y, w, h);
}

bool CCvImage::DrawRotate(HDC dc, const wchar_t* path, int angle, int x, int y, int w, int h)
{
    if (!dc) return false;
    CvGpImage image(LoadFile(path));
    return DrawRotate(dc, image.get(), angle, x, y, w, h);
}

bool CCvImage::DrawRotate(HDC dc, int id, const wchar_t* type, int angle, int x, int y, int w,
                          int h)
{
    if (!dc) return false;
    CvGpImage image(LoadPngFromRes(id, type));
    return DrawRotate(dc, image.get(), angle, x, y, w, h);
}

bool CCvImage::DrawRotateFlip(HDC dc, GpImage* image, int x, int y, int w, int h,
                              Gdiplus::RotateFlipType type, float opacity)
{
    if (!dc) return false;
    if (!image) return true;
    gp::GdipImageRotateFlip(image, type);
    CvGpImageAttributes attr(ScaleAttributes(1, 1, 1, opacity));
    return DrawImg(dc, image, x, y, w, h, nullptr, attr.get());
}

bool CCvImage::DrawRotateFlip(HDC dc, IStream* stream, int x, int y, int w, int h,
                              Gdiplus::RotateFlipType type, float opacity)
{
    if (!dc) return false;
    CvGpImage image(LoadStream(stream));
    return DrawRotateFlip(dc, image.get(), x, y, w, h, type, opacity);
}

bool CCvImage::DrawRotateFlip(HDC dc, const wchar_t* path, int x, int y, int w, int h,
                              Gdiplus::RotateFlipType type, float opacity)
{
    if (!dc) return false;
    CvGpImage image(LoadFile(path));
    return DrawRotateFlip(dc, image.get(), x, y, w, h, type, opacity);
}

bool CCvImage::DrawRotateFlip(HDC dc, int id, const wchar_t* type, int x, int y, int w, int h,
                              Gdiplus::RotateFlipType flip, float opacity)
{
    if (!dc) return false;
    CvGpImage image(LoadPngFromRes(id, type));
    return DrawRotateFlip(dc, image.get(), x, y, w, h, flip, opacity);
}

void CCvImage::DrawRotate3D(HDC dc, GpImage* image, int x1, int y1, int x2, int y2, int x3, int y3)
{
    if (!dc || !image) return;
    CvGpGraphics g;
    if (gp::GdipCreateFromHDC(dc, g.put()) != Gdiplus::Ok || !g) return;
    gp::GdipSetSmoothingMode(g.get(), Gdiplus::SmoothingModeHighQuality);
    const Gdiplus::GpPoint points[3] = {{x1, y1}, {x2, y2}, {x3, y3}};
    gp::GdipDrawImagePointsI(g.get(), image, points, 3);
}

void CCvImage::DrawRotate3D(HDC dc, IStream* stream, int x1, int y1, int x2, int y2, int x3,
                            int y3)
{
    if (!dc || !stream) return;
    CvGpImage image(LoadStream(stream));
    DrawRotate3D(dc, image.get(), x1, y1, x2, y2, x3, y3);
}

void CCvImage::DrawRotate3D(HDC dc, int id, const wchar_t* type, int x1, int y1, int x2, int y2,
                            int x3, int y3)
{
    if (!dc) return;
    CvGpImage image(LoadPngFromRes(id, type));
    DrawRotate3D(dc, image.get(), x1, y1, x2, y2, x3, y3);
}

// ---- Text ----

namespace {
using CvGpFont = CvOwned<Gdiplus::GpFont*, &gp::GdipDeleteFont>;
using CvGpStringFormat = CvOwned<Gdiplus::GpStringFormat*, &gp::GdipDeleteStringFormat>;
using CvGpBrush = CvOwned<Gdiplus::GpBrush*, &gp::GdipDeleteBrush>;

// A GDI+ font for the GDI font (or, without one, the font selected in dc).
Gdiplus::GpFont* FontFor(HDC dc, HFONT font)
{
    Gdiplus::GpFont* f = nullptr;
    LOGFONTW lf;
    if (font && GetObjectW(font, sizeof lf, &lf) == static_cast<int>(sizeof lf)) {
        if (gp::GdipCreateFontFromLogfontW(dc, &lf, &f) != Gdiplus::Ok) f = nullptr;
    } else if (gp::GdipCreateFontFromDC(dc, &f) != Gdiplus::Ok) {
        f = nullptr;
    }
    return f;
}

Gdiplus::GpStringFormat* Format(Gdiplus::StringAlignment align, Gdiplus::StringAlignment line,
                                INT flags)
{
    Gdiplus::GpStringFormat* fmt = nullptr;
    if (gp::GdipCreateStringFormat(0, LANG_NEUTRAL, &fmt) != Gdiplus::Ok) return nullptr;
    gp::GdipSetStringFormatAlign(fmt, align);
    gp::GdipSetStringFormatLineAlign(fmt, line);
    gp::GdipSetStringFormatTrimming(fmt, Gdiplus::StringTrimmingEllipsisCharacter);
    gp::GdipSetStringFormatFlags(fmt, flags);
    return fmt;
}

// The GDI+ measure of one line of text on the window's device context;
// false without a device context or when GDI+ cannot measure.
bool Measure(const wchar_t* text, HWND wnd, HFONT font, Gdiplus::StringAlignment line,
             Gdiplus::RectF& box)
{
    box = Gdiplus::RectF();
    HDC dc = GetDC(wnd);
    if (!dc) return false;
    bool ok = false;
    {
        CvGpGraphics g;
        if (gp::GdipCreateFromHDC(dc, g.put()) == Gdiplus::Ok) {
            CvGpFont f(FontFor(dc, font));
            CvGpStringFormat fmt(Format(Gdiplus::StringAlignmentNear, line, 0x3800));
            Gdiplus::RectF origin(0, 0, 0, 0);
            ok = f && fmt &&
                 gp::GdipMeasureString(g.get(), text, -1, f.get(), &origin, fmt.get(), &box, nullptr,
                                       nullptr) == Gdiplus::Ok;
        }
    }
    ReleaseDC(wnd, dc);
    return ok;
}
}  // namespace

void CCvImage::DrawString(HDC dc, HFONT font, const wchar_t* text, int x, int y, int w, int h,
                          unsigned long colour, int alpha, bool centre, bool middle, int)
{
    if (!dc || !text) return;
    CvGpGraphics g;
    if (gp::GdipCreateFromHDC(dc, g.put()) != Gdiplus::Ok || !g) return;
    CvGpFont f(FontFor(dc, font));
    if (!f) return;
    using Gdiplus::StringAlignmentCenter;
    using Gdiplus::StringAlignmentNear;
    CvGpStringFormat fmt(Format(centre ? StringAlignmentCenter : StringAlignmentNear,
                                centre || middle ? StringAlignmentCenter : StringAlignmentNear,
                                middle ? Gdiplus::StringFormatFlagsLineLimit : 0));
    if (!fmt) return;
    const Gdiplus::ARGB argb = static_cast<Gdiplus::ARGB>(alpha & 0xFF) << 24 |
                               (colour & 0xFF) << 16 | ((colour >> 8) & 0xFF) << 8 |
                               ((colour >> 16) & 0xFF);
    Gdiplus::GpSolidFill* fill = nullptr;
    if (gp::GdipCreateSolidFill(argb, &fill) != Gdiplus::Ok) return;
    CvGpBrush brush(fill);
    gp::GdipSetTextRenderingHint(g.get(), Gdiplus::TextRenderingHintClearTypeGridFit);
    Gdiplus::RectF layout(static_cast<float>(x), static_cast<float>(y), 0, 0);
    if (w != 0 && h != 0) {
        layout.Width = static_cast<float>(w);
        layout.Height = static_cast<float>(h);
    }
    gp::GdipDrawString(g.get(), text, -1, f.get(), &layout, fmt.get(), brush.get());
}

SIZE CCvImage::GetStrSize(const wchar_t* text, HWND wnd, HFONT font, Gdiplus::RectF)
{
    SIZE size = {0, 0};
    Gdiplus::RectF box;
    if (!text || !Measure(text, wnd, font, Gdiplus::StringAlignmentNear, box)) return size;
    size.cx = static_cast<LONG>(box.Width);
    size.cy = static_cast<LONG>(box.Height);
    return size;
}

int CCvImage::GetStrWidth(const wchar_t* text, HWND wnd, HFONT font, bool useGdiPlus)
{
    if (!text) return 0;
    if (useGdiPlus) {
        Gdiplus::RectF box;
        if (!Measure(text, wnd, font, Gdiplus::StringAlignmentCenter, box)) return 0;
        return static_cast<int>(box.Width);
    }
    HDC dc = GetDC(wnd);
    if (!dc) return 0;
    HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
    SIZE size = {0, 0};
    GetTextExtentPoint32W(dc, text, lstrlenW(text), &size);
    if (old) SelectObject(dc, old);  // the window's DC keeps its own font
    ReleaseDC(wnd, dc);
    return size.cx;
}

int CvGetStrWidth(const wchar_t* text, HWND wnd, HFONT font)
{
    return CCvImage::Instance().GetStrWidth(text, wnd, font, false);
}
