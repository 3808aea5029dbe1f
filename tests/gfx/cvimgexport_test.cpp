// Image export under real GDI+: encoder lookup, bitmaps into streams, screen,
// device-context and window regions, format conversion and scaling, checked
// by the bytes written and by decoding the results.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "base/cvhandle.h"
#include "gfx/cvimage.h"
#include "support/pixels.h"
#include "support/test_support.h"

namespace gp = Gdiplus::DllExports;

namespace {

using cvtest::Canvas;
using cvtest::PixelFn;
using cvtest::Rgb;
using cvtest::StreamOf;

CCvImage& Img() { return CCvImage::Instance(); }

// A colour of its own for every pixel of images up to 256 x 256.
Rgb Pattern(int x, int y) { return static_cast<Rgb>((x & 0xFF) << 16 | (y & 0xFF) << 8 | 0x5A); }

// The four quadrants of a w x h image, each one plain colour.
const Rgb kQuad[4] = {0xE01010, 0x10E010, 0x1010E0, 0xE0E010};
PixelFn Quadrants(int w, int h)
{
    return [w, h](int x, int y) { return kQuad[(x >= w / 2 ? 1 : 0) + (y >= h / 2 ? 2 : 0)]; };
}

uint32_t Le32(const std::string& b, size_t at)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[at + i]);
    return v;
}

// A decoded image file or stream (the test's own decoding).
struct Decoded {
    explicit Decoded(const std::wstring& path) { gp::GdipLoadImageFromFile(path.c_str(), image.put()); }
    explicit Decoded(IStream* s) { gp::GdipLoadImageFromStream(s, image.put()); }
    int w() const
    {
        UINT v = 0;
        gp::GdipGetImageWidth(image.get(), &v);
        return static_cast<int>(v);
    }
    int h() const
    {
        UINT v = 0;
        gp::GdipGetImageHeight(image.get(), &v);
        return static_cast<int>(v);
    }
    Rgb at(int x, int y) const
    {
        Gdiplus::ARGB c = 0;
        gp::GdipBitmapGetPixel(static_cast<Gdiplus::GpBitmap*>(image.get()), x, y, &c);
        return c & 0xFFFFFF;
    }
    // The first position whose pixel differs from fn's, as "(x, y)".
    std::string Mismatch(const PixelFn& fn, int dx = 0, int dy = 0) const
    {
        for (int y = 0; y < h(); ++y)
            for (int x = 0; x < w(); ++x)
                if (at(x, y) != fn(x + dx, y + dy))
                    return "(" + std::to_string(x) + ", " + std::to_string(y) + ")";
        return "";
    }
    CvGpImage image;
};

// The encoders' class ids: {557CF40n-1A04-11D3-9A73-0000F81EF32E}.
GUID EncoderGuid(unsigned n)
{
    return GUID{0x557CF400u + n, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
}

// The signature each format's file starts with.
struct Format {
    const wchar_t* name;
    unsigned clsid;  // EncoderGuid(n)
    std::string magic;
    bool lossless;
};
const Format kFormats[] = {
    {L"bmp", 0, "BM", true},
    {L"jpeg", 1, "\xFF\xD8\xFF", false},
    {L"gif", 2, "GIF8", false},  // 256 colours at most
    {L"tiff", 5, "II*", true},
    {L"png", 6, "\x89PNG", true},
};

std::string StreamBytes(IStream* s)
{
    STATSTG st = {};
    s->Stat(&st, STATFLAG_NONAME);
    LARGE_INTEGER zero = {};
    s->Seek(zero, STREAM_SEEK_SET, nullptr);
    std::string b(static_cast<size_t>(st.cbSize.QuadPart), '\0');
    ULONG read = 0;
    s->Read(&b[0], static_cast<ULONG>(b.size()), &read);
    b.resize(read);
    return b;
}

}  // namespace

