// The resources of res/cvuninstall.rc, linked into this program: every
// picture is a PNG of its exact size that GDI+ decodes with alpha; the icon
// group holds 16, 32 and 48 pixel images; the manifest asks for
// administrator rights. dump-art.exe writes the same bytes out.
#include <windows.h>
#include <objidl.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/test_support.h"

// The few GDI+ flat functions used here (gdiplus.dll).
extern "C" {
struct GpImage;
struct GdiplusStartupInputFlat {
    UINT32 version = 1;
    void* debugCallback = nullptr;
    BOOL suppressBackgroundThread = FALSE;
    BOOL suppressExternalCodecs = FALSE;
};
int WINAPI GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInputFlat* input, void* output);
void WINAPI GdiplusShutdown(ULONG_PTR token);
int WINAPI GdipCreateBitmapFromStream(IStream* stream, GpImage** bitmap);
int WINAPI GdipGetImageWidth(GpImage* image, UINT* width);
int WINAPI GdipGetImageHeight(GpImage* image, UINT* height);
int WINAPI GdipGetImagePixelFormat(GpImage* image, INT* format);
int WINAPI GdipBitmapGetPixel(GpImage* bitmap, INT x, INT y, DWORD* argb);
int WINAPI GdipDisposeImage(GpImage* image);
}

namespace {

const INT kPixelFormatAlpha = 0x00040000;
const char kPng[8] = {'\x89', 'P', 'N', 'G', '\r', '\n', '\x1a', '\n'};

struct Art {
    LPCWSTR name;  // MAKEINTRESOURCEW(id) or a name
    UINT width, height;
};

#define ID(n) MAKEINTRESOURCEW(n)
const Art kArt[] = {
    {ID(60001), 69, 21},  {ID(60002), 69, 21},   {ID(60003), 69, 21},
    {ID(60004), 69, 21},  {ID(60005), 69, 21},   {ID(60006), 38, 18},
    {ID(60007), 38, 18},  {ID(60008), 38, 18},   {L"CV_IDB_CLOSE2", 38, 18},
    {L"CV_IDB_CLOSE3", 38, 18},                  {ID(60026), 279, 23},
    {ID(60027), 137, 157}, {ID(60051), 186, 150}, {ID(60052), 437, 141},
    {ID(60056), 32, 32},  {ID(60057), 32, 32},   {ID(60061), 256, 80},
    {ID(60073), 87, 29},  {ID(60074), 87, 29},
};

std::wstring Label(LPCWSTR name)
{
    return IS_INTRESOURCE(name) ? std::to_wstring(reinterpret_cast<ULONG_PTR>(name)) : name;
}

// The bytes of a resource of this program; empty when it is missing.
std::string Resource(LPCWSTR name, LPCWSTR type)
{
    HRSRC found = FindResourceW(nullptr, name, type);
    if (!found) return {};
    HGLOBAL loaded = LoadResource(nullptr, found);
    const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    return data ? std::string(data, SizeofResource(nullptr, found)) : std::string();
}

DWORD BigEndian(const std::string& s, size_t at)
{
    return (DWORD(BYTE(s[at])) << 24) | (DWORD(BYTE(s[at + 1])) << 16) |
           (DWORD(BYTE(s[at + 2])) << 8) | DWORD(BYTE(s[at + 3]));
}

// Checks the PNG signature and the IHDR size.
void ExpectPngHeader(const std::string& png, UINT w, UINT h, const std::wstring& what)
{
    SCOPED_TRACE(cvtest::Narrow(what));
    ASSERT_GE(png.size(), 24u);
    EXPECT_EQ(0, std::memcmp(png.data(), kPng, 8));
    EXPECT_EQ("IHDR", png.substr(12, 4));
    EXPECT_EQ(w, BigEndian(png, 16));
    EXPECT_EQ(h, BigEndian(png, 20));
}

class GdiPlus : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        GdiplusStartupInputFlat input;
        ASSERT_EQ(0, GdiplusStartup(&token_, &input, nullptr));
    }
    static void TearDownTestSuite() { GdiplusShutdown(token_); }

    // Decodes PNG bytes; null when GDI+ cannot.
    static GpImage* Decode(const std::string& png)
    {
        IStream* stream = SHCreateMemStream(reinterpret_cast<const BYTE*>(png.data()),
                                            static_cast<UINT>(png.size()));
        if (!stream) return nullptr;
        GpImage* image = nullptr;
        if (GdipCreateBitmapFromStream(stream, &image) != 0) image = nullptr;
        stream->Release();
        return image;
    }
    static ULONG_PTR token_;
};
ULONG_PTR GdiPlus::token_ = 0;

