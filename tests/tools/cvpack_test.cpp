// cvpack.exe run as a child process: the manifests it writes, byte for byte
// and through the uninstaller's own readers; its refusals; `show` on good and
// damaged manifests; the shortcuts it makes.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "app/manifest.h"
#include "app/uninstaller.h"
#include "base/cvhandle.h"
#include "base/cvres.h"
#include "support/manifest_bytes.h"
#include "support/test_support.h"

using cvtest::Arg;
using cvtest::ManifestBytes;
using cvtest::ScratchDir;

namespace {

cvtest::RunResult Cvpack(const std::wstring& args) { return cvtest::Run(cvtest::BinDir() + L"cvpack.exe", args); }

// Names in a folder (files and subfolders), sorted, to see what a run left
// behind.
std::vector<std::wstring> Listing(const std::wstring& dir)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    CvFindHandle h(FindFirstFileW((dir + L"*").c_str(), &fd));
    if (h) {
        do {
            std::wstring n = fd.cFileName;
            if (n != L"." && n != L"..") names.push_back(n);
        } while (FindNextFileW(h.get(), &fd));
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Shows where two byte strings first differ, instead of dumping both.
::testing::AssertionResult SameBytes(const std::string& got, const std::string& want)
{
    if (got == want) return ::testing::AssertionSuccess();
    size_t i = 0;
    while (i < got.size() && i < want.size() && got[i] == want[i]) ++i;
    return ::testing::AssertionFailure() << "sizes " << got.size() << " and " << want.size()
                                         << ", first difference at offset " << i;
}

class CvpackTest : public ::testing::Test {
protected:
    ScratchDir dir{L"cvpack"};
    std::wstring out = dir / L"cvUninstall.dat";
};

}  // namespace

TEST_F(CvpackTest, WholeFolderManifestAtFullFieldLengths)
{
    // Every header field at its longest: 99, 49, 29 and 199 characters.
    const std::wstring key(99, L'k'), name = L"Corvane N\u00F6tes " + std::wstring(35, L'n'), menu(29, L'm');
    const std::wstring installDir = L"C:\\" + std::wstring(196, L'd');
    const std::wstring lnk1 = L"C:\\users\\Public\\Desktop\\Corvane Notes.lnk",
                       lnk2 = L"C:\\" + std::wstring(256, L's');
    ASSERT_EQ(name.size(), 49u);

    auto r = Cvpack(L"manifest --out " + Arg(out) + L"--key " + Arg(key) + L"--name " + Arg(name) + L"--startmenu " +
                    Arg(menu) + L"--installdir " + Arg(installDir) + L"--shortcut " + Arg(lnk1) + L"--shortcut " +
                    Arg(lnk2));
    ASSERT_EQ(r.exitCode, 0u) << r.output;

    // Header, then straight the shortcut list (isFile 1: a shortcut is a file).
    ManifestBytes want;
    want.Header(key, name, menu, installDir).Int(2).Entry(1, lnk1).Entry(1, lnk2);
    EXPECT_TRUE(SameBytes(cvtest::ReadFileBytes(out), want.str()));
    EXPECT_EQ(Listing(dir.path()), std::vector<std::wstring>{L"cvUninstall.dat"});  // no temporary file is left

    tagUninstallHeader h;
    ASSERT_EQ(CvReadUninstallHeader(out.c_str(), &h), 1);
    EXPECT_EQ(std::wstring(h.uninstallKey), key);
    EXPECT_EQ(std::wstring(h.productName), name);
    EXPECT_EQ(std::wstring(h.startMenuFolder), menu);
    EXPECT_EQ(std::wstring(h.installDir), installDir);

    CCvUninstaller engine;
    ASSERT_TRUE(engine.ReadManifest(out.c_str()));
    EXPECT_EQ(std::wstring(engine.header.installDir), installDir);
    EXPECT_TRUE(engine.files.empty());
    ASSERT_EQ(engine.shortcuts.size(), 2u);
    EXPECT_EQ(std::wstring(engine.shortcuts[0].path), lnk1);
    EXPECT_EQ(std::wstring(engine.shortcuts[1].path), lnk2);
}

TEST_F(CvpackTest, FileListKeepsCommandLineOrderAndEndsDirsWithBackslash)
{
    const std::wstring longFile = L"C:\\" + std::wstring(256, L'f');  // 259 characters
    const std::wstring longDir = L"C:\\" + std::wstring(255, L'g');   // 259 with its backslash
    auto r =
        Cvpack(L"manifest --out " + Arg(out) + L"--key CorvaneNotes --name " + Arg(L"Corvane Notes") +
               L"--shortcut C:\\s.lnk --file C:\\P\\a.txt --dir C:\\P\\plugins --file " + Arg(longFile) + L"--dir " +
               Arg(L"C:\\P\\lang\\") + L"--dir " + Arg(longDir) + L"--shortcut " + Arg(L"C:\\Start Menu\\x.lnk"));
    ASSERT_EQ(r.exitCode, 0u) << r.output;

    ManifestBytes want;
    want.Header(L"CorvaneNotes", L"Corvane Notes", L"", L"")
        .Int(5)
        .Entry(1, L"C:\\P\\a.txt")
        .Entry(0, L"C:\\P\\plugins\\")
        .Entry(1, longFile)
        .Entry(0, L"C:\\P\\lang\\")
        .Entry(0, longDir + L"\\")
        .Int(2)
        .Entry(1, L"C:\\s.lnk")
        .Entry(1, L"C:\\Start Menu\\x.lnk");
    EXPECT_TRUE(SameBytes(cvtest::ReadFileBytes(out), want.str()));

    CCvUninstaller engine;
    ASSERT_TRUE(engine.ReadManifest(out.c_str()));
    EXPECT_STREQ(engine.header.uninstallKey, L"CorvaneNotes");
    EXPECT_STREQ(engine.header.installDir, L"");
    const struct {
        int isFile;
        std::wstring path;
    } files[] = {
        {1, L"C:\\P\\a.txt"}, {0, L"C:\\P\\plugins\\"}, {1, longFile}, {0, L"C:\\P\\lang\\"}, {0, longDir + L"\\"}};
    ASSERT_EQ(engine.files.size(), 5u);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(engine.files[i].isFile != 0, files[i].isFile != 0) << i;
        EXPECT_EQ(std::wstring(engine.files[i].path), files[i].path) << i;
    }
    ASSERT_EQ(engine.shortcuts.size(), 2u);
    EXPECT_STREQ(engine.shortcuts[1].path, L"C:\\Start Menu\\x.lnk");
}

