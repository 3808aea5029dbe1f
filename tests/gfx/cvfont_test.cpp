#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>
#include <vector>

#include "base/cvhandle.h"
#include "gfx/cvfont.h"
#include "support/pixels.h"
#include "support/test_support.h"

namespace {

const wchar_t kYaHei[] = L"\x5FAE\x8F6F\x96C5\x9ED1";  // 微软雅黑
const wchar_t kSimSun[] = L"\x5B8B\x4F53";             // 宋体
const wchar_t kSans[] = L"Microsoft Sans Serif";
// A real font file of the build machine, seen through Wine's Z: drive.
const wchar_t kHostFont[] = L"Z:\\usr\\share\\fonts\\truetype\\wqy\\wqy-microhei.ttc";

LOGFONTW LogFont(HFONT f)
{
    LOGFONTW lf = {};
    EXPECT_EQ(GetObjectW(f, sizeof lf, &lf), static_cast<int>(sizeof lf));
    return lf;
}

std::wstring FontsDir() { return cvtest::SpecialFolder(CSIDL_FONTS); }

// Dark pixels left by drawing `text` in black on white with `font`.
int InkOf(HFONT font, const wchar_t* text)
{
    cvtest::Canvas c(200, 40);
    HDC dc = c.dc();
    HGDIOBJ oldFont = SelectObject(dc, font);
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkMode(dc, TRANSPARENT);
    TextOutW(dc, 2, 2, text, lstrlenW(text));
    SelectObject(dc, oldFont);
    int ink = 0;
    for (int y = 0; y < c.h(); ++y)
        for (int x = 0; x < c.w(); ++x) ink += (c.at(x, y) & 0xFF) < 0x80;
    return ink;
}

// The YaHei font file in the Fonts folder, under each name the cache looks
// for. A test that puts one there (a copy of the host's font) writes a marker
// beside the scratch folders first and removes both at its end; at set-up a
// file with its marker, or one that is a whole copy of the host's font (from
// a run that had no markers), is taken for what an aborted run left and
// removed, so that no run sees what another left. Any other file there is
// the platform's own and is never touched.
class CvFontFile : public ::testing::Test {
protected:
    static std::wstring PathOf(const wchar_t* name) { return FontsDir() + L"\\" + name; }
    static std::wstring MarkerOf(const wchar_t* name) { return std::wstring(L"C:\\cvtest\\gfx_test-") + name; }

    // Copies the host's font in under `name`; false when a file is there.
    static bool Install(const wchar_t* name)
    {
        if (cvtest::Exists(PathOf(name))) return false;
        cvtest::WriteFile(MarkerOf(name), "a copy of the host's font, made by gfx_test");
        return CopyFileW(kHostFont, PathOf(name).c_str(), TRUE) != FALSE;
    }
    static void RemoveLeftovers()
    {
        const std::string host = cvtest::ReadFileBytes(kHostFont);
        for (const wchar_t* name : kNames) {
            const std::wstring path = PathOf(name), marker = MarkerOf(name);
            bool ours = cvtest::Exists(marker) || (!host.empty() && cvtest::ReadFileBytes(path) == host);
            if (ours && cvtest::Exists(path)) {
                EXPECT_TRUE(DeleteFileW(path.c_str())) << cvtest::Narrow(path) << ": " << GetLastError();
            }
            DeleteFileW(marker.c_str());
        }
        RemoveDirectoryW(L"C:\\cvtest");  // when nothing else is in it
    }
    void SetUp() override { RemoveLeftovers(); }
    void TearDown() override { RemoveLeftovers(); }

    static constexpr const wchar_t* kNames[] = {L"msyh.ttc", L"msyh.ttf"};
};

}  // namespace

TEST(CvFont, OneInstancePerProcess)
{
    CCvFont& font = CCvFont::Instance();
    EXPECT_EQ(&CCvFont::Instance(), &font);
    EXPECT_EQ(font.GetCharSet(), -1);
}

TEST_F(CvFontFile, WithoutItTheDefaultIsSimSun12)
{
    for (const wchar_t* name : kNames) {
        ASSERT_FALSE(cvtest::Exists(PathOf(name))) << cvtest::Narrow(name);
    }
    CCvFont font;
    EXPECT_EQ(font.isSupportYaHei(), 0);
    EXPECT_EQ(font.CheckFont(kYaHei), 0);
    EXPECT_STREQ(font.GetDefaultFace(), kSimSun);
    EXPECT_EQ(font.GetDefaultSize(), 12);
    EXPECT_EQ(font.GetCacheCount(), 0u);
}

