// Whole uninstalls in the prefix: a product staged the way its installer
// leaves it (cvpack), the uninstaller (a driver linked with the real engine,
// under the image name Uninstall.exe) run as a child process, and everything
// checked from outside once its removal script has run.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "base/cvhandle.h"
#include "support/http_server.h"
#include "support/test_support.h"
#include "support/threads.h"

using cvtest::Exists;
using cvtest::WriteFile;

namespace {

const wchar_t kUninstallRoot[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char kSilent[] = "/s /S /SILENT /silent /quiet /noreboot /verysilent /sp /norestart /q /qn /SilentInstall";


// The lines of a file, without their line ends.
std::vector<std::string> Lines(const std::wstring& file)
{
    std::vector<std::string> lines;
    std::string all = cvtest::ReadFileBytes(file);
    size_t start = 0;
    for (size_t nl; (nl = all.find('\n', start)) != std::string::npos; start = nl + 1) {
        std::string line = all.substr(start, nl - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// What is left below a folder, for failure messages.
std::string Left(const std::wstring& dir)
{
    std::string out;
    WIN32_FIND_DATAW fd;
    CvFindHandle h(FindFirstFileW((dir + L"*").c_str(), &fd));
    if (!h) return "(nothing)";
    do {
        std::wstring n = fd.cFileName;
        if (n == L"." || n == L"..") continue;
        out += " " + cvtest::Narrow(n);
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) out += "/{" + Left(dir + n + L"\\") + " }";
    } while (FindNextFileW(h.get(), &fd));
    return out;
}

std::string Joined(const std::vector<std::string>& lines)
{
    std::string out;
    for (const std::string& l : lines) out += l + "\n";
    return out;
}

bool KeyExists(const std::wstring& key)
{
    CvRegKey k;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, k.put()) == ERROR_SUCCESS;
}

bool WaitGone(const std::wstring& path) { return cvtest::WaitUntil([&] { return !Exists(path); }, 30000); }

// URLs opened through the shell go to a copy of the recorder under an image
// name of this test program's own, so that opening the farewell page is seen
// (and waited for), and never reaches a browser.
class UrlHandler {
public:
    explicit UrlHandler(const std::wstring& folder)
        : image(L"e2e-pages-" + std::to_wstring(GetCurrentProcessId()) + L".exe")
    {
        CopyFileW((cvtest::BinDir() + L"sys_recorder.exe").c_str(), (folder + image).c_str(), FALSE);
        std::wstring command = L"\"" + folder + image + L"\" \"%1\"";
        for (const wchar_t* scheme : {L"http", L"https"}) {
            CvRegKey key;
            RegCreateKeyExW(HKEY_CLASSES_ROOT, (std::wstring(scheme) + L"\\shell\\open\\command").c_str(), 0,
                            nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
            DWORD size = sizeof(saved[0]) - 2;
            wchar_t* slot = saved[scheme[4] == L's' ? 1 : 0];
            if (RegQueryValueExW(key.get(), nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(slot), &size) !=
                ERROR_SUCCESS)
                slot[0] = L'\0';
            RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                           static_cast<DWORD>((command.size() + 1) * 2));
        }
    }
    ~UrlHandler()  // the prefix's own handler again
    {
        for (const wchar_t* scheme : {L"http", L"https"}) {
            CvRegKey key;
            if (RegOpenKeyExW(HKEY_CLASSES_ROOT, (std::wstring(scheme) + L"\\shell\\open\\command").c_str(), 0,
                              KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS)
                continue;
            const wchar_t* slot = saved[scheme[4] == L's' ? 1 : 0];
            RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(slot),
                           static_cast<DWORD>((wcslen(slot) + 1) * 2));
        }
    }

    // The recorder's image name: no other program runs one of that name.
    const std::wstring image;

private:
    wchar_t saved[2][600] = {};
};

class Uninstall : public ::testing::Test {
protected:
    void SetUp() override
    {
        tag = std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
        name = L"Corvane Test " + tag;
        key = L"CorvaneTest" + tag;
        dir = cvtest::SpecialFolder(CSIDL_PROGRAM_FILES) + L"\\Corvane\\" + name + L" 100%\\";
        menu = cvtest::SpecialFolder(CSIDL_PROGRAMS) + L"\\" + name;
        desktopLnk = cvtest::SpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\" + name + L".lnk";
        record = scratch / (L"record-" + tag + L".txt");
        SetEnvironmentVariableW(L"CV_RECORD_FILE", record.c_str());
        SetEnvironmentVariableW(L"CV_RECORD_SLEEP_MS", L"300");
        DeleteFileW(L"c:\\clear.bat");
        RemoveDirectoryW(L"c:\\clear.bat");
    }
    void TearDown() override
    {
        cvtest::RemoveTree(dir);
        cvtest::RemoveTree(menu);
        DeleteFileW(desktopLnk.c_str());
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, (kUninstallRoot + key).c_str());
        RemoveDirectoryW(L"c:\\clear.bat");
        DeleteFileW(L"c:\\clear.bat");
    }

    int Cvpack(const std::wstring& args)
    {
        auto r = cvtest::Run(cvtest::BinDir() + L"cvpack.exe", args);
        EXPECT_EQ(r.exitCode, 0u) << cvtest::Narrow(args) << "\n" << r.output;
        return static_cast<int>(r.exitCode);
    }

    // The product as its installer leaves it: files, the uninstaller, the
    // uninstall key, a Start-menu folder with a shortcut, a public desktop
    // shortcut.
    void StageProduct(int extraFiles = 0)
    {
        for (const wchar_t* f : {L"Notes.exe", L"readme.txt", L"plugins\\spell.dll", L"plugins\\themes\\dark.ini",
                                 L"lang\\en.ini"})
            WriteFile(dir + f, "product file");
        for (int i = 0; i < extraFiles; ++i)
            WriteFile(dir + L"data\\set" + std::to_wstring(i % 20) + L"\\item" + std::to_wstring(i) + L".bin", "d");
        ASSERT_TRUE(CopyFileW((cvtest::BinDir() + L"uninstall_driver.exe").c_str(), (dir + L"Uninstall.exe").c_str(),
                              FALSE));
        CvRegKey k;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (kUninstallRoot + key).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, k.put(), nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(k.get(), L"DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                       static_cast<DWORD>((name.size() + 1) * 2));
        Cvpack(L"shortcut " + cvtest::Arg(menu + L"\\" + name + L".lnk") + cvtest::Arg(dir + L"Notes.exe"));
        Cvpack(L"shortcut " + cvtest::Arg(desktopLnk) + cvtest::Arg(dir + L"Notes.exe"));
    }

    void Settings(const std::wstring& farewell, const std::wstring& secondary, bool wholeDir)
    {
        std::wstring args = L"settings " + cvtest::Arg(dir + L"Uninstall.exe") + L"--farewell " + cvtest::Arg(farewell);
        if (!secondary.empty()) args += L"--secondary " + cvtest::Arg(secondary);
        if (wholeDir) args += L"--whole-dir";
        Cvpack(args);
    }

    // Runs the uninstaller and waits for its script (if any) to finish and
    // for every page it opened to be recorded. Its reports go to this test's
    // server, its home page is one of that server's addresses.
    DWORD RunUninstaller()
    {
        SetEnvironmentVariableW(L"CV_REPORT_SERVER", reports.wbase().c_str());
        SetEnvironmentVariableW(L"CV_HOME_PAGE", (reports.wbase() + L"/home").c_str());
        auto r = cvtest::Run(dir + L"Uninstall.exe", L"", 120000);
        EXPECT_TRUE(WaitGone(L"c:\\clear.bat")) << "the removal script did not finish";
        EXPECT_TRUE(cvtest::WaitNoProcess(urls.image.c_str())) << "a page recorder did not end";
        return r.exitCode;
    }

    // The driver's progress messages, in order.
    std::vector<std::string> Progress()
    {
        std::vector<std::string> p;
        for (const std::string& l : Lines(record))
            if (l.rfind("sent ", 0) == 0 || l.rfind("posted ", 0) == 0) p.push_back(l);
        return p;
    }

    cvtest::ScratchDir scratch{L"e2e"};
    cvtest::HttpServer reports;
    UrlHandler urls{scratch.path()};
    static int counter;
    std::wstring tag, name, key, dir, menu, desktopLnk, record;
};
int Uninstall::counter = 0;

std::vector<std::string> Percentages(int total)
{
    std::vector<std::string> p;
    for (int done = 1; done <= total; ++done) p.push_back("sent " + std::to_string(done * 100 / total));
    return p;
}

}  // namespace

TEST_F(Uninstall, TheWholeRoad)
{
    StageProduct();
    WriteFile(scratch / L"listed.lnk");
    WriteFile(scratch / L"listed.url");
    Cvpack(L"manifest --out " + cvtest::Arg(dir + L"cvUninstall.dat") + L"--key " + cvtest::Arg(key) + L"--name " + cvtest::Arg(name) +
           L"--startmenu " + cvtest::Arg(name) + L"--installdir " + cvtest::Arg(dir) + L"--shortcut " +
           cvtest::Arg(scratch / L"listed.lnk") + L"--shortcut " + cvtest::Arg(scratch / L"listed.url"));
    ASSERT_TRUE(CopyFileW((cvtest::BinDir() + L"sys_recorder.exe").c_str(), (dir + L"unins000.exe").c_str(), FALSE));
    Settings(reports.wbase() + L"/farewell?p=" + tag, L"unins000.exe", false);

    // Another program of the same image name, busy with its own work: the
    // script must end this uninstaller only.
    cvtest::MakeDirs(scratch / L"bystander");
    std::wstring bystander = scratch / L"bystander\\Uninstall.exe";
    ASSERT_TRUE(CopyFileW((cvtest::BinDir() + L"sys_recorder.exe").c_str(), bystander.c_str(), FALSE));
    std::wstring gateName = L"cvtest-e2e-gate-" + tag;
    CvHandle gate(CreateEventW(nullptr, TRUE, FALSE, gateName.c_str()));
    std::wstring bystanderRecord = scratch / L"bystander.txt";
    SetEnvironmentVariableW(L"CV_RECORD_FILE", bystanderRecord.c_str());
    SetEnvironmentVariableW(L"CV_RECORD_GATE", gateName.c_str());
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    std::wstring line = L"\"" + bystander + L"\"";
    ASSERT_TRUE(CreateProcessW(bystander.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    CvHandle bystanderProcess(pi.hProcess);
    CloseHandle(pi.hThread);
    struct EndOnExit {  // a test that fails half-way leaves no program behind
        HANDLE process;
        ~EndOnExit()
        {
            if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) TerminateProcess(process, 9);
        }
    } endBystander{bystanderProcess.get()};
    SetEnvironmentVariableW(L"CV_RECORD_FILE", record.c_str());
    SetEnvironmentVariableW(L"CV_RECORD_GATE", nullptr);

    EXPECT_EQ(RunUninstaller(), 0u);

    // The other "Uninstall.exe" lived through it, and ends normally when let go.
    EXPECT_EQ(WaitForSingleObject(bystanderProcess.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    SetEvent(gate.get());
    EXPECT_EQ(WaitForSingleObject(bystanderProcess.get(), 30000), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD bystanderExit = 1;
    GetExitCodeProcess(bystanderProcess.get(), &bystanderExit);
    EXPECT_EQ(bystanderExit, 0u);
    EXPECT_EQ(Lines(bystanderRecord).back(), "end");

    // The secondary uninstaller ran hidden with the silent parameters and
    // was waited for: it ended before the first file went.
    std::vector<std::string> lines = Lines(record);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "start");
    EXPECT_EQ(lines[1], std::string("start show=0 args=") + kSilent);
    EXPECT_EQ(lines[2], "end");
    // Every file below the folder counts: 5 product files, the uninstaller,
    // the manifest and the secondary uninstaller.
    std::vector<std::string> want = Percentages(8);
    want.push_back("posted 100");
    EXPECT_EQ(Progress(), want);
    // The farewell page, opened through the shell.
    bool farewell = false;
    for (const std::string& l : lines)
        farewell |= l.rfind("start show=5 args=", 0) == 0 &&
                    l.find(cvtest::Narrow(reports.wbase()) + "/farewell?p=" + cvtest::Narrow(tag)) != std::string::npos;
    EXPECT_TRUE(farewell) << "farewell page not opened:\n" << Joined(lines);

    // The report, with the product name.
    auto requests = reports.WaitForRequests(1);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "/api/report.asp");
    EXPECT_NE(requests[0].body.find("type=uninstall&value=Corvane%20Test%20" + cvtest::Narrow(tag) + "&uuid="),
              std::string::npos)
        << requests[0].body;

    EXPECT_FALSE(KeyExists(kUninstallRoot + key));
    EXPECT_FALSE(Exists(menu));
    EXPECT_FALSE(Exists(desktopLnk));
    EXPECT_FALSE(Exists(scratch / L"listed.lnk"));
    EXPECT_FALSE(Exists(scratch / L"listed.url"));
    // And the script removed the uninstaller and its folder (whose name has
    // a "%" in it), and itself.
    EXPECT_FALSE(Exists(dir + L"Uninstall.exe"));
    EXPECT_FALSE(Exists(dir)) << Left(dir);
    EXPECT_FALSE(Exists(L"c:\\clear.bat"));
}

namespace {

// The lines the URL recorder wrote: "start show=5 args=..." per page opened.
std::vector<std::string> PagesOpened(const std::vector<std::string>& lines)
{
    std::vector<std::string> pages;
    for (const std::string& l : lines)
        if (l.rfind("start show=5 args=", 0) == 0) pages.push_back(l.substr(18));
    return pages;
}

}  // namespace

TEST_F(Uninstall, ListedEntriesWithoutSettings)
{
    StageProduct();
    // Two files and a folder of two files elsewhere, listed; the product
    // folder itself is not.
    std::wstring other = scratch / (L"listed-" + tag + L"\\");
    for (const wchar_t* f : {L"one.txt", L"two.txt", L"folder\\a.txt", L"folder\\b.txt", L"kept.txt"})
        WriteFile(other + f);
    Cvpack(L"manifest --out " + cvtest::Arg(dir + L"cvUninstall.dat") + L"--key " + cvtest::Arg(key) + L"--name " + cvtest::Arg(name) +
           L"--startmenu " + cvtest::Arg(name) + L"--file " + cvtest::Arg(other + L"one.txt") + L"--dir " +
           cvtest::Arg(other + L"folder\\") + L"--file " + cvtest::Arg(other + L"two.txt"));

    EXPECT_EQ(RunUninstaller(), 0u);
    // A total of 4, but only the folder's files advance the count (25, 50);
    // the shortcut in the Start-menu folder advances it once more (75).
    EXPECT_EQ(Progress(), (std::vector<std::string>{"sent 25", "sent 50", "sent 75", "posted 100"}));
    EXPECT_FALSE(Exists(other + L"one.txt"));
    EXPECT_FALSE(Exists(other + L"two.txt"));
    EXPECT_FALSE(Exists(other + L"folder"));
    EXPECT_TRUE(Exists(other + L"kept.txt"));
    EXPECT_FALSE(KeyExists(kUninstallRoot + key));
    EXPECT_FALSE(Exists(menu));
    // Without a settings record the maker's home page opens.
    EXPECT_EQ(PagesOpened(Lines(record)), std::vector<std::string>{"\"" + cvtest::Narrow(reports.wbase()) + "/home\""});
    // The script removes the uninstaller only: there is no installation
    // folder in the manifest, and the product's own files were not listed.
    EXPECT_FALSE(Exists(dir + L"Uninstall.exe"));
    EXPECT_TRUE(Exists(dir + L"readme.txt"));
}

TEST_F(Uninstall, WholeFolderFlagWithAFileList)
{
    StageProduct();
    std::wstring elsewhere = scratch / (L"listed-" + tag + L".txt");
    WriteFile(elsewhere);
    Cvpack(L"manifest --out " + cvtest::Arg(dir + L"cvUninstall.dat") + L"--key " + cvtest::Arg(key) + L"--name " + cvtest::Arg(name) +
           L"--file " + cvtest::Arg(elsewhere));
    Settings(L"", L"", true);  // empty farewell page, whole folder

    EXPECT_EQ(RunUninstaller(), 0u);
    // The whole program folder (7 files) instead of the listed file.
    std::vector<std::string> want = Percentages(7);
    want.push_back("posted 100");
    EXPECT_EQ(Progress(), want);
    EXPECT_TRUE(Exists(elsewhere));
    EXPECT_FALSE(Exists(dir + L"readme.txt"));
    EXPECT_FALSE(Exists(dir + L"plugins"));
    EXPECT_TRUE(PagesOpened(Lines(record)).empty());  // an empty farewell page opens nothing
    // No installation folder in the manifest: the script takes the
    // uninstaller, the emptied folder stays.
    EXPECT_FALSE(Exists(dir + L"Uninstall.exe"));
    EXPECT_TRUE(Exists(dir));
}

TEST_F(Uninstall, NoManifestTouchesNothing)
{
    StageProduct();
    Settings(reports.wbase() + L"/bye", L"missing-unins.exe", false);  // named but not there
    EXPECT_EQ(RunUninstaller(), 0u);
    std::vector<std::string> lines = Lines(record);
    // 100 at once, nothing sent; the process ends on that first 100, before
    // the worker's second one arrives.
    EXPECT_EQ(Progress(), std::vector<std::string>{"posted 100"}) << Joined(lines);
    EXPECT_TRUE(KeyExists(kUninstallRoot + key));
    EXPECT_TRUE(Exists(menu));
    EXPECT_TRUE(Exists(desktopLnk));
    EXPECT_TRUE(Exists(dir + L"readme.txt"));
    // The uninstaller has ended, and with it any report thread it had.
    EXPECT_TRUE(reports.Requests().empty());  // nothing reported
    EXPECT_EQ(PagesOpened(lines), std::vector<std::string>{"\"" + cvtest::Narrow(reports.wbase()) + "/bye\""});
    EXPECT_FALSE(Exists(dir + L"Uninstall.exe"));  // the script still takes the uninstaller
}

TEST_F(Uninstall, ScriptThatCannotBeWrittenLeavesTheProgram)
{
    StageProduct();
    Cvpack(L"manifest --out " + cvtest::Arg(dir + L"cvUninstall.dat") + L"--key " + cvtest::Arg(key) + L"--name " + cvtest::Arg(name) +
           L"--installdir " + cvtest::Arg(dir));
    ASSERT_TRUE(CreateDirectoryW(L"c:\\clear.bat", nullptr));  // in the way of the script
    auto r = cvtest::Run(dir + L"Uninstall.exe", L"", 120000);
    EXPECT_EQ(r.exitCode, 3u);  // the driver closed normally after DeleteSelf returned
    std::vector<std::string> lines = Lines(record);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "script-not-written") << Joined(lines);
    EXPECT_FALSE(KeyExists(kUninstallRoot + key));
    EXPECT_FALSE(Exists(dir + L"readme.txt"));
    EXPECT_TRUE(Exists(dir + L"Uninstall.exe"));
}

TEST_F(Uninstall, ThousandsOfFilesLeaveNothing)
{
    StageProduct(3000);
    Cvpack(L"manifest --out " + cvtest::Arg(dir + L"cvUninstall.dat") + L"--key " + cvtest::Arg(key) + L"--name " + cvtest::Arg(name) +
           L"--startmenu " + cvtest::Arg(name) + L"--installdir " + cvtest::Arg(dir));
    EXPECT_EQ(RunUninstaller(), 0u);
    std::vector<std::string> progress = Progress();
    ASSERT_FALSE(progress.empty());
    // One per file: the 3007 of the folder and the Start-menu shortcut
    // (3008 of 3007 is still 100), then the posted 100.
    EXPECT_EQ(progress.size(), 3008u + 1);
    EXPECT_EQ(progress[3006], "sent 100");
    EXPECT_EQ(progress[3007], "sent 100");
    EXPECT_EQ(progress.back(), "posted 100");
    EXPECT_FALSE(Exists(dir)) << Left(dir);
    EXPECT_FALSE(KeyExists(kUninstallRoot + key));
    EXPECT_FALSE(Exists(menu));
    EXPECT_FALSE(Exists(desktopLnk));
}