TEST_F(CvpackTest, RefusesWhatTheManifestCannotHoldAndWritesNothing)
{
    const std::wstring o = L"--out " + Arg(out);
    const std::wstring long100(100, L'k'), long50(50, L'n'), long30(30, L'm');
    const std::wstring dir200 = L"C:\\" + std::wstring(197, L'd'), path260 = L"C:\\" + std::wstring(257, L'p');
    const std::wstring dir259 = L"C:\\" + std::wstring(256, L'g');  // 260 once its backslash is added
    struct Case {
        std::wstring args;
        std::vector<std::string> message;  // all of these in the one line on stderr
    } cases[] = {
        {o + L"--key " + Arg(long100), {"--key", "100", "99"}},
        {o + L"--name " + Arg(long50), {"--name", "50", "49"}},
        {o + L"--startmenu " + Arg(long30), {"--startmenu", "30", "29"}},
        {o + L"--installdir " + Arg(dir200), {"--installdir", "200", "199"}},
        {o + L"--file " + Arg(path260), {"--file", "260", "259"}},
        {o + L"--dir " + Arg(dir259), {"--dir", "260", "259", "backslash"}},
        {o + L"--shortcut " + Arg(path260), {"--shortcut", "260", "259"}},
        {o + L"--installdir C:\\P --file C:\\P\\a.txt", {"--file", "--installdir"}},
        {o + L"--dir C:\\Q --installdir C:\\P", {"--dir", "--installdir"}},
        {o + L"--file relative\\a.txt", {"--file", "full path"}},
        {o + L"--installdir C:\\", {"--installdir", "never removes"}},
        {o + L"--installdir \"C:\\Program Files (x86)\"", {"--installdir", "never removes"}},
        {o + L"--dir C:\\windows\\system32\\", {"--dir", "never removes"}},
        {o + L"--key K --key L", {"--key", "more than once"}},
        {o + L"--colour blue", {"unknown option --colour"}},
        {o + L"--name", {"--name", "needs a value"}},
        {L"--key K --name N", {"--out", "required"}},
        {o + L"stray", {"unexpected argument stray"}},
    };
    for (const Case& c : cases) {
        auto r = Cvpack(L"manifest " + c.args);
        std::string what = cvtest::Narrow(c.args);
        EXPECT_EQ(r.exitCode, 2u) << what;
        EXPECT_EQ(r.output.rfind("cvpack manifest: ", 0), 0u) << what << "\n" << r.output;
        EXPECT_EQ(r.output.find('\n'), r.output.size() - 1) << "one line: " << r.output;
        for (const std::string& part : c.message)
            EXPECT_NE(r.output.find(part), std::string::npos) << what << "\n" << r.output;
        EXPECT_TRUE(Listing(dir.path()).empty()) << what;
    }
}