TEST(CvImageExport, EncoderLookupByMimeType)
{
    ASSERT_TRUE(Img().IsStarted());
    UINT count = 0, size = 0;
    ASSERT_EQ(gp::GdipGetImageEncodersSize(&count, &size), Gdiplus::Ok);
    std::vector<unsigned char> bytes(size);
    auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(bytes.data());
    ASSERT_EQ(gp::GdipGetImageEncoders(count, size, codecs), Gdiplus::Ok);
    for (const Format& f : kFormats) {
        const std::wstring mime = std::wstring(L"image/") + f.name;
        GUID got = {};
        const int at = CCvImage::GetEncoderClsid(mime.c_str(), &got);
        ASSERT_GE(at, 0) << cvtest::Narrow(mime);
        ASSERT_LT(at, static_cast<int>(count));
        EXPECT_EQ(std::wstring(codecs[at].MimeType), mime);
        EXPECT_TRUE(IsEqualGUID(got, EncoderGuid(f.clsid))) << cvtest::Narrow(mime);
    }
    // Exact, case-sensitive matches only; the output is left untouched.
    const GUID sentinel = {0x01020304, 0x0506, 0x0708, {9, 10, 11, 12, 13, 14, 15, 16}};
    for (const wchar_t* mime : {L"image/jpg", L"IMAGE/PNG", L"image/png ", L"png", L"image/", L""}) {
        GUID got = sentinel;
        EXPECT_EQ(CCvImage::GetEncoderClsid(mime, &got), -1) << cvtest::Narrow(mime);
        EXPECT_TRUE(IsEqualGUID(got, sentinel));
    }
    GUID got = sentinel;
    EXPECT_EQ(CCvImage::GetEncoderClsid(nullptr, &got), -1);
    EXPECT_TRUE(IsEqualGUID(got, sentinel));
    EXPECT_EQ(CCvImage::GetEncoderClsid(L"image/png", nullptr), -1);
}

// A complete BMP file (file header included) appended at the stream's
// position; the stream stays usable and ends after it.
TEST(CvImageExport, BmToStreamAppendsABmpFile)
{
    Canvas dib(7, 5, Pattern);  // its bitmap goes to GDI+, so dc() is never asked for
    const std::string prefix = "prefix";
    CvComPtr<IStream> s(StreamOf(prefix));
    LARGE_INTEGER end = {};
    s.get()->Seek(end, STREAM_SEEK_END, nullptr);
    ASSERT_TRUE(Img().BmToStream(dib.bitmap(), s.get(), L"bmp"));
    ULARGE_INTEGER pos = {};
    s.get()->Seek(end, STREAM_SEEK_CUR, &pos);
    const std::string all = StreamBytes(s.get());
    ASSERT_GT(all.size(), prefix.size() + 54);
    EXPECT_EQ(pos.QuadPart, all.size());
    EXPECT_EQ(all.substr(0, prefix.size()), prefix);
    const std::string bmp = all.substr(prefix.size());
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(Le32(bmp, 2), bmp.size());  // the file size
    EXPECT_GE(Le32(bmp, 10), 54u);         // the pixel offset
    EXPECT_LE(Le32(bmp, 10), bmp.size());
    EXPECT_EQ(Le32(bmp, 18), 7u);
    EXPECT_EQ(static_cast<int32_t>(Le32(bmp, 22)) < 0 ? -static_cast<int32_t>(Le32(bmp, 22))
                                                       : static_cast<int32_t>(Le32(bmp, 22)),
              5);
    CvComPtr<IStream> copy(StreamOf(bmp));
    Decoded d(copy.get());
    ASSERT_EQ(d.w(), 7);
    ASSERT_EQ(d.h(), 5);
    EXPECT_EQ(d.Mismatch(Pattern), "");

    // Failures write nothing and say so.
    CvComPtr<IStream> empty(StreamOf(""));
    EXPECT_FALSE(Img().BmToStream(dib.bitmap(), empty.get(), L"jpg"));
    EXPECT_FALSE(Img().BmToStream(dib.bitmap(), empty.get(), nullptr));
    EXPECT_FALSE(Img().BmToStream(nullptr, empty.get(), L"bmp"));
    EXPECT_FALSE(Img().BmToStream(dib.bitmap(), nullptr, L"bmp"));
    EXPECT_EQ(StreamBytes(empty.get()), "");
}