// The check looks for the file only; a real font file under either name
// makes the default Microsoft YaHei at 18, and removing it undoes that.
TEST_F(CvFontFile, InTheFontsFolderItMakesYaHeiTheDefault)
{
    for (const wchar_t* name : kNames) {
        SCOPED_TRACE(cvtest::Narrow(name));
        ASSERT_TRUE(Install(name)) << GetLastError();
        {
            CCvFont font;
            EXPECT_EQ(font.isSupportYaHei(), 1);
            EXPECT_STREQ(font.GetDefaultFace(), kYaHei);
            EXPECT_EQ(font.GetDefaultSize(), 18);
            EXPECT_EQ(font.CheckFont(kYaHei), 1);
            // Only that exact face is checked, installed fonts included.
            for (const wchar_t* other : {L"Microsoft YaHei", kSimSun, kSans, L"", L"\x5FAE\x8F6F\x96C5"})
                EXPECT_EQ(font.CheckFont(other), 0) << cvtest::Narrow(other);
            EXPECT_EQ(font.CheckFont(nullptr), 0);
            LOGFONTW lf = LogFont(font.GetFont(0, nullptr, 0, 0, 0));
            EXPECT_STREQ(lf.lfFaceName, kYaHei);
            EXPECT_EQ(lf.lfHeight, 18);
        }
        ASSERT_TRUE(DeleteFileW(PathOf(name).c_str())) << GetLastError();
        CCvFont font;
        EXPECT_EQ(font.isSupportYaHei(), 0);
        EXPECT_STREQ(font.GetDefaultFace(), kSimSun);
    }
}

TEST(CvFont, DefaultRequestsShareOneRecord)
{
    CCvFont font;
    HFONT a = font.GetFont(0, nullptr, 0, 0, 0);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(font.GetFont(0, nullptr, 0, 0, 0), a);
    EXPECT_EQ(font.GetCacheCount(), 1u);
    // The same request spelled out is the same key.
    EXPECT_EQ(font.GetFont(font.GetDefaultSize(), font.GetDefaultFace(), 0, 0, 0), a);
    EXPECT_EQ(font.GetCacheCount(), 1u);
}

TEST(CvFont, StartUpDefaultIsSansSerif15)
{
    CCvFont font;
    font.SetDefaultFont(15, kSans, 0);
    EXPECT_EQ(font.GetDefaultSize(), 15);
    EXPECT_STREQ(font.GetDefaultFace(), kSans);
    HFONT f = font.GetFont(0, nullptr, 0, 0, 0);
    ASSERT_NE(f, nullptr);
    LOGFONTW lf = LogFont(f);
    EXPECT_STREQ(lf.lfFaceName, kSans);
    EXPECT_EQ(lf.lfHeight, 15);
    EXPECT_EQ(lf.lfWeight, FW_NORMAL);
    EXPECT_EQ(lf.lfCharSet, 0);
    EXPECT_EQ(lf.lfQuality, PROOF_QUALITY);
    EXPECT_EQ(lf.lfUnderline, 0);
    EXPECT_EQ(lf.lfItalic, 0);

    // Realised in a device context, the cell is 15 pixels high.
    CvMemDC dc(CreateCompatibleDC(nullptr));
    HGDIOBJ old = SelectObject(dc.get(), f);
    TEXTMETRICW tm = {};
    ASSERT_TRUE(GetTextMetricsW(dc.get(), &tm));
    EXPECT_EQ(tm.tmHeight, 15);
    EXPECT_EQ(tm.tmWeight, FW_NORMAL);
    SelectObject(dc.get(), old);
}

TEST(CvFont, EachDifferenceIsItsOwnFont)
{
    struct Case {
        int size;
        const wchar_t* face;
        int bold, underline, italic;
    };
    const Case cases[] = {
        {15, kSans, 0, 0, 0},          {15, kSans, 1, 0, 0},        {15, kSans, 0, 1, 0},
        {15, kSans, 0, 0, 1},          {16, kSans, 0, 0, 0},        {15, L"microsoft sans serif", 0, 0, 0},
        {15, L"MICROSOFT SANS SERIF", 0, 0, 0}, {15, L"", 0, 0, 0}, {15, kSimSun, 1, 1, 1},
        {-15, kSans, 0, 0, 0},         {15, kSans, 2, 0, 0},
    };
    CCvFont font;
    std::vector<HFONT> got;
    for (const Case& c : cases) {
        HFONT f = font.GetFont(c.size, c.face, c.bold, c.underline, c.italic);
        ASSERT_NE(f, nullptr);
        for (HFONT prior : got) EXPECT_NE(f, prior) << cvtest::Narrow(c.face) << " size " << c.size;
        got.push_back(f);
        LOGFONTW lf = LogFont(f);
        EXPECT_STREQ(lf.lfFaceName, c.face);
        EXPECT_EQ(lf.lfHeight, c.size);
        EXPECT_EQ(lf.lfWeight, c.bold ? FW_BOLD : FW_NORMAL);
        EXPECT_EQ(lf.lfUnderline, c.underline);
        EXPECT_EQ(lf.lfItalic, c.italic);
    }
    EXPECT_EQ(font.GetCacheCount(), got.size());
    // Asked again, in reverse, every request finds its own handle.
    for (size_t i = got.size(); i-- > 0;) {
        const Case& c = cases[i];
        EXPECT_EQ(font.GetFont(c.size, c.face, c.bold, c.underline, c.italic), got[i]);
    }
    EXPECT_EQ(font.GetCacheCount(), got.size());
}