TEST_F(CvpackTest, WriteReplacesAWholeManifestOrLeavesTheTargetAlone)
{
    cvtest::WriteFile(out, std::string(5000, 'x'));
    auto r = Cvpack(L"manifest --out " + Arg(out) + L"--installdir C:\\P");
    ASSERT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_EQ(cvtest::ReadFileBytes(out).size(), 764u);  // the old, longer content is gone
    EXPECT_EQ(Listing(dir.path()), std::vector<std::wstring>{L"cvUninstall.dat"});

    // A target that cannot be replaced (a folder): failure, and the
    // temporary file beside it is gone again.
    std::wstring folder = dir / L"taken";
    cvtest::MakeDirs(folder);
    r = Cvpack(L"manifest --out " + Arg(folder) + L"--installdir C:\\P");
    EXPECT_EQ(r.exitCode, 1u) << r.output;
    EXPECT_NE(r.output.find("cvpack manifest: cannot write"), std::string::npos) << r.output;
    EXPECT_EQ(Listing(dir.path()), (std::vector<std::wstring>{L"cvUninstall.dat", L"taken"}));
    EXPECT_TRUE(Listing(folder + L"\\").empty());
}

TEST_F(CvpackTest, ShowPrintsEveryFieldAndEntry)
{
    const std::wstring kName = L"Corvane N\u00F6tes \u7B14\u8BB0";  // printed as UTF-8
    auto r = Cvpack(L"manifest --out " + Arg(out) + L"--key CorvaneNotes --name " + Arg(kName) +
                    L"--startmenu Corvane --file C:\\P\\a.txt --dir C:\\P\\lang --shortcut C:\\s.lnk");
    ASSERT_EQ(r.exitCode, 0u) << r.output;
    r = Cvpack(L"show " + Arg(out));
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    const std::string lines[] = {"key:          \"CorvaneNotes\"\n",
                                 "product:      \"" + cvtest::Narrow(kName) + "\"\n",
                                 "start menu:   \"Corvane\"\n",
                                 "install dir:  \"\"\n",
                                 "files:        2\n",
                                 "  1. file \"C:\\P\\a.txt\"\n",
                                 "  2. dir  \"C:\\P\\lang\\\"\n",
                                 "shortcuts:    1\n",
                                 "  1. \"C:\\s.lnk\"\n"};
    for (const std::string& line : lines)
        EXPECT_NE(r.output.find(line), std::string::npos) << line << "\n" << r.output;

    // With an installation folder and no shortcut list at all (the list is
    // optional in the format).
    cvtest::WriteFile(out, ManifestBytes().Header(L"K", L"N", L"M", L"C:\\P\\").str());
    r = Cvpack(L"show " + Arg(out));
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_NE(r.output.find("install dir:  \"C:\\P\\\""), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("shortcuts:    none"), std::string::npos) << r.output;
}