TEST(CvImageExport, SavePicConvertsFilesToEveryFormat)
{
    cvtest::ScratchDir dir(L"convert");
    const std::wstring src = dir / L"src.bmp";
    cvtest::WriteFile(src, cvtest::Bmp24(40, 30, Pattern));
    for (const Format& f : kFormats) {
        const std::wstring out = dir / (std::wstring(L"out.") + f.name);
        ASSERT_TRUE(Img().SavePic(src.c_str(), out.c_str(), f.name)) << cvtest::Narrow(f.name);
        const std::string b = cvtest::ReadFileBytes(out);
        EXPECT_EQ(b.substr(0, f.magic.size()), f.magic);
        if (f.clsid == 2) {
            // The GIF's logical screen size holds everywhere. Wine 8.0's GIF
            // encoder, given a 24-bit image, writes only the header, an
            // image descriptor and the trailer (24 bytes: no colour table,
            // no pixels) and still reports success, so the file decodes to
            // nothing there; Windows quantises to a 256-colour palette.
            EXPECT_EQ(b.substr(6, 4), std::string("\x28\0\x1E\0", 4));
            if (cvtest::OnWine()) continue;
        }
        Decoded d(out);
        EXPECT_EQ(d.w(), 40) << cvtest::Narrow(f.name);
        EXPECT_EQ(d.h(), 30) << cvtest::Narrow(f.name);
        if (f.lossless) {
            EXPECT_EQ(d.Mismatch(Pattern), "") << cvtest::Narrow(f.name);
        }
    }
    const std::wstring none = dir / L"none.png";
    EXPECT_FALSE(Img().SavePic((dir / L"missing.bmp").c_str(), none.c_str(), L"png"));
    EXPECT_FALSE(Img().SavePic(src.c_str(), none.c_str(), L"jpg"));
    EXPECT_FALSE(Img().SavePic(src.c_str(), (dir / L"no\\such\\dir.png").c_str(), L"png"));
    EXPECT_FALSE(cvtest::Exists(none));
}

// The device-context overload copies exactly the rectangle's region.
TEST(CvImageExport, SavePicOfARegion)
{
    cvtest::ScratchDir dir(L"region");
    Canvas dib(200, 100, Pattern);
    HDC dc = dib.dc();
    const std::wstring out = dir / L"region.png";
    ASSERT_TRUE(Img().SavePic(dc, RECT{10, 20, 110, 70}, out.c_str(), L"png"));
    Decoded d(out);
    ASSERT_EQ(d.w(), 100);
    ASSERT_EQ(d.h(), 50);
    EXPECT_EQ(d.Mismatch(Pattern, 10, 20), "");

    const std::wstring none = dir / L"none.png";
    for (RECT r : {RECT{10, 10, 10, 20}, RECT{10, 10, 20, 10}, RECT{20, 20, 10, 10}})
        EXPECT_FALSE(Img().SavePic(dc, r, none.c_str(), L"png"));
    EXPECT_FALSE(Img().SavePic(static_cast<HDC>(nullptr), RECT{0, 0, 5, 5}, none.c_str(), L"png"));
    EXPECT_FALSE(Img().SavePic(dc, RECT{0, 0, 5, 5}, none.c_str(), L"jpg"));
    EXPECT_FALSE(cvtest::Exists(none));
}

namespace {
LRESULT CALLBACK QuadProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(wnd, &ps);
        for (int i = 0; i < 4; ++i) {
            RECT r = {i % 2 * 150, i / 2 * 100, i % 2 * 150 + 150, i / 2 * 100 + 100};
            const Rgb c = kQuad[i];
            CvGdiObject<HBRUSH> brush(CreateSolidBrush(RGB(c >> 16, c >> 8 & 0xFF, c & 0xFF)));
            FillRect(dc, &r, brush.get());
        }
        EndPaint(wnd, &ps);
        return 0;
    }
    return DefWindowProcW(wnd, msg, wp, lp);
}
}  // namespace

