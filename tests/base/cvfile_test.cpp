#include <gtest/gtest.h>

#include <objbase.h>

#include <cstring>
#include <string>
#include <thread>

#include "base/cvfile.h"
#include "base/cvhandle.h"
#include "support/test_support.h"

using cvtest::Exists;
using cvtest::ScratchDir;

namespace {

std::string Binary(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 37 % 256);  // NULs and high bytes included
    return s;
}

std::string Content(const std::wstring& path)
{
    CvFileHandle f(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::string s(1 << 16, '\0');
    DWORD got = 0;
    if (!f || !ReadFile(f.get(), &s[0], static_cast<DWORD>(s.size()), &got, nullptr)) return "<unreadable>";
    s.resize(got);
    return s;
}

SYSTEMTIME Local(const FILETIME& ft)
{
    SYSTEMTIME utc, local;
    FileTimeToSystemTime(&ft, &utc);
    SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
    return local;
}

FILETIME Utc(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second)
{
    SYSTEMTIME st = {year, month, 0, day, hour, minute, second, 0};
    FILETIME ft;
    SystemTimeToFileTime(&st, &ft);
    return ft;
}

std::string Show(const SYSTEMTIME& t)
{
    char buf[64];
    snprintf(buf, sizeof(buf), "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
             t.wSecond);
    return buf;
}

// The current directory, set for one scope (CreateDirTree and the size
// query resolve relative texts against it).
class CurrentDir {
public:
    explicit CurrentDir(const std::wstring& dir)
    {
        GetCurrentDirectoryW(MAX_PATH, old_);
        SetCurrentDirectoryW(dir.c_str());
    }
    ~CurrentDir() { SetCurrentDirectoryW(old_); }

private:
    wchar_t old_[MAX_PATH] = {};
};

}  // namespace

// --- Files ------------------------------------------------------------------

TEST(CvFile, WriteThenReadGivesTheBytesAndTheCountRead)
{
    ScratchDir dir(L"rw");
    const std::wstring path = dir / L"data.bin";
    const std::string forty = Binary(40);
    EXPECT_EQ(CvWriteFile(path.c_str(), forty.data(), 40), 1);
    EXPECT_EQ(FileSize(path.c_str()), 40);

    unsigned char buf[100];
    memset(buf, 0xEE, sizeof(buf));
    DWORD size = 100;
    EXPECT_EQ(CvReadFile(path.c_str(), buf, size), 1);
    EXPECT_EQ(size, 40u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 40), forty);
    EXPECT_EQ(buf[40], 0xEE);

    size = 10;
    EXPECT_EQ(CvReadFile(path.c_str(), buf, size), 1);
    EXPECT_EQ(size, 10u);

    // Writing empties the file first: no tail of the longer old content stays.
    EXPECT_EQ(CvWriteFile(path.c_str(), "abc", 3), 1);
    EXPECT_EQ(Content(path), "abc");
    EXPECT_EQ(CvWriteFile(path.c_str(), nullptr, 0), 1);
    EXPECT_TRUE(Exists(path));
    EXPECT_EQ(FileSize(path.c_str()), 0);
}

TEST(CvFile, FailuresWriteNothingAndLeaveTheSizeAlone)
{
    ScratchDir dir(L"fail");
    cvtest::MakeDirs(dir / L"folder");
    for (const std::wstring& path : {dir / L"missing.bin", dir / L"folder", dir / L"folder\\"}) {
        SCOPED_TRACE(cvtest::Narrow(path));
        unsigned char buf[8];
        memset(buf, 0xEE, sizeof(buf));
        DWORD size = 8;
        EXPECT_EQ(CvReadFile(path.c_str(), buf, size), 0);
        EXPECT_EQ(size, 8u);
        EXPECT_EQ(buf[0], 0xEE);
    }
    DWORD size = 8;
    char buf[8];
    EXPECT_EQ(CvReadFile(nullptr, buf, size), 0);

    EXPECT_EQ(CvWriteFile((dir / L"no\\such\\folder\\f.bin").c_str(), "x", 1), 0);
    EXPECT_EQ(CvWriteFile((dir / L"folder").c_str(), "x", 1), 0);
    EXPECT_EQ(CvWriteFile(nullptr, "x", 1), 0);
    EXPECT_EQ(CvWriteFile((dir / L"nodata.bin").c_str(), nullptr, 5), 0);
    EXPECT_FALSE(Exists(dir / L"nodata.bin"));
}