// A count of 0 or less means an empty list, and what follows it is read on:
// such a manifest is valid, and the uninstaller reads it the same way.
TEST_F(CvpackTest, ShowTakesCountsOfZeroOrLessAsNoEntries)
{
    struct Case {
        const char* what;
        std::string bytes;
        std::vector<std::string> lines;
    } cases[] = {
        {"negative file count",
         ManifestBytes().Header(L"K", L"N", L"M", L"").Int(-2).Int(1).Entry(1, L"C:\\s.lnk").str(),
         {"files:        no entries (count -2)\n", "shortcuts:    1\n", "  1. \"C:\\s.lnk\"\n"}},
        {"lowest shortcut count",
         ManifestBytes().Header(L"K", L"N", L"M", L"").Int(1).Entry(1, L"C:\\a").Int(INT32_MIN).str(),
         {"files:        1\n", "shortcuts:    no entries (count -2147483648)\n"}},
        {"zero counts", ManifestBytes().Header(L"K", L"N", L"M", L"").Int(0).Int(0).str(),
         {"files:        no entries (count 0)\n", "shortcuts:    no entries (count 0)\n"}},
    };
    for (const Case& c : cases) {
        cvtest::WriteFile(out, c.bytes);
        auto r = Cvpack(L"show " + Arg(out));
        EXPECT_EQ(r.exitCode, 0u) << c.what << "\n" << r.output;
        for (const std::string& line : c.lines)
            EXPECT_NE(r.output.find(line), std::string::npos) << c.what << ": " << line << "\n" << r.output;
    }
}

TEST_F(CvpackTest, ShowReportsDamage)
{
    // A good manifest: header (760), file count (4), two files, shortcut
    // count, one shortcut. Each case damages a copy of it.
    ManifestBytes good;
    good.Header(L"K", L"Name", L"Menu", L"")
        .Int(2)
        .Entry(1, L"C:\\a")
        .Entry(0, L"C:\\b\\")
        .Int(1)
        .Entry(1, L"C:\\s.lnk");
    const std::string g = good.str();
    ASSERT_EQ(g.size(), 760u + 4 + 2 * 524 + 4 + 524);
    auto withInt = [&](size_t at, int32_t v) {
        std::string s = g;
        for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
        return s;
    };
    auto filled = [&](size_t at, size_t bytes) {  // 'Z' characters with no terminator
        std::string s = g;
        for (size_t i = 0; i < bytes; i += 2) {
            s[at + i] = 'Z';
            s[at + i + 1] = 0;
        }
        return s;
    };
    const size_t shortcutCount = 760 + 4 + 2 * 524;
    struct Case {
        const char* what;
        std::string bytes;
        const char* message;
    } cases[] = {
        {"truncated header", g.substr(0, 500), "shorter than the 760-byte header"},
        {"empty file", std::string(), "shorter than the 760-byte header"},
        {"unterminated name", filled(200, 100), "product field (offset 200, 50 characters) has no terminator"},
        {"unterminated install dir", filled(360, 400), "install dir field"},
        {"file count too large", withInt(760, 1000),
         "is 1000 (at offset 760) but the rest of the file holds at most 3"},
        {"shortcut count too large", withInt(shortcutCount, 2), "shortcut list is 2"},
        {"unterminated entry path", filled(760 + 4 + 524 + 4, 520), "entry 2 of 2 in the file list has a path without"},
        {"cut entry", g.substr(0, g.size() - 100), "entry 1 of 1 in the shortcut list is cut short: 424 of 524"},
        {"cut count", g.substr(0, shortcutCount + 2), "ends inside the count of the shortcut list (2 of 4"},
        {"no file count", g.substr(0, 760), "ends before the count of the file list"},
        {"trailing bytes", g + "abc", "3 bytes are left over after the shortcut list"},
    };
    for (const Case& c : cases) {
        cvtest::WriteFile(out, c.bytes);
        auto r = Cvpack(L"show " + Arg(out));
        EXPECT_EQ(r.exitCode, 1u) << c.what << "\n" << r.output;
        EXPECT_NE(r.output.find("cvpack show: damaged manifest"), std::string::npos) << c.what << "\n" << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << c.what << "\n" << r.output;
        // Nothing of an unterminated field is printed, nor what follows it.
        EXPECT_EQ(r.output.find("ZZZZ"), std::string::npos) << c.what << "\n" << r.output;
    }

    auto r = Cvpack(L"show " + Arg(dir / L"missing.dat"));
    EXPECT_EQ(r.exitCode, 1u) << r.output;
    EXPECT_NE(r.output.find("cannot open"), std::string::npos) << r.output;
    r = Cvpack(L"show");
    EXPECT_EQ(r.exitCode, 2u) << r.output;
}