TEST(CvImageExport, SavePicOfAWindowsClientArea)
{
    cvtest::ScratchDir dir(L"window");
    WNDCLASSW wc = {};
    wc.lpfnWndProc = QuadProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"CvImgExportQuad";
    RegisterClassW(&wc);
    RECT frame = {0, 0, 300, 200};
    AdjustWindowRectEx(&frame, WS_OVERLAPPED | WS_CAPTION, FALSE, WS_EX_TOPMOST);
    HWND wnd = CreateWindowExW(WS_EX_TOPMOST, wc.lpszClassName, L"quad", WS_OVERLAPPED | WS_CAPTION,
                               0, 0, frame.right - frame.left, frame.bottom - frame.top, nullptr,
                               nullptr, wc.hInstance, nullptr);
    ASSERT_NE(wnd, nullptr);
    ShowWindow(wnd, SW_SHOWNORMAL);
    UpdateWindow(wnd);
    // Shown once its own context reads back every quadrant's colour.
    HDC dc = GetDC(wnd);
    auto painted = [&] {
        for (int i = 0; i < 4; ++i) {
            const Rgb c = kQuad[i];
            if (GetPixel(dc, i % 2 * 150 + 75, i / 2 * 100 + 50) != RGB(c >> 16, c >> 8 & 0xFF, c & 0xFF))
                return false;
        }
        return true;
    };
    const bool shown = cvtest::PumpUntil(painted);
    ReleaseDC(wnd, dc);
    ASSERT_TRUE(shown) << "the window never showed its quadrants";
    RECT client;
    GetClientRect(wnd, &client);
    ASSERT_EQ(client.right, 300);
    ASSERT_EQ(client.bottom, 200);
    const std::wstring out = dir / L"client.bmp";
    ASSERT_TRUE(Img().SavePic(wnd, out.c_str(), L"bmp"));
    Decoded d(out);
    ASSERT_EQ(d.w(), 300);
    ASSERT_EQ(d.h(), 200);
    EXPECT_EQ(d.Mismatch(Quadrants(300, 200)), "");
    DestroyWindow(wnd);

    // A destroyed or null window is not the screen.
    const std::wstring none = dir / L"none.bmp";
    EXPECT_FALSE(Img().SavePic(wnd, none.c_str(), L"bmp"));
    EXPECT_FALSE(Img().SavePic(static_cast<HWND>(nullptr), none.c_str(), L"bmp"));
    EXPECT_FALSE(cvtest::Exists(none));
    UnregisterClassW(wc.lpszClassName, wc.hInstance);
}