TEST(CvFile, RewritesAHiddenSystemFileAndKeepsItHidden)
{
    // desktop.ini files are written, marked hidden and system, and later
    // written again. Windows refuses to re-create (CREATE_ALWAYS) such a file
    // without those attributes; Wine (8.0) does not, so there this test can
    // only see that the content is replaced and the attributes are kept.
    ScratchDir dir(L"hidden");
    const std::wstring path = dir / L"desktop.ini";
    ASSERT_EQ(CvWriteFile(path.c_str(), "first version", 13), 1);
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    EXPECT_EQ(CvWriteFile(path.c_str(), "second", 6), 1);
    EXPECT_EQ(Content(path), "second");
    DWORD attr = GetFileAttributesW(path.c_str());
    EXPECT_EQ(attr & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM), DWORD(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(CvFile, ATransferThatFailsIsNotReportedAsDone)
{
    // Memory whose second page is reserved but not committed: the system can
    // neither take bytes from it nor put bytes into it, so the write and the
    // read fail (or fall short) after the file was opened.
    ScratchDir dir(L"short");
    auto* mem = static_cast<char*>(VirtualAlloc(nullptr, 8192, MEM_RESERVE, PAGE_READWRITE));
    ASSERT_TRUE(mem);
    ASSERT_TRUE(VirtualAlloc(mem, 4096, MEM_COMMIT, PAGE_READWRITE));
    memset(mem, 'a', 4096);

    const std::wstring path = dir / L"f.bin";
    EXPECT_EQ(CvWriteFile(path.c_str(), mem, 8192), 0);
    EXPECT_EQ(CvWriteFile(path.c_str(), mem + 4096, 10), 0);

    ASSERT_EQ(CvWriteFile(path.c_str(), "0123456789", 10), 1);
    DWORD size = 10;
    EXPECT_EQ(CvReadFile(path.c_str(), mem + 4096, size), 0);
    EXPECT_EQ(size, 10u);
    VirtualFree(mem, 0, MEM_RELEASE);
}

TEST(CvFile, FactsOfFoldersFilesAndMissingPaths)
{
    ScratchDir dir(L"facts");
    cvtest::WriteFile(dir / L"five.txt", "12345");
    cvtest::MakeDirs(dir / L"sub");
    struct Case {
        std::wstring path;
        int folder;
        long long size;
    };
    const Case cases[] = {
        {dir / L"sub", 1, 0},
        {dir / L"sub\\", 1, 0},
        {L"C:\\", 1, 0},
        {dir / L"five.txt", 0, 5},
        {dir / L"missing.txt", 0, 0},
        {dir / L"missing\\x", 0, 0},
        {L"", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(cvtest::Narrow(c.path));
        EXPECT_EQ(isDir(c.path.c_str()), c.folder);
        EXPECT_EQ(FileSize(c.path.c_str()), c.size);
    }
    EXPECT_EQ(isDir(nullptr), 0);
    EXPECT_EQ(FileSize(nullptr), 0);
}

TEST(CvFile, FileTimeGivesEachTimeInLocalTime)
{
    ScratchDir dir(L"times");
    const std::wstring path = dir / L"t.txt";
    cvtest::WriteFile(path, "t");
    const FILETIME created = Utc(2001, 2, 3, 4, 5, 6), accessed = Utc(2002, 7, 8, 9, 10, 11),
                   modified = Utc(2003, 12, 13, 14, 15, 16);
    {
        CvFileHandle f(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                   nullptr));
        ASSERT_TRUE(f);
        ASSERT_TRUE(SetFileTime(f.get(), &created, &accessed, &modified));
    }
    // Wine keeps files on a Unix file system, where a creation time cannot be
    // set: the creation time is compared with what the platform reports.
    FILETIME platformCreated;
    {
        CvFileHandle f(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(GetFileTime(f.get(), &platformCreated, nullptr, nullptr));
    }

    SYSTEMTIME c = {}, m = {}, a = {};
    ASSERT_EQ(FileTime(path.c_str(), &c, &m, &a), 1);
    EXPECT_EQ(Show(c), Show(Local(platformCreated)));
    EXPECT_EQ(Show(m), Show(Local(modified)));
    EXPECT_EQ(Show(a), Show(Local(accessed)));

    SYSTEMTIME only = {};
    EXPECT_EQ(FileTime(path.c_str(), nullptr, &only, nullptr), 1);
    EXPECT_EQ(Show(only), Show(Local(modified)));

    EXPECT_EQ(FileTime(dir.path().c_str(), &c, &m, &a), 0);  // a directory cannot be opened
    EXPECT_EQ(FileTime((dir / L"missing").c_str(), &c, &m, &a), 0);
    EXPECT_EQ(FileTime(nullptr, &c, &m, &a), 0);
}

// --- Paths and folders ---------------------------------------------------

TEST(CreateFolder, CreatesOneLevelOnly)
{
    ScratchDir dir(L"folder");
    EXPECT_EQ(CreateFolder((dir / L"new").c_str()), 1);
    EXPECT_EQ(isDir((dir / L"new").c_str()), 1);
    EXPECT_EQ(CreateFolder((dir / L"new").c_str()), 0);  // exists
    EXPECT_EQ(CreateFolder((dir / L"a\\b").c_str()), 0);  // parent missing
    EXPECT_FALSE(Exists(dir / L"a"));
    EXPECT_EQ(CreateFolder(nullptr), 0);
}

TEST(CreateDirTree, CreatesTheDirectoryPartButNeverTheLastComponent)
{
    ScratchDir dir(L"tree");
    EXPECT_EQ(CreateDirTree((dir / L"a\\b\\c.txt").c_str()), 1);
    EXPECT_EQ(isDir((dir / L"a\\b").c_str()), 1);
    EXPECT_FALSE(Exists(dir / L"a\\b\\c.txt"));

    EXPECT_EQ(CreateDirTree((dir / L"x\\y\\").c_str()), 1);
    EXPECT_EQ(isDir((dir / L"x\\y").c_str()), 1);

    EXPECT_EQ(CreateDirTree((dir / L"m\\\\n\\f").c_str()), 1);  // doubled backslash: an empty piece
    EXPECT_EQ(isDir((dir / L"m\\n").c_str()), 1);

    cvtest::WriteFile(dir / L"a\\b\\c.txt");
    EXPECT_EQ(CreateDirTree((dir / L"a\\b\\c.txt").c_str()), 1);  // all there already

    {
        CurrentDir cwd(dir.path());
        EXPECT_EQ(CreateDirTree(L"bare.txt"), 1);  // no directory part: nothing to do
        EXPECT_FALSE(Exists(dir / L"bare.txt"));
        EXPECT_EQ(CreateDirTree(L"rel\\f.txt"), 1);
        EXPECT_EQ(isDir((dir / L"rel").c_str()), 1);
    }
}

TEST(CreateDirTree, ReportsATreeThatCouldNotBeMade)
{
    ScratchDir dir(L"blocked");
    cvtest::WriteFile(dir / L"blocker", "a file where a folder should go");
    EXPECT_EQ(CreateDirTree((dir / L"blocker\\sub\\f.txt").c_str()), 0);
    EXPECT_EQ(CreateDirTree(L"Q:\\cvtest-no-drive\\f.txt"), 0);

    std::wstring longDir = dir.path();
    while (longDir.size() < 270) longDir += L"abcdefghij\\";
    EXPECT_EQ(CreateDirTree((longDir + L"f.txt").c_str()), 0);
    EXPECT_EQ(CreateDirTree(nullptr), 0);
}

TEST(CreateDirTree, KeepsRootNetworkAndLongPathPrefixes)
{
    ScratchDir dir(L"prefixes");
    CurrentDir cwd(dir.path());  // where a dropped prefix would put the folders

    // A share that does not answer: nothing may appear as "server\share\..."
    // below the current directory.
    EXPECT_EQ(CreateDirTree(L"\\\\cvtest-nohost\\share\\sub\\f.txt"), 0);
    EXPECT_FALSE(Exists(dir / L"cvtest-nohost"));

    // "\cvtest\..." is the root of the current drive, not a relative path.
    const std::wstring rooted = dir.path().substr(2) + L"rooted\\deeper\\";  // without "C:"
    EXPECT_EQ(CreateDirTree((rooted + L"f.txt").c_str()), 1);
    EXPECT_EQ(isDir((dir / L"rooted\\deeper").c_str()), 1);
    EXPECT_FALSE(Exists(dir / L"cvtest"));

    EXPECT_EQ(CreateDirTree((L"\\\\?\\" + dir.path() + L"long\\form\\f.txt").c_str()), 1);
    EXPECT_EQ(isDir((dir / L"long\\form").c_str()), 1);
}

TEST(ExtractPath, KeepsTheFolderOfACommandLine)
{
    struct Case {
        const wchar_t* in;
        const wchar_t* out;
    };
    const Case cases[] = {
        {L"\"C:\\Program Files\\Corvane\\app.exe\" -silent /x", L"C:\\Program Files\\Corvane\\"},
        {L"C:\\Corvane\\app.exe", L"C:\\Corvane\\"},
        {L"C:\\", L"C:\\"},
        {L"app.exe \"quoted\"", L"app.exe \"quoted\""},  // no backslash: unchanged, quotes too
        {L"\\app.exe", L"\\app.exe"},                    // a backslash only at the start
        {L"", L""},
    };
    for (const Case& c : cases) {
        wchar_t buf[MAX_PATH];
        wcscpy(buf, c.in);
        ExtractPath(buf);
        EXPECT_STREQ(buf, c.out) << cvtest::Narrow(c.in);
    }
    ExtractPath(nullptr);  // no effect, no fault
}

// --- Sizes ----------------------------------------------------------------

TEST(SizeText, IntToStrSizeUsesTheLargestUnitBelowTheSize)
{
    struct Case {
        long long size;
        const wchar_t* text;
    };
    const Case cases[] = {
        {0, L"0 B"},
        {-5, L"-5 B"},
        {1024, L"1024 B"},
        {1025, L"1.00 KB"},
        {1536, L"1.50 KB"},
        {1048576, L"1024.00 KB"},
        {1048577, L"1.00 MB"},
        {1073741824, L"1024.00 MB"},
        {5368709120LL, L"5.00 GB"},
        {9223372036854775807LL, L"8589934592.00 GB"},  // the longest text
    };
    for (const Case& c : cases) {
        wchar_t buf[kCvSizeTextChars];
        wmemset(buf, L'#', kCvSizeTextChars);
        IntToStrSize(c.size, buf);
        EXPECT_STREQ(buf, c.text) << c.size;
    }

    wchar_t small[8];
    wmemset(small, L'#', 8);
    IntToStrSize(1536, small, 4);
    EXPECT_STREQ(small, L"1.5");
    EXPECT_EQ(small[4], L'#');
}

TEST(SizeText, StrToIntSizeReadsTheNumberAndItsUnit)
{
    struct Case {
        const wchar_t* text;
        long long size;
    };
    const Case cases[] = {
        {L"2 MB", 2097152},
        {L"1.50 GB", 1073741824},  // the fraction is dropped
        {L"1024.00 KB", 1048576},
        {L"3 kb", 3072},
        {L"512 B", 512},
        {L"-1 KB", -1024},
        {L"2", 0},       // no space
        {L"2 ", 0},      // no unit
        {L"2 XY", 0},    // no unit
        {L"abc KB", 0},  // no number
        {L"8589934591 GB", 9223372035781033984LL},
        {L"8589934592 GB", 0},           // 2^63: does not fit
        {L"99999999999999999999 B", 0},  // nor does the number itself
    };
    for (const Case& c : cases) EXPECT_EQ(StrToIntSize(c.text), c.size) << cvtest::Narrow(c.text);
    EXPECT_EQ(StrToIntSize(nullptr), 0);

    // What IntToStrSize writes in bytes reads back whole.
    for (long long size : {0LL, 1LL, 512LL, 1024LL}) {
        wchar_t buf[kCvSizeTextChars];
        IntToStrSize(size, buf);
        EXPECT_EQ(StrToIntSize(buf), size) << cvtest::Narrow(buf);
    }
}

TEST(GetPathUseSpace, AVolumeRootGivesItsUsedBytes)
{
    ULARGE_INTEGER avail, total;
    ASSERT_TRUE(GetDiskFreeSpaceExW(L"C:\\", &avail, &total, nullptr));
    unsigned long long used = GetPathUseSpace(L"C:\\");
    EXPECT_GT(used, 0u);
    EXPECT_LE(used, total.QuadPart);  // other programs write to the disk meanwhile: no exact figure
}

TEST(GetPathUseSpace, TextsThatNameNoFolderGiveZero)
{
    ScratchDir dir(L"space");
    cvtest::WriteFile(dir / L"file.bin", std::string(3000, 'x'));
    CurrentDir cwd(dir.path());
    for (const std::wstring& path :
         {std::wstring(), std::wstring(L"abc"), std::wstring(L"Q:\\"), dir / L"missing\\", dir / L"file.bin"})
        EXPECT_EQ(GetPathUseSpace(path.c_str()), 0u) << cvtest::Narrow(path);
    EXPECT_EQ(GetPathUseSpace(nullptr), 0u);
}

TEST(GetPathUseSpace, AFolderIsMeasuredByTheScriptRuntime)
{
    ScratchDir dir(L"measure");
    cvtest::WriteFile(dir / L"a.bin", std::string(1000, 'a'));
    cvtest::WriteFile(dir / L"sub\\b.bin", std::string(2000, 'b'));
    cvtest::WriteFile(dir / L"sub\\deeper\\c.bin", "ccc");
    unsigned long long size = GetPathUseSpace(dir.path().c_str());
    if (cvtest::OnWine()) {
        // Wine 8.0 implements Scripting.FileSystemObject and finds the folder,
        // but Folder.Size is a stub there: it fails with E_NOTIMPL (through
        // IDispatch, DISP_E_EXCEPTION), so every folder measures 0.
        EXPECT_EQ(size, 0u);
    } else {
        EXPECT_EQ(size, 3003u);
    }
}

TEST(GetPathUseSpace, LeavesTheCallersComStateAsItWas)
{
    ScratchDir dir(L"com");
    const std::wstring folder = dir.path();
    HRESULT afterMta = E_FAIL, afterNone = E_FAIL;
    std::thread([&] {
        // A thread in the multithreaded apartment: the call's own
        // initialisation fails with RPC_E_CHANGED_MODE and must not end the
        // caller's COM.
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        GetPathUseSpace(folder.c_str());
        afterMta = CoInitializeEx(nullptr, COINIT_MULTITHREADED);  // S_FALSE: still initialised
        CoUninitialize();
        CoUninitialize();
    }).join();
    std::thread([&] {
        GetPathUseSpace(folder.c_str());
        afterNone = CoInitializeEx(nullptr, COINIT_MULTITHREADED);  // S_OK: the call cleaned up
        CoUninitialize();
    }).join();
    EXPECT_EQ(afterMta, S_FALSE);
    EXPECT_EQ(afterNone, S_OK);
}
