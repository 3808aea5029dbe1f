#include <gtest/gtest.h>

#include <string>

#include "app/manifest.h"
#include "app/uninstaller.h"
#include "support/manifest_bytes.h"
#include "support/test_support.h"

using cvtest::ManifestBytes;
using cvtest::ScratchDir;
using cvtest::WriteFile;

namespace {

class ManifestTest : public ::testing::Test {
protected:
    ScratchDir dir{L"manifest"};
    std::wstring file = dir / L"cvUninstall.dat";
    CCvUninstaller engine;

    bool Read(const ManifestBytes& m)
    {
        WriteFile(file, m.str());
        return engine.ReadManifest(file.c_str());
    }
};

}  // namespace

TEST_F(ManifestTest, WindowHeaderReadFillsFieldsAndZeroesTheRest)
{
    tagUninstallHeader h;
    memset(&h, 0xAB, sizeof(h));
    EXPECT_EQ(CvReadUninstallHeader((dir / L"missing.dat").c_str(), &h), 0);
    EXPECT_STREQ(h.productName, L"");
    EXPECT_STREQ(h.installDir, L"");

    WriteFile(file, ManifestBytes().Header(L"Key", L"Corvane Notes", L"Corvane", L"C:\\P").str());
    EXPECT_EQ(CvReadUninstallHeader(file.c_str(), &h), 1);
    EXPECT_STREQ(h.uninstallKey, L"Key");
    EXPECT_STREQ(h.productName, L"Corvane Notes");
    EXPECT_STREQ(h.startMenuFolder, L"Corvane");
    EXPECT_STREQ(h.installDir, L"C:\\P");

    // Shorter than the header: the missing bytes read as zeros.
    WriteFile(file, ManifestBytes().Header(L"Key", L"Name", L"Menu", L"C:\\P").Cut(760 - 210).str());
    memset(&h, 0xAB, sizeof(h));
    EXPECT_EQ(CvReadUninstallHeader(file.c_str(), &h), 1);
    EXPECT_STREQ(h.uninstallKey, L"Key");
    EXPECT_STREQ(h.productName, L"Name");  // first 10 bytes of the name field are in the file
    EXPECT_STREQ(h.startMenuFolder, L"");
    EXPECT_STREQ(h.installDir, L"");
}

TEST_F(ManifestTest, FieldWithoutTerminatorStaysInsideItsField)
{
    std::wstring fullName(50, L'N');
    ManifestBytes m;
    m.Field(L"Key", 100).Field(fullName, 50).Field(L"Menu", 30).Field(L"", 200).Int(0);
    tagUninstallHeader h;
    WriteFile(file, m.str());
    ASSERT_EQ(CvReadUninstallHeader(file.c_str(), &h), 1);
    EXPECT_EQ(std::wstring(h.productName), std::wstring(49, L'N'));
    EXPECT_STREQ(h.startMenuFolder, L"Menu");

    ASSERT_TRUE(Read(m));
    EXPECT_EQ(std::wstring(engine.header.productName), std::wstring(49, L'N'));
}

TEST_F(ManifestTest, MissingManifestIsReported)
{
    EXPECT_FALSE(engine.ReadManifest((dir / L"none.dat").c_str()));
}

TEST_F(ManifestTest, HeaderOnlyWithInstallDirHasNoEntries)
{
    ASSERT_TRUE(Read(ManifestBytes().Header(L"Key", L"Name", L"Menu", L"C:\\P")));
    EXPECT_STREQ(engine.header.installDir, L"C:\\P");
    EXPECT_TRUE(engine.files.empty());
    EXPECT_TRUE(engine.shortcuts.empty());
}

