#include "support/pixels.h"

namespace cvtest {

HBITMAP NewDib32(int w, int h, void** bits)
{
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;  // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    return CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, bits, nullptr, 0);
}

Canvas::Canvas(int w, int h, Rgb fill) : w_(w), h_(h)
{
    void* bits = nullptr;
    bmp_.reset(NewDib32(w, h, &bits));
    bits_ = static_cast<DWORD*>(bits);
    dc_.reset(CreateCompatibleDC(nullptr));
    Fill(fill);
}

Canvas::Canvas(int w, int h, const PixelFn& fn) : Canvas(w, h, 0)
{
    Paint(fn);
}

Canvas::~Canvas()
{
    if (old_) SelectObject(dc_.get(), old_);
}

HDC Canvas::dc() const
{
    if (!old_) old_ = SelectObject(dc_.get(), bmp_.get());
    return dc_.get();
}

Rgb Canvas::at(int x, int y) const
{
    GdiFlush();
    return bits_[y * w_ + x] & 0xFFFFFF;
}

COLORREF Canvas::Color(int x, int y) const
{
    const Rgb c = at(x, y);
    return RGB(c >> 16, (c >> 8) & 0xFF, c & 0xFF);
}

int Canvas::Count(Rgb c) const
{
    GdiFlush();
    int n = 0;
    for (int i = 0; i < w_ * h_; ++i) n += (bits_[i] & 0xFFFFFF) == c;
    return n;
}

bool Canvas::operator==(const Canvas& o) const
{
    if (w_ != o.w_ || h_ != o.h_) return false;
    GdiFlush();
    for (int i = 0; i < w_ * h_; ++i)
        if ((bits_[i] & 0xFFFFFF) != (o.bits_[i] & 0xFFFFFF)) return false;
    return true;
}

void Canvas::Fill(Rgb c)
{
    Paint([c](int, int) { return c; });
}

void Canvas::Paint(const PixelFn& fn)
{
    if (!bits_) return;
    GdiFlush();  // nothing GDI still has queued lands on top afterwards
    for (int y = 0; y < h_; ++y)
        for (int x = 0; x < w_; ++x) bits_[y * w_ + x] = fn(x, y);
}

std::string Bmp24(int w, int h, const PixelFn& fn)
{
    const int stride = (w * 3 + 3) & ~3;
    std::string b(54 + static_cast<size_t>(stride) * h, '\0');
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    put32(2, static_cast<uint32_t>(b.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(w));
    put32(22, static_cast<uint32_t>(h));  // positive: bottom-up
    put32(26, 1 | (24 << 16));            // one plane, 24 bits
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const size_t at = 54 + static_cast<size_t>(h - 1 - y) * stride + static_cast<size_t>(x) * 3;
            const Rgb c = fn(x, y);
            b[at] = static_cast<char>(c);
            b[at + 1] = static_cast<char>(c >> 8);
            b[at + 2] = static_cast<char>(c >> 16);
        }
    return b;
}

}  // namespace cvtest
