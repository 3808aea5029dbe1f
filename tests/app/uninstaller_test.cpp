#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/uninstaller.h"
#include "base/cvhandle.h"
#include "engine_access.h"
#include "shell/folders.h"
#include "support/bitness.h"
#include "support/test_support.h"

using cvtest::Exists;
using cvtest::ScratchDir;
using cvtest::WriteFile;
using Access = CCvUninstallerTestAccess;

namespace {

// Runs DelDir on a worker thread while this thread keeps a real window
// pumping, as the user-interface thread does during an uninstall; returns the
// percentages in the order the window received them.
std::vector<WPARAM> DelDirWithWindow(CCvUninstaller& engine, const std::wstring& dir, bool* result = nullptr)
{
    cvtest::MessageRecorder window(WM_UNINSTALL_PROGRESS);
    engine.notifyWnd = window.hwnd();
    std::atomic<bool> finished{false};
    bool removed = false;
    std::thread worker([&] {
        removed = Access::DelDir(engine, dir.c_str());
        finished = true;
    });
    bool ok = window.PumpUntil([&] { return finished.load(); });
    worker.join();
    EXPECT_TRUE(ok) << "DelDir did not finish";
    if (result) *result = removed;
    return window.values();
}

std::vector<WPARAM> Percentages(std::initializer_list<WPARAM> v) { return v; }

}  // namespace

TEST(CountFiles, CountsFilesRecursivelySkippingDotFolders)
{
    ScratchDir dir(L"count");
    for (const wchar_t* f : {L"a", L"b", L"c", L"sub\\d", L"sub\\e", L"sub\\.hidden\\f", L".git\\g", L".dotfile"})
        WriteFile(dir / f);
    CCvUninstaller engine;
    EXPECT_EQ(Access::CountFiles(engine, dir.path().c_str()), 6);  // .dotfile is a file: it counts
    EXPECT_EQ(Access::CountFiles(engine, (dir / L"sub\\").c_str()), 2);
    EXPECT_EQ(Access::CountFiles(engine, (dir / L"sub").c_str()), 2);  // backslash supplied
    EXPECT_EQ(Access::CountFiles(engine, (dir / L"missing\\").c_str()), 0);
    EXPECT_EQ(Access::CountFiles(engine, L""), 0);
}

TEST(DelDir, SendsEachPercentageInOrderAndRemovesTheFolder)
{
    ScratchDir dir(L"four");
    std::wstring target = dir / L"app\\";
    for (const wchar_t* f : {L"1", L"2", L"sub\\3", L"sub\\deeper\\4"}) WriteFile(target + f);
    CCvUninstaller engine;
    engine.totalFiles = 4;
    bool removed = false;
    EXPECT_EQ(DelDirWithWindow(engine, target, &removed), Percentages({25, 50, 75, 100}));
    EXPECT_TRUE(removed);
    EXPECT_EQ(engine.doneFiles, 4);
    EXPECT_FALSE(Exists(target));
}

TEST(DelDir, ContinuesFromDoneFiles)
{
    ScratchDir dir(L"two");
    WriteFile(dir / L"app\\x");
    WriteFile(dir / L"app\\y");
    CCvUninstaller engine;
    engine.totalFiles = 4;
    engine.doneFiles = 2;
    EXPECT_EQ(DelDirWithWindow(engine, dir / L"app\\"), Percentages({75, 100}));
}

TEST(DelDir, SendsNothingWhenNothingWasCountedOrPastOneHundred)
{
    ScratchDir dir(L"zero");
    WriteFile(dir / L"app\\x");
    WriteFile(dir / L"app\\y");
    CCvUninstaller engine;  // totalFiles 0: files appeared after counting
    EXPECT_TRUE(DelDirWithWindow(engine, dir / L"app\\").empty());
    EXPECT_EQ(engine.doneFiles, 2);
    EXPECT_FALSE(Exists(dir / L"app"));

    WriteFile(dir / L"more\\x");
    WriteFile(dir / L"more\\y");
    engine.totalFiles = 3;
    engine.doneFiles = 2;
    EXPECT_EQ(DelDirWithWindow(engine, dir / L"more\\"), Percentages({100}));  // 133 is not sent
}