TEST_F(ManifestTest, FileListKeepsNonEmptyEntriesInOrderAndCountsThem)
{
    WriteFile(dir / L"tree\\a.txt");
    WriteFile(dir / L"tree\\b.txt");
    WriteFile(dir / L"tree\\sub\\c.txt");
    std::wstring tree = dir / L"tree\\";
    ManifestBytes m;
    m.Header(L"Key", L"Name", L"", L"")
        .Int(4)
        .Entry(1, L"C:\\one.txt")
        .Entry(1, L"")
        .Entry(0, tree)
        .Entry(1, L"C:\\four.txt")
        .Int(1)
        .Entry(0, L"C:\\x.lnk");
    engine.doneFiles = engine.totalFiles = 7;
    ASSERT_TRUE(Read(m));
    ASSERT_EQ(engine.files.size(), 3u);
    EXPECT_STREQ(engine.files[0].path, L"C:\\one.txt");
    EXPECT_EQ(engine.files[1].isFile, 0);
    EXPECT_EQ(std::wstring(engine.files[1].path), tree);
    EXPECT_STREQ(engine.files[2].path, L"C:\\four.txt");
    EXPECT_EQ(engine.totalFiles, 1 + 3 + 1);  // a directory entry counts its files
    EXPECT_EQ(engine.doneFiles, 0);
    ASSERT_EQ(engine.shortcuts.size(), 1u);
    EXPECT_STREQ(engine.shortcuts[0].path, L"C:\\x.lnk");
}

TEST_F(ManifestTest, WithInstallDirTheNextCountIsTheShortcutList)
{
    ManifestBytes m;
    m.Header(L"Key", L"Name", L"", L"C:\\P").Int(2).Entry(1, L"C:\\a.lnk").Entry(0, L"C:\\b.lnk");
    ASSERT_TRUE(Read(m));
    EXPECT_TRUE(engine.files.empty());
    ASSERT_EQ(engine.shortcuts.size(), 2u);
    EXPECT_STREQ(engine.shortcuts[0].path, L"C:\\a.lnk");
    EXPECT_STREQ(engine.shortcuts[1].path, L"C:\\b.lnk");
}

TEST_F(ManifestTest, CountsTheFileCannotHold)
{
    struct Case {
        const char* what;
        ManifestBytes bytes;
        size_t files, shortcuts;
    } cases[] = {
        {"negative counts", ManifestBytes().Header(L"K", L"N", L"", L"").Int(-5).Int(-1), 0, 0},
        // A count near the largest int on a short file returns at once.
        {"huge file count", ManifestBytes().Header(L"K", L"N", L"", L"").Int(0x7FFFFFFF).Entry(1, L"C:\\f"), 1, 0},
        {"huge shortcut count", ManifestBytes().Header(L"K", L"N", L"", L"C:\\P").Int(0x7FFFFFFF).Entry(0, L"C:\\s"),
         0, 1},
        {"file list ends early", ManifestBytes().Header(L"K", L"N", L"", L"").Int(3).Entry(1, L"C:\\f"), 1, 0},
        {"no shortcut list", ManifestBytes().Header(L"K", L"N", L"", L"").Int(1).Entry(1, L"C:\\f"), 1, 0},
    };
    for (auto& c : cases) {
        ASSERT_TRUE(Read(c.bytes)) << c.what;
        EXPECT_EQ(engine.files.size(), c.files) << c.what;
        EXPECT_EQ(engine.shortcuts.size(), c.shortcuts) << c.what;
    }
}

TEST_F(ManifestTest, ShortcutCutShortIsKeptWithZeros)
{
    ManifestBytes m;
    m.Header(L"K", L"N", L"", L"C:\\P").Int(3).Entry(0, L"C:\\a.lnk").Entry(0, L"C:\\bbbb.lnk").Cut(520 - 8);
    ASSERT_TRUE(Read(m));
    ASSERT_EQ(engine.shortcuts.size(), 2u);
    EXPECT_STREQ(engine.shortcuts[0].path, L"C:\\a.lnk");
    EXPECT_STREQ(engine.shortcuts[1].path, L"C:\\b");  // the rest of the entry reads as zeros
}
