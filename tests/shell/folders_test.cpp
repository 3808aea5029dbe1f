#include <gtest/gtest.h>
#include <shlobj.h>

#include <string>

#include "shell/folders.h"
#include "support/bitness.h"
#include "support/test_support.h"



namespace {

std::wstring Lower(std::wstring s)
{
    CharLowerBuffW(&s[0], static_cast<DWORD>(s.size()));
    return s;
}

std::wstring Env(const wchar_t* name)
{
    wchar_t buf[MAX_PATH] = {};
    GetEnvironmentVariableW(name, buf, MAX_PATH);
    return buf;
}

}  // namespace

TEST(Folders, CurPathIsTheExecutablesFolderWithBackslash)
{
    wchar_t path[MAX_PATH];
    GetCurPath(path);
    EXPECT_EQ(std::wstring(path), cvtest::BinDir());
    EXPECT_EQ(path[wcslen(path) - 1], L'\\');
}

TEST(Folders, CurPathOfAProgramStartedFromAnotherFolder)
{
    // The test program copied to C:\cvtest\...\Tools\ reports that folder.
    cvtest::ScratchDir dir(L"tools");
    std::wstring copy = dir / L"app.exe";
    ASSERT_TRUE(CopyFileW((cvtest::BinDir() + L"shell_test.exe").c_str(), copy.c_str(), FALSE));
    auto r = cvtest::RunDisabledTest(L"Folders.DISABLED_PrintCurPath", copy);
    EXPECT_TRUE(cvtest::PassedOneTest(r));
    EXPECT_NE(r.output.find("curpath=[" + cvtest::Narrow(dir.path()) + "]"), std::string::npos) << r.output;
}

// Run in a child process by the test above.
TEST(Folders, DISABLED_PrintCurPath)
{
    wchar_t path[MAX_PATH];
    GetCurPath(path);
    printf("curpath=[%s]\n", cvtest::Narrow(path).c_str());
}

TEST(Folders, CurPathExOfLoadedAndMissingModules)
{
    wchar_t path[MAX_PATH], sys[MAX_PATH];
    GetCurPathEx(L"kernel32.dll", path);
    GetSystemDirectoryW(sys, MAX_PATH);
    EXPECT_EQ(Lower(path), Lower(std::wstring(sys) + L"\\"));

    GetCurPathEx(L"no-such-module.dll", path);
    EXPECT_EQ(std::wstring(path), cvtest::BinDir());
    GetCurPathEx(nullptr, path);
    EXPECT_EQ(std::wstring(path), cvtest::BinDir());
}

TEST(Folders, SpecialFoldersHaveNoTrailingBackslash)
{
    struct Case {
        BOOL (*get)(wchar_t*);
        int csidl;
    } cases[] = {
        {GetProgramFilePath, CSIDL_PROGRAM_FILES},
        {GetProgramsPath, CSIDL_PROGRAMS},
        {GetStartMenuPath, CSIDL_STARTMENU},
        {GetDesktopPath, CSIDL_COMMON_DESKTOPDIRECTORY},
    };
    for (const Case& c : cases) {
        wchar_t path[MAX_PATH], want[MAX_PATH];
        EXPECT_TRUE(c.get(path)) << c.csidl;
        ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, want, c.csidl, FALSE));
        EXPECT_STREQ(path, want);
        EXPECT_NE(path[wcslen(path) - 1], L'\\');
    }
}

// A 32-bit program on 64-bit Windows is given the x86 folder, a 64-bit one
// the native folder.
TEST(Folders, ProgramFilesFollowsTheProcesssBitness)
{
    wchar_t path[MAX_PATH];
    ASSERT_TRUE(GetProgramFilePath(path));
    EXPECT_EQ(Lower(path), Lower(cvtest::kIs64BitProcess ? Env(L"ProgramW6432") : Env(L"ProgramFiles(x86)")));
    EXPECT_EQ(Lower(path), cvtest::kIs64BitProcess ? L"c:\\program files" : L"c:\\program files (x86)");
}

TEST(Folders, DesktopIsThePublicOne)
{
    wchar_t path[MAX_PATH], user[MAX_PATH];
    ASSERT_TRUE(GetDesktopPath(path));
    ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, user, CSIDL_DESKTOPDIRECTORY, FALSE));
    EXPECT_NE(Lower(path), Lower(user));
    EXPECT_EQ(Lower(path), Lower(Env(L"PUBLIC") + L"\\Desktop"));
}

TEST(Folders, QuickLaunchReturnsOneAndEndsInItsTail)
{
    wchar_t appdata[MAX_PATH], path[MAX_PATH];
    ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, appdata, CSIDL_APPDATA, FALSE));
    EXPECT_EQ(GetQuickLaunchPath(path, 1), 1);
    EXPECT_EQ(std::wstring(path), std::wstring(appdata) + L"\\Microsoft\\Internet Explorer\\Quick Launch\\User Pinned\\TaskBar");
    EXPECT_FALSE(cvtest::Exists(path));  // returns 1 all the same
    EXPECT_EQ(GetQuickLaunchPath(path, 0), 1);
    EXPECT_EQ(std::wstring(path), std::wstring(appdata) + L"\\Microsoft\\Internet Explorer\\Quick Launch");
}