TEST(DelDir, DotFolderInsideIsKeptAndSoIsItsParent)
{
    ScratchDir dir(L"dot");
    WriteFile(dir / L"app\\a");
    WriteFile(dir / L"app\\.cache\\keep");
    CCvUninstaller engine;
    engine.totalFiles = Access::CountFiles(engine, (dir / L"app\\").c_str());
    EXPECT_EQ(engine.totalFiles, 1);
    EXPECT_EQ(DelDirWithWindow(engine, dir / L"app\\"), Percentages({100}));
    EXPECT_FALSE(Exists(dir / L"app\\a"));
    EXPECT_TRUE(Exists(dir / L"app\\.cache\\keep"));
}

TEST(DelDir, UndeletableFileStillAdvancesAndItsFolderStays)
{
    ScratchDir dir(L"locked");
    WriteFile(dir / L"app\\a");
    WriteFile(dir / L"app\\busy");
    // Held open without delete sharing, like a running program's file.
    CvFileHandle busy(CreateFileW((dir / L"app\\busy").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(busy);
    CCvUninstaller engine;
    engine.totalFiles = 2;
    bool removed = false;
    EXPECT_EQ(DelDirWithWindow(engine, dir / L"app\\", &removed), Percentages({50, 100}));
    EXPECT_TRUE(removed);
    EXPECT_FALSE(Exists(dir / L"app\\a"));
    EXPECT_TRUE(Exists(dir / L"app\\busy"));
    EXPECT_TRUE(Exists(dir / L"app"));
}

TEST(DelDir, MissingFolderIsNotListedAndNothingIsSent)
{
    ScratchDir dir(L"missing");
    CCvUninstaller engine;
    engine.totalFiles = 1;
    bool removed = true;
    EXPECT_TRUE(DelDirWithWindow(engine, dir / L"nothing\\", &removed).empty());
    EXPECT_FALSE(removed);
}

TEST(DelDir, PathsBeyondTheBufferAreSkippedNotOverrun)
{
    ScratchDir dir(L"long");
    std::wstring base = dir / L"app\\";
    WriteFile(base + L"short.txt");
    // Build a chain of folders whose deepest file lies past 259 characters,
    // through the long-path form that the engine does not use.
    std::wstring deep = base;
    while (deep.size() < 250) deep += std::wstring(40, L'd') + L"\\";
    std::wstring longFile = deep + std::wstring(30, L'f') + L".txt";
    ASSERT_GT(longFile.size(), 259u);
    cvtest::MakeDirs(L"\\\\?\\" + deep);
    WriteFile(L"\\\\?\\" + longFile);
    ASSERT_TRUE(Exists(L"\\\\?\\" + longFile));

    CCvUninstaller engine;
    engine.totalFiles = Access::CountFiles(engine, base.c_str());
    EXPECT_EQ(engine.totalFiles, 1);  // the long one is not counted
    EXPECT_EQ(DelDirWithWindow(engine, base), Percentages({100}));
    EXPECT_FALSE(Exists(base + L"short.txt"));
    EXPECT_TRUE(Exists(L"\\\\?\\" + longFile));
    cvtest::RemoveTree(L"\\\\?\\" + base);
}

// The key goes from the process's own view: the 32-bit view for the product
// (a 32-bit program on 64-bit Windows), the 64-bit view for a 64-bit build.
TEST(ClearReg, DeletesTheProductKeyInTheProcesssOwnViewOnly)
{
    const std::wstring root = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
    const std::wstring name = L"cvTestProduct-" + std::to_wstring(GetCurrentProcessId());
    auto create = [&](const std::wstring& sub, REGSAM view) {
        CvRegKey key;
        return RegCreateKeyExW(HKEY_LOCAL_MACHINE, (root + sub).c_str(), 0, nullptr, 0, KEY_WRITE | view, nullptr,
                               key.put(), nullptr) == ERROR_SUCCESS;
    };
    auto exists = [&](const std::wstring& sub, REGSAM view) {
        CvRegKey key;
        return RegOpenKeyExW(HKEY_LOCAL_MACHINE, (root + sub).c_str(), 0, KEY_READ | view, key.put()) ==
               ERROR_SUCCESS;
    };
    const REGSAM own = cvtest::kDefaultView, other = cvtest::kOtherView;
    ASSERT_TRUE(create(name, 0));
    ASSERT_TRUE(exists(name, own));
    ASSERT_TRUE(create(name, other));
    ASSERT_TRUE(create(name + L"-nested\\child", 0));

    CCvUninstaller engine;
    EXPECT_EQ(engine.ClearReg(name.c_str()), 1);
    EXPECT_FALSE(exists(name, own));
    EXPECT_TRUE(exists(name, other));  // another view's key is another product's

    // A key with subkeys is not removed; empty names never touch Uninstall.
    EXPECT_EQ(engine.ClearReg((name + L"-nested").c_str()), 1);
    EXPECT_TRUE(exists(name + L"-nested", 0));
    EXPECT_EQ(engine.ClearReg(L""), 1);
    EXPECT_EQ(engine.ClearReg(L"\\"), 1);
    EXPECT_TRUE(exists(L"", 0));
    EXPECT_TRUE(exists(name + L"-nested\\child", 0));

    RegDeleteKeyW(HKEY_LOCAL_MACHINE, (root + name + L"-nested\\child").c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, (root + name + L"-nested").c_str());
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, (root + name).c_str(), other, 0);
}

class DelShortcutTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(GetProgramsPath(programs));
        ASSERT_TRUE(GetDesktopPath(desktop));
    }
    std::wstring Programs(const std::wstring& rel) { return std::wstring(programs) + L"\\" + rel; }
    std::wstring Desktop(const std::wstring& rel) { return std::wstring(desktop) + L"\\" + rel; }

    std::wstring tag = std::to_wstring(GetCurrentProcessId());
    wchar_t programs[MAX_PATH];
    wchar_t desktop[MAX_PATH];
    CCvUninstaller engine;
};