TEST(CvFont, BoldDrawsHeavierThanRegular)
{
    CCvFont font;
    int regular = InkOf(font.GetFont(20, kSans, 0, 0, 0), L"Uninstall");
    int bold = InkOf(font.GetFont(20, kSans, 1, 0, 0), L"Uninstall");
    EXPECT_GT(regular, 50);
    EXPECT_GT(bold, regular + regular / 10);
}

TEST(CvFont, CharacterSetKeptFromTheStockFontOrSet)
{
    LOGFONTW stock = {};
    ASSERT_TRUE(GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof stock, &stock));
    struct Case {
        int charSet;
        int expected;
    };
    const Case cases[] = {{-1, stock.lfCharSet}, {0, 0}, {GB2312_CHARSET, GB2312_CHARSET},
                          {DEFAULT_CHARSET, DEFAULT_CHARSET}, {256 + GB2312_CHARSET, stock.lfCharSet}};
    for (const Case& c : cases) {
        CCvFont font;
        font.SetDefaultFont(15, kSans, c.charSet);
        EXPECT_EQ(LogFont(font.GetFont(0, nullptr, 0, 0, 0)).lfCharSet, c.expected) << c.charSet;
        // The rest of the stock font stays.
        LOGFONTW lf = LogFont(font.GetFont(0, nullptr, 0, 0, 0));
        EXPECT_EQ(lf.lfWidth, stock.lfWidth);
        EXPECT_EQ(lf.lfPitchAndFamily, stock.lfPitchAndFamily);
        EXPECT_EQ(lf.lfOutPrecision, stock.lfOutPrecision);
    }
}

TEST(CvFont, NewDefaultsKeepTheOldFonts)
{
    CCvFont font;
    HFONT before = font.GetFont(0, nullptr, 0, 0, 0);
    ASSERT_NE(before, nullptr);
    int oldSize = font.GetDefaultSize();
    std::wstring oldFace = font.GetDefaultFace();
    font.SetDefaultFont(15, kSans, 0);
    HFONT after = font.GetFont(0, nullptr, 0, 0, 0);
    EXPECT_NE(after, before);
    EXPECT_EQ(GetObjectType(before), static_cast<DWORD>(OBJ_FONT));
    EXPECT_EQ(font.GetFont(oldSize, oldFace.c_str(), 0, 0, 0), before);
    EXPECT_EQ(font.GetCacheCount(), 2u);
}

TEST(CvFont, TheCacheDeletesItsFontsAtItsEnd)
{
    HFONT a, b;
    {
        CCvFont font;
        a = font.GetFont(0, nullptr, 0, 0, 0);
        b = font.GetFont(15, kSans, 1, 0, 0);
        ASSERT_EQ(GetObjectType(a), static_cast<DWORD>(OBJ_FONT));
        ASSERT_EQ(GetObjectType(b), static_cast<DWORD>(OBJ_FONT));
    }
    EXPECT_EQ(GetObjectType(a), 0u);
    EXPECT_EQ(GetObjectType(b), 0u);
}

// A logical font holds 31 characters of face name; longer names are refused
// whole (never cut to another face) and leave no record.
TEST(CvFont, FaceNamesPastTheLogicalFontsFieldAreRefused)
{
    struct Case {
        size_t length;
        bool accepted;
    };
    const Case cases[] = {{1, true}, {31, true}, {32, false}, {49, false}, {50, false}, {300, false}};
    CCvFont font;
    for (const Case& c : cases) {
        std::wstring face(c.length, L'f');
        size_t count = font.GetCacheCount();
        for (int i = 0; i < 2; ++i) {
            HFONT f = font.GetFont(15, face.c_str(), 0, 0, 0);
            EXPECT_EQ(f != nullptr, c.accepted) << c.length;
            if (f) {
                EXPECT_EQ(std::wstring(LogFont(f).lfFaceName), face);
            }
        }
        EXPECT_EQ(font.GetCacheCount(), count + (c.accepted ? 1 : 0)) << c.length;

        font.SetDefaultFont(15, kSans, -1);
        font.SetDefaultFont(16, face.c_str(), -1);
        EXPECT_EQ(font.GetDefaultSize(), 16);
        EXPECT_EQ(std::wstring(font.GetDefaultFace()), c.accepted ? face : std::wstring(kSans)) << c.length;
    }
    font.SetDefaultFont(17, nullptr, 0);  // no face: the size changes, the face stays
    EXPECT_EQ(font.GetDefaultSize(), 17);
    EXPECT_STREQ(font.GetDefaultFace(), kSans);
}