TEST_F(CvpackTest, ShortcutReadsBackThroughTheShell)
{
    std::wstring target = dir / L"Corvane Notes\\Notes.exe";
    cvtest::WriteFile(target, "MZ");
    std::wstring lnk = dir / L"Start Menu\\Corvane Notes\\Corvane Notes.lnk";  // its folder is not there yet
    auto r = Cvpack(L"shortcut " + Arg(lnk) + Arg(target) + L"--args " + Arg(L"--open \"my notes.txt\"") +
                    L"--workdir " + Arg(dir / L"Corvane Notes"));
    ASSERT_EQ(r.exitCode, 0u) << r.output;
    ASSERT_TRUE(cvtest::Exists(lnk));

    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    {
        IShellLinkW* link = nullptr;
        ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                               reinterpret_cast<void**>(&link))));
        IPersistFile* file = nullptr;
        EXPECT_TRUE(SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))));
        wchar_t path[MAX_PATH] = {}, args[MAX_PATH] = {}, work[MAX_PATH] = {};
        if (file) {
            EXPECT_TRUE(SUCCEEDED(file->Load(lnk.c_str(), STGM_READ)));
            link->GetPath(path, MAX_PATH, nullptr, SLGP_RAWPATH);
            link->GetArguments(args, MAX_PATH);
            link->GetWorkingDirectory(work, MAX_PATH);
            file->Release();
        }
        link->Release();
        EXPECT_EQ(std::wstring(path), target);
        EXPECT_EQ(std::wstring(args), L"--open \"my notes.txt\"");
        EXPECT_EQ(std::wstring(work), dir / L"Corvane Notes");
    }
    CoUninitialize();

    const struct {
        std::wstring args;
        DWORD exit;
    } refusals[] = {
        {Arg(dir / L"x.txt") + Arg(target), 2u},  // not a .lnk
        {Arg(dir / L"x.lnk"), 2u},                // no target
        {Arg(dir / L"x.lnk") + Arg(target) + L"--icon a", 2u},
    };
    for (const auto& c : refusals) {
        r = Cvpack(L"shortcut " + c.args);
        EXPECT_EQ(r.exitCode, c.exit) << r.output;
        EXPECT_NE(r.output.find("cvpack shortcut: "), std::string::npos) << r.output;
    }
    EXPECT_FALSE(cvtest::Exists(dir / L"x.lnk"));
    EXPECT_FALSE(cvtest::Exists(dir / L"x.txt"));
}

TEST_F(CvpackTest, UsageOnNoOrUnknownCommand)
{
    for (const wchar_t* args : {L"", L"pack --out x"}) {
        auto r = Cvpack(args);
        EXPECT_EQ(r.exitCode, 2u) << r.output;
        for (const char* part :
             {"usage:", "cvpack manifest --out FILE", "cvpack show FILE", "cvpack shortcut LNK TARGET"})
            EXPECT_NE(r.output.find(part), std::string::npos) << part << "\n" << r.output;
    }
}

