// The engine never removes a protected place as a tree, neither when a
// manifest names one nor when the uninstaller itself was dropped into one.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <string>

#include "app/uninstaller.h"
#include "engine_access.h"
#include "shell/folders.h"
#include "support/test_support.h"

using cvtest::Exists;
using cvtest::WriteFile;
using Access = CCvUninstallerTestAccess;

namespace {



std::wstring Tag() { return std::to_wstring(GetCurrentProcessId()); }

}  // namespace

TEST(ProtectedDirs, RefusedTreesAreNeitherCountedNorDeleted)
{
    std::wstring users = cvtest::SpecialFolder(CSIDL_PROFILE);
    users = users.substr(0, users.rfind(L'\\'));
    const std::wstring places[] = {
        cvtest::SpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\",
        cvtest::SpecialFolder(CSIDL_PROGRAMS) + L"\\",
        cvtest::SpecialFolder(CSIDL_PROGRAM_FILES) + L"\\",
        cvtest::EnvVar(L"ProgramW6432") + L"\\",
        cvtest::SpecialFolder(CSIDL_COMMON_APPDATA) + L"\\",
        users + L"\\cvNotAUser" + Tag() + L"\\",  // a profile folder
    };
    for (const std::wstring& place : places) {
        std::wstring canary = place + L"cvCanary" + Tag() + L".txt";
        WriteFile(canary);
        ASSERT_TRUE(Exists(canary));
        CCvUninstaller engine;
        engine.totalFiles = 1;
        EXPECT_EQ(Access::CountFiles(engine, place.c_str()), 0) << cvtest::Narrow(place);
        EXPECT_FALSE(Access::DelDir(engine, place.c_str())) << cvtest::Narrow(place);
        EXPECT_TRUE(Exists(canary)) << cvtest::Narrow(place);
        EXPECT_EQ(engine.doneFiles, 0);
        DeleteFileW(canary.c_str());
    }
    RemoveDirectoryW((users + L"\\cvNotAUser" + Tag()).c_str());
}

// The probe program runs the engine on its own folder, as the whole-folder
// removal does, from places an uninstaller might wrongly have been put.
TEST(ProtectedDirs, ProgramFolderThatIsAProtectedPlace)
{
    wchar_t win[MAX_PATH];
    GetWindowsDirectoryW(win, MAX_PATH);
    const std::wstring folders[] = {
        L"C:\\",
        cvtest::SpecialFolder(CSIDL_PROGRAM_FILES) + L"\\",
        cvtest::EnvVar(L"ProgramW6432") + L"\\",
        std::wstring(win) + L"\\",
        cvtest::SpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\",
    };
    const std::wstring probe = cvtest::BinDir() + L"engine_probe.exe";
    for (const std::wstring& folder : folders) {
        std::wstring copy = folder + L"cvProbe" + Tag() + L".exe";
        std::wstring canary = folder + L"cvCanary" + Tag() + L".txt";
        ASSERT_TRUE(CopyFileW(probe.c_str(), copy.c_str(), FALSE)) << cvtest::Narrow(copy);
        WriteFile(canary);
        auto r = cvtest::Run(copy, L"");
        EXPECT_EQ(r.exitCode, 0u);
        EXPECT_NE(r.output.find("protected=1\ncount=0\ndeldir=0\ndone=0"), std::string::npos)
            << cvtest::Narrow(folder) << "\n" << r.output;
        EXPECT_TRUE(Exists(canary));
        DeleteFileW(copy.c_str());
        DeleteFileW(canary.c_str());
    }
}

TEST(ProtectedDirs, ProgramFolderOfAProductIsRemoved)
{
    std::wstring product = cvtest::SpecialFolder(CSIDL_PROGRAM_FILES) + L"\\cvProduct" + Tag() + L"\\";
    for (const wchar_t* f : {L"a.dll", L"b.txt", L"data\\c.bin"}) WriteFile(product + f);
    std::wstring copy = product + L"Uninstall.exe";
    ASSERT_TRUE(CopyFileW((cvtest::BinDir() + L"engine_probe.exe").c_str(), copy.c_str(), FALSE));
    auto r = cvtest::Run(copy, L"--allow-delete");
    // Everything goes but the running program itself, which keeps its folder.
    EXPECT_NE(r.output.find("protected=0\ncount=4\ndeldir=1\ndone=4"), std::string::npos) << r.output;
    EXPECT_FALSE(Exists(product + L"a.dll"));
    EXPECT_FALSE(Exists(product + L"data"));
    EXPECT_TRUE(Exists(copy));
    DeleteFileW(copy.c_str());
    RemoveDirectoryW(product.c_str());
}