TEST(CvImageExport, SaveScreenHasTheScreensSize)
{
    cvtest::ScratchDir dir(L"screen");
    const std::wstring out = dir / L"screen.bmp";
    ASSERT_TRUE(Img().SaveScreen(out.c_str(), L"bmp"));
    const std::string b = cvtest::ReadFileBytes(out);
    ASSERT_GT(b.size(), 54u);
    EXPECT_EQ(b.substr(0, 2), "BM");
    EXPECT_EQ(Le32(b, 2), b.size());
    Decoded d(out);
    EXPECT_EQ(d.w(), GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(d.h(), GetSystemMetrics(SM_CYSCREEN));
    const std::wstring none = dir / L"none.bmp";
    EXPECT_FALSE(Img().SaveScreen(none.c_str(), L"jpg"));
    EXPECT_FALSE(Img().SaveScreen(nullptr, L"bmp"));
    EXPECT_FALSE(cvtest::Exists(none));
}

TEST(CvImageExport, ZoomSizes)
{
    cvtest::ScratchDir dir(L"zoom");
    const std::wstring src = dir / L"src.bmp";
    cvtest::WriteFile(src, cvtest::Bmp24(640, 480, Quadrants(640, 480)));
    struct Case {
        float percent;
        int width, height, outW, outH;
    } const cases[] = {
        {50, 0, 0, 320, 240},    {33.3f, 0, 0, 213, 159}, {50, 10, 10, 320, 240},
        {0, 320, 0, 320, 240},   {0, 0, 100, 133, 100},   {0, 200, 100, 200, 100},
        {-5, 64, 0, 64, 48},     {150, 0, 0, 960, 720},
    };
    for (const Case& c : cases) {
        const std::wstring out = dir / L"out.png";
        ASSERT_TRUE(Img().Zoom(src.c_str(), c.percent, c.width, c.height, out.c_str(), L"png"))
            << c.percent << " " << c.width << "x" << c.height;
        EXPECT_EQ(cvtest::ReadFileBytes(out).substr(0, 4), "\x89PNG");
        Decoded d(out);
        EXPECT_EQ(d.w(), c.outW) << c.percent << " " << c.width << "x" << c.height;
        EXPECT_EQ(d.h(), c.outH) << c.percent << " " << c.width << "x" << c.height;
        // Away from the quadrants' borders the colours are the source's.
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(d.at((i % 2 * 2 + 1) * d.w() / 4, (i / 2 * 2 + 1) * d.h() / 4), kQuad[i]);
    }
}

// Without a target and a format the source becomes a JPEG of the scaled image,
// whatever its name says.
TEST(CvImageExport, ZoomReplacesTheSourceWithAJpeg)
{
    cvtest::ScratchDir dir(L"zoomjpeg");
    const std::wstring src = dir / L"photo.png";
    cvtest::WriteFile(dir / L"q.bmp", cvtest::Bmp24(64, 48, Quadrants(64, 48)));
    ASSERT_TRUE(Img().SavePic((dir / L"q.bmp").c_str(), src.c_str(), L"png"));
    ASSERT_TRUE(Img().Zoom(src.c_str(), 50, 0, 0, nullptr, nullptr));
    EXPECT_EQ(cvtest::ReadFileBytes(src).substr(0, 3), "\xFF\xD8\xFF");
    Decoded d(src);
    EXPECT_EQ(d.w(), 32);
    EXPECT_EQ(d.h(), 24);
}

// Sizes without a pixel, missing sources and formats without an encoder fail
// and leave the files as they were.
TEST(CvImageExport, ZoomFailuresLeaveTheFiles)
{
    cvtest::ScratchDir dir(L"zoomfail");
    const std::wstring src = dir / L"src.bmp";
    const std::string bytes = cvtest::Bmp24(64, 48, Pattern);
    cvtest::WriteFile(src, bytes);
    const std::wstring out = dir / L"out.png";
    EXPECT_FALSE(Img().Zoom(src.c_str(), 1, 0, 0, out.c_str(), L"png"));       // 0x0
    EXPECT_FALSE(Img().Zoom(src.c_str(), 0, 0, 0, out.c_str(), L"png"));       // 0x0
    EXPECT_FALSE(Img().Zoom(src.c_str(), 0, -10, 20, out.c_str(), L"png"));
    EXPECT_FALSE(Img().Zoom(src.c_str(), 0, 1, 0, out.c_str(), L"png"));       // 1x0
    EXPECT_FALSE(Img().Zoom(src.c_str(), 50, 0, 0, out.c_str(), L"jpg"));
    EXPECT_FALSE(Img().Zoom(src.c_str(), 50, 0, 0, nullptr, L"jpg"));
    EXPECT_FALSE(Img().Zoom((dir / L"missing.bmp").c_str(), 50, 0, 0, out.c_str(), L"png"));
    EXPECT_FALSE(Img().Zoom(nullptr, 50, 0, 0, out.c_str(), L"png"));
    EXPECT_FALSE(cvtest::Exists(out));
    EXPECT_EQ(cvtest::ReadFileBytes(src), bytes);
}
