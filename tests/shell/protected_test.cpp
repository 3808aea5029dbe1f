#include <gtest/gtest.h>
#include <shlobj.h>

#include <string>

#include "shell/folders.h"
#include "support/test_support.h"

namespace {



std::wstring Parent(const std::wstring& p) { return p.substr(0, p.rfind(L'\\')); }

std::wstring ShortName(const std::wstring& p)
{
    wchar_t buf[MAX_PATH] = {};
    GetShortPathNameW(p.c_str(), buf, MAX_PATH);
    return buf;
}

}  // namespace

TEST(ProtectedTree, EveryKindOfProtectedPlace)
{
    wchar_t win[MAX_PATH], sys[MAX_PATH], wow[MAX_PATH];
    GetWindowsDirectoryW(win, MAX_PATH);
    GetSystemDirectoryW(sys, MAX_PATH);
    GetSystemWow64DirectoryW(wow, MAX_PATH);
    std::wstring profile = cvtest::SpecialFolder(CSIDL_PROFILE);
    struct Case {
        const char* kind;
        std::wstring path;
    } cases[] = {
        {"drive root", L"C:\\"},
        {"drive root, no backslash", L"C:"},
        {"drive root, other drive", L"Z:\\"},
        {"drive root, long form", L"\\\\?\\C:\\"},
        {"share root", L"\\\\server\\share\\"},
        {"relative path", L"Program Files\\"},
        {"empty path", L""},
        {"Windows", win},
        {"System32", sys},
        {"SysWOW64", wow},
        {"a folder directly in Windows", std::wstring(win) + L"\\Fonts"},
        {"Program Files (x86)", cvtest::EnvVar(L"ProgramFiles(x86)")},
        {"Program Files (64-bit)", cvtest::EnvVar(L"ProgramW6432")},
        {"Common Files (x86)", cvtest::EnvVar(L"CommonProgramFiles(x86)")},
        {"Common Files (64-bit)", cvtest::EnvVar(L"CommonProgramW6432")},
        {"Users", Parent(profile)},
        {"own profile", profile},
        {"another profile", Parent(profile) + L"\\SomeoneElse"},
        {"Public", cvtest::EnvVar(L"PUBLIC")},
        {"Desktop", cvtest::SpecialFolder(CSIDL_DESKTOPDIRECTORY)},
        {"public Desktop", cvtest::SpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY)},
        {"Documents", cvtest::SpecialFolder(CSIDL_PERSONAL)},
        {"Programs", cvtest::SpecialFolder(CSIDL_PROGRAMS)},
        {"common Programs", cvtest::SpecialFolder(CSIDL_COMMON_PROGRAMS)},
        {"Start Menu", cvtest::SpecialFolder(CSIDL_STARTMENU)},
        {"AppData", cvtest::SpecialFolder(CSIDL_APPDATA)},
        {"Local AppData", cvtest::SpecialFolder(CSIDL_LOCAL_APPDATA)},
        {"ProgramData", cvtest::SpecialFolder(CSIDL_COMMON_APPDATA)},
        {"a folder holding a special folder", Parent(cvtest::SpecialFolder(CSIDL_STARTMENU))},
        {"dot segments", cvtest::SpecialFolder(CSIDL_PROGRAMS) + L"\\Corvane\\..\\"},
        {"forward slashes", L"C:/Windows/"},
        {"short name", ShortName(cvtest::SpecialFolder(CSIDL_PROGRAM_FILES))},
        {"upper case", L"C:\\PROGRAM FILES (X86)\\"},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(CvIsProtectedTree(c.path.c_str())) << c.kind << ": " << cvtest::Narrow(c.path);
        if (!c.path.empty() && c.path.back() != L'\\') {
            EXPECT_TRUE(CvIsProtectedTree((c.path + L"\\").c_str())) << c.kind << " with backslash";
        }
    }
}

TEST(ProtectedTree, FoldersBelowProtectedPlacesAreFine)
{
    std::wstring profile = cvtest::SpecialFolder(CSIDL_PROFILE);
    const std::wstring cases[] = {
        cvtest::SpecialFolder(CSIDL_PROGRAM_FILES) + L"\\Corvane\\Notes\\",
        cvtest::EnvVar(L"ProgramW6432") + L"\\Corvane\\",
        cvtest::SpecialFolder(CSIDL_PROGRAMS) + L"\\Corvane Notes\\",
        cvtest::SpecialFolder(CSIDL_APPDATA) + L"\\Corvane\\",
        cvtest::SpecialFolder(CSIDL_COMMON_APPDATA) + L"\\Corvane\\",
        cvtest::SpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\Folder\\",
        profile + L"\\Tools\\Corvane\\",
        L"C:\\Corvane\\",
        L"D:\\Games\\Corvane\\",
    };
    for (const std::wstring& p : cases) EXPECT_FALSE(CvIsProtectedTree(p.c_str())) << cvtest::Narrow(p);
}
