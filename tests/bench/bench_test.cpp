// The test bench itself: what every other test relies on about its Wine
// prefix.
#include <gtest/gtest.h>

#include <string>

#include "base/cvhandle.h"
#include "support/bitness.h"
#include "support/test_support.h"

// The prefix is 64-bit Windows: a 32-bit build runs under WOW64, a 64-bit
// build natively; both see a WOW64 system folder and both Program Files.
TEST(Bench, ProgramsRunWithTheirOwnBitnessOn64BitWindows)
{
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    EXPECT_EQ(wow64 != FALSE, !cvtest::kIs64BitProcess);
    SYSTEM_INFO info = {};
    GetNativeSystemInfo(&info);
    EXPECT_EQ(info.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_AMD64);
    wchar_t wow[MAX_PATH];
    EXPECT_GT(GetSystemWow64DirectoryW(wow, MAX_PATH), 0u);
    wchar_t x86[MAX_PATH], native[MAX_PATH];
    EXPECT_GT(GetEnvironmentVariableW(L"ProgramFiles(x86)", x86, MAX_PATH), 0u);
    EXPECT_GT(GetEnvironmentVariableW(L"ProgramW6432", native, MAX_PATH), 0u);
}

TEST(Bench, FontFacesOfTheProgramResolveToInstalledFonts)
{
    struct Case {
        const wchar_t* face;
        const wchar_t* installed;
    } cases[] = {
        {L"Microsoft Sans Serif", L"Liberation Sans"},
        {L"\u5b8b\u4f53", L"WenQuanYi Micro Hei"},  // SimSun
        {L"\u5fae\u8f6f\u96c5\u9ed1", L"WenQuanYi Micro Hei"},  // Microsoft YaHei
    };
    HDC dc = CreateCompatibleDC(nullptr);
    ASSERT_NE(dc, nullptr);
    for (const Case& c : cases) {
        HFONT font = CreateFontW(-15, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, c.face);
        HGDIOBJ old = SelectObject(dc, font);
        // The glyph outlines come from the installed font: its metrics match
        // a font created directly by that font's name.
        TEXTMETRICW want = {}, got = {};
        GetTextMetricsW(dc, &got);
        HFONT direct = CreateFontW(-15, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, c.installed);
        SelectObject(dc, direct);
        GetTextMetricsW(dc, &want);
        wchar_t directFace[LF_FACESIZE] = {};
        GetTextFaceW(dc, LF_FACESIZE, directFace);
        EXPECT_STREQ(directFace, c.installed) << "font not installed";
        SelectObject(dc, old);
        EXPECT_EQ(got.tmAscent, want.tmAscent) << cvtest::Narrow(c.face);
        EXPECT_EQ(got.tmDescent, want.tmDescent) << cvtest::Narrow(c.face);
        EXPECT_EQ(got.tmAveCharWidth, want.tmAveCharWidth) << cvtest::Narrow(c.face);
        DeleteObject(direct);
        DeleteObject(font);
    }
    DeleteDC(dc);
}