TEST_F(DelShortcutTest, RemovesFolderDesktopShortcutAndListedShortcuts)
{
    ScratchDir elsewhere(L"links");
    std::wstring folder = L"cvTool" + tag;
    std::wstring product = L"cvProduct " + tag;
    WriteFile(Programs(folder + L"\\Tool.lnk"));
    WriteFile(Programs(folder + L"\\Help\\Manual.lnk"));
    WriteFile(Desktop(product + L".lnk"));
    WriteFile(Desktop(product + L" Extra.lnk"));
    WriteFile(elsewhere / L"one.lnk");
    WriteFile(elsewhere / L"two.url");

    wcscpy(engine.header.startMenuFolder, folder.c_str());
    wcscpy(engine.header.productName, product.c_str());
    for (const std::wstring& p : {elsewhere / L"one.lnk", elsewhere / L"two.url"}) {
        tagUninstallEntry e = {};
        wcscpy(e.path, p.c_str());
        engine.shortcuts.push_back(e);
    }
    engine.DelShortcut();

    EXPECT_FALSE(Exists(Programs(folder)));
    EXPECT_FALSE(Exists(Desktop(product + L".lnk")));
    EXPECT_TRUE(Exists(Desktop(product + L" Extra.lnk")));
    EXPECT_FALSE(Exists(elsewhere / L"one.lnk"));
    EXPECT_FALSE(Exists(elsewhere / L"two.url"));
    EXPECT_TRUE(Exists(programs));
    EXPECT_EQ(engine.doneFiles, 2);  // the folder's files advance the count
    DeleteFileW(Desktop(product + L" Extra.lnk").c_str());
}

TEST_F(DelShortcutTest, EmptyOrEscapingNamesTouchNothingOutside)
{
    std::wstring canary = Programs(L"cvCanary" + tag + L".lnk");
    std::wstring desktopCanary = Desktop(L"cvCanary" + tag + L".lnk");
    std::wstring startMenuLink = Programs(L"..\\cvCanary" + tag + L".lnk");
    WriteFile(canary);
    WriteFile(desktopCanary);
    WriteFile(startMenuLink);

    struct Case {
        const wchar_t* folder;
        std::wstring product;
    } cases[] = {
        {L"", L""},
        {L"..", L"..\\..\\Programs\\cvCanary" + tag},
        {L"..\\..", L"C:cvCanary" + tag},
        {L".", L"../cvCanary" + tag},
    };
    for (const Case& c : cases) {
        wcscpy(engine.header.startMenuFolder, c.folder);
        wcscpy(engine.header.productName, c.product.c_str());
        engine.DelShortcut();
        EXPECT_TRUE(Exists(canary)) << c.folder;
        EXPECT_TRUE(Exists(desktopCanary)) << c.folder;
        EXPECT_TRUE(Exists(startMenuLink)) << c.folder;
    }
    for (const std::wstring& f : {canary, desktopCanary, startMenuLink}) DeleteFileW(f.c_str());
}