TEST_F(GdiPlus, EveryPictureIsAPngOfItsSizeWithAlpha)
{
    for (const Art& art : kArt) {
        std::wstring what = Label(art.name);
        SCOPED_TRACE(cvtest::Narrow(what));
        std::string png = Resource(art.name, L"IMG");
        ASSERT_FALSE(png.empty()) << "missing";
        ExpectPngHeader(png, art.width, art.height, what);

        GpImage* image = Decode(png);
        ASSERT_NE(nullptr, image);
        UINT w = 0, h = 0;
        INT format = 0;
        EXPECT_EQ(0, GdipGetImageWidth(image, &w));
        EXPECT_EQ(0, GdipGetImageHeight(image, &h));
        EXPECT_EQ(0, GdipGetImagePixelFormat(image, &format));
        EXPECT_EQ(art.width, w);
        EXPECT_EQ(art.height, h);
        EXPECT_NE(0, format & kPixelFormatAlpha) << std::hex << format;
        GdipDisposeImage(image);
    }
}

TEST_F(GdiPlus, CloseButtonIdsHoldTheNamedPictures)
{
    EXPECT_EQ(Resource(L"CV_IDB_CLOSE2", L"IMG"), Resource(ID(60007), L"IMG"));
    EXPECT_EQ(Resource(L"CV_IDB_CLOSE3", L"IMG"), Resource(ID(60008), L"IMG"));
    EXPECT_NE(Resource(ID(60006), L"IMG"), Resource(ID(60007), L"IMG"));
}

TEST_F(GdiPlus, MainBackgroundIsSeeThroughAroundItsCards)
{
    GpImage* image = Decode(Resource(ID(60052), L"IMG"));
    ASSERT_NE(nullptr, image);
    DWORD corner = 0xFFFFFFFF, middle = 0;
    EXPECT_EQ(0, GdipBitmapGetPixel(image, 0, 0, &corner));
    EXPECT_EQ(0, GdipBitmapGetPixel(image, 218, 80, &middle));
    GdipDisposeImage(image);
    EXPECT_EQ(0u, corner >> 24);
    EXPECT_EQ(0xFFu, middle >> 24);
}

#pragma pack(push, 2)
struct GroupEntry {
    BYTE width, height, colors, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

TEST(Icon, GroupHolds16_32And48PixelImages)
{
    std::string group = Resource(ID(107), RT_GROUP_ICON);
    ASSERT_GE(group.size(), 6u);
    WORD type = 0, count = 0;
    std::memcpy(&type, group.data() + 2, 2);
    std::memcpy(&count, group.data() + 4, 2);
    EXPECT_EQ(1, type);
    ASSERT_EQ(3, count);
    ASSERT_EQ(6 + 3 * sizeof(GroupEntry), group.size());
    const UINT sizes[3] = {16, 32, 48};
    for (int i = 0; i < 3; ++i) {
        GroupEntry e;
        std::memcpy(&e, group.data() + 6 + i * sizeof(GroupEntry), sizeof e);
        EXPECT_EQ(sizes[i], e.width);
        EXPECT_EQ(sizes[i], e.height);
        std::string image = Resource(ID(e.id), RT_ICON);
        EXPECT_EQ(e.bytes, image.size());
        ExpectPngHeader(image, sizes[i], sizes[i], L"icon " + std::to_wstring(sizes[i]));
    }

    HICON icon = static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), ID(107), IMAGE_ICON, 32, 32, 0));
    ASSERT_NE(nullptr, icon);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP bm{};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bm, &bm);
    EXPECT_EQ(32, bm.bmWidth);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    DestroyIcon(icon);
}

TEST(Manifest, AsksForAdministratorCommonControls6AndKnowsVistaTo10)
{
    std::string text = Resource(ID(1), RT_MANIFEST);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(std::string::npos, text.find("level=\"requireAdministrator\""));
    EXPECT_NE(std::string::npos, text.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""));
    for (const char* os : {"e2011457-1546-43c5-a5fe-008deee3d3f0", "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
                           "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", "1f676c76-80e1-4239-95bb-83d0f6d0da78",
                           "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"})
        EXPECT_NE(std::string::npos, text.find(os)) << os;
}

TEST(DumpArt, WritesEveryPictureAndTheIconImages)
{
    cvtest::ScratchDir dir(L"dump");
    cvtest::RunResult r = cvtest::Run(cvtest::BinDir() + L"dump-art.exe", L"\"" + dir.path() + L"out\"");
    ASSERT_EQ(0u, r.exitCode) << r.output;
    for (const Art& art : kArt)
        EXPECT_EQ(Resource(art.name, L"IMG"), cvtest::ReadFileBytes(dir / (L"out\\" + Label(art.name) + L".png")))
            << cvtest::Narrow(Label(art.name));
    for (int px : {16, 32, 48})
        ExpectPngHeader(cvtest::ReadFileBytes(dir / (L"out\\icon-107-" + std::to_wstring(px) + L".png")), px, px,
                        L"dumped icon");
}

}  // namespace