// The settings record goes into an executable as resource "BIN" 8029; any
// PE file we build will do as the uninstaller's stand-in.
TEST_F(CvpackTest, SettingsRecordIsWrittenIntoACopyAndShown)
{
    const std::wstring original = cvtest::BinDir() + L"engine_probe.exe";
    const std::wstring copy = dir / L"Uninstall.exe";
    const std::wstring url = L"https://" + std::wstring(191, L'u');  // 199 characters
    auto r = Cvpack(L"settings " + Arg(original) + L"--out " + Arg(copy) + L"--farewell " + Arg(url) +
                    L"--secondary " + Arg(L"tools\\unins000.exe") + L"--whole-dir");
    ASSERT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_EQ(CvResSizeEx(original.c_str(), 8029, L"BIN"), 0);  // the original is untouched

    // The bytes as the uninstaller reads them.
    ASSERT_EQ(CvResSizeEx(copy.c_str(), 8029, L"BIN"), 1984);
    std::string record(1984, '\xEE');
    ASSERT_EQ(CvResGetBuffEx(copy.c_str(), 8029, L"BIN", &record[0], 1984), 1);
    std::string want = ManifestBytes().Zeros(1060).Field(url, 200).Field(L"tools\\unins000.exe", 260).Int(1).str();
    EXPECT_TRUE(SameBytes(record, want));

    r = Cvpack(L"show " + Arg(copy));
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    for (const std::string& line : {"farewell:     \"" + cvtest::Narrow(url) + "\"",
                                    std::string("secondary:    \"tools\\unins000.exe\""),
                                    std::string("whole dir:    yes")})
        EXPECT_NE(r.output.find(line), std::string::npos) << line << "\n" << r.output;

    // Written again in place: an empty farewell page and no whole-folder flag.
    r = Cvpack(L"settings " + Arg(copy));
    ASSERT_EQ(r.exitCode, 0u) << r.output;
    r = Cvpack(L"show " + Arg(copy));
    EXPECT_NE(r.output.find("farewell:     \"\" (none: no page is opened)"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("whole dir:    no"), std::string::npos) << r.output;

    r = Cvpack(L"show " + Arg(original));
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_NE(r.output.find("settings:     none"), std::string::npos) << r.output;
}

TEST_F(CvpackTest, SettingsRefusalsAndDamagedRecords)
{
    const std::wstring exe = dir / L"Uninstall.exe";
    ASSERT_TRUE(CopyFileW((cvtest::BinDir() + L"engine_probe.exe").c_str(), exe.c_str(), FALSE));
    const std::string before = cvtest::ReadFileBytes(exe);
    struct Case {
        std::wstring args;
        unsigned exitCode;
        std::string message;
    } cases[] = {
        {Arg(exe) + L"--farewell " + Arg(std::wstring(200, L'f')), 2, "--farewell is 200 characters"},
        {Arg(exe) + L"--secondary " + Arg(std::wstring(260, L's')), 2, "--secondary is 260 characters"},
        {Arg(exe) + L"--secondary C:\\other\\unins.exe", 2, "uninstaller's folder"},
        {Arg(exe) + L"--secondary ..\\unins.exe", 2, "uninstaller's folder"},
        {Arg(exe) + L"--secondary \\unins.exe", 2, "uninstaller's folder"},
        {Arg(exe) + L"--colour blue", 2, "unknown option"},
        {L"", 2, "exactly one executable"},
        {Arg(dir / L"missing.exe"), 1, "cannot open"},
        {Arg(out), 1, "not a Windows executable"},
    };
    cvtest::WriteFile(out, "not an executable");
    for (const Case& c : cases) {
        auto r = Cvpack(L"settings " + c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << cvtest::Narrow(c.args) << "\n" << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
    }
    EXPECT_TRUE(cvtest::ReadFileBytes(exe) == before);

    // Records that are not what the uninstaller expects are reported.
    std::string shortRecord(100, '\0');
    ASSERT_EQ(CvResUpdate2(exe.c_str(), 8029, L"BIN", shortRecord.data(), 100), 1);
    auto r = Cvpack(L"show " + Arg(exe));
    EXPECT_EQ(r.exitCode, 1u) << r.output;
    EXPECT_NE(r.output.find("it is 100 bytes, not 1984"), std::string::npos) << r.output;

    std::string unterminated =
        ManifestBytes().Zeros(1060).Field(L"", 200).str() + std::string(520, 'a') + std::string(4, '\0');
    ASSERT_EQ(CvResUpdate2(exe.c_str(), 8029, L"BIN", unterminated.data(), 1984), 1);
    r = Cvpack(L"show " + Arg(exe));
    EXPECT_EQ(r.exitCode, 1u) << r.output;
    EXPECT_NE(r.output.find("the secondary field has no terminator"), std::string::npos) << r.output;
}
