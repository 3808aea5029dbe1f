#include <gtest/gtest.h>

#include <objidl.h>

#include <cstring>
#include <string>
#include <vector>

#include "gfx/cvskin.h"
#include "support/test_support.h"

using cvtest::ScratchDir;

namespace {

// A package entry header laid out by hand: the name in UTF-16LE, zeros up to
// byte 60, then the size as four little-endian bytes.
std::string Header(const std::wstring& name, unsigned size)
{
    std::string h(64, '\0');
    for (size_t i = 0; i < name.size(); ++i) {
        h[2 * i] = static_cast<char>(name[i] & 0xFF);
        h[2 * i + 1] = static_cast<char>(name[i] >> 8);
    }
    h[60] = static_cast<char>(size & 0xFF);
    h[61] = static_cast<char>(size >> 8 & 0xFF);
    h[62] = static_cast<char>(size >> 16 & 0xFF);
    h[63] = static_cast<char>(size >> 24 & 0xFF);
    return h;
}
std::string Entry(const std::wstring& name, const std::string& data)
{
    return Header(name, static_cast<unsigned>(data.size())) + data;
}

// Bytes that line-end translation would change: LF, CR, ^Z, NUL, high bytes.
std::string Data(size_t n, int seed)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + seed) % 256);
    if (n > 3) s[0] = '\n', s[1] = '\r', s[2] = 0x1A, s[3] = '\n';
    return s;
}

std::string ReadAll(IStream* s)
{
    std::string out;
    char buf[512];
    ULONG got = 0;
    while (SUCCEEDED(s->Read(buf, sizeof buf, &got)) && got > 0) out.append(buf, got);
    return out;
}

ULONGLONG StreamSize(IStream* s)
{
    STATSTG st = {};
    EXPECT_EQ(s->Stat(&st, STATFLAG_NONAME), S_OK);
    return st.cbSize.QuadPart;
}

// The files of a folder in the order FindFirstFileW gives them (test's own
// enumeration), directories left out.
std::vector<std::wstring> FilesInOrder(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"*.*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(fd.cFileName);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return names;
}

// A skin folder "<test program's folder>Skins\<unique name>\" for one test.
class SkinFolder {
public:
    SkinFolder() : name_(L"cvtest" + std::to_wstring(GetCurrentProcessId()))
    {
        path_ = cvtest::BinDir() + L"Skins\\" + name_ + L"\\";
        cvtest::MakeDirs(path_);
    }
    ~SkinFolder()
    {
        cvtest::RemoveTree(path_);
        RemoveDirectoryW((cvtest::BinDir() + L"Skins").c_str());  // only when empty
    }
    const wchar_t* name() const { return name_.c_str(); }
    std::wstring package() const { return path_ + L"skin.dat"; }
    void Write(const std::string& bytes) const { cvtest::WriteFile(package(), bytes); }

private:
    std::wstring name_, path_;
};

std::wstring PathOf(const CCvSkin& skin, bool themes)
{
    wchar_t buf[MAX_PATH + 8];
    wmemset(buf, L'#', MAX_PATH + 8);
    if (themes)
        skin.GetThemesPath(buf);
    else
        skin.GetSkinPath(buf);
    for (int i = MAX_PATH; i < MAX_PATH + 8; ++i) EXPECT_EQ(buf[i], L'#') << "written past 260 characters";
    return buf;
}

}  // namespace

// --- Modes and folders --------------------------------------------------------

TEST(CvSkin, StartsWithBuiltInResourcesAndNothingLoaded)
{
    CCvSkin skin;
    EXPECT_EQ(skin.GetResType(), 0);
    EXPECT_EQ(PathOf(skin, true), L"");
    EXPECT_EQ(PathOf(skin, false), L"");
    EXPECT_EQ(skin.GetPackageSize(), 0);
    IStream* s = reinterpret_cast<IStream*>(1);
    EXPECT_FALSE(skin.GetRes(L"button", s));
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(&CCvSkin::Instance(), &CCvSkin::Instance());
}

TEST(CvSkin, NamesFormFoldersUnderTheApplicationFolderAndSetTheMode)
{
    const std::wstring app = cvtest::BinDir();
    CCvSkin skin;
    skin.SetThemesName(L"blue");
    EXPECT_EQ(PathOf(skin, true), app + L"Themes\\blue\\");
    EXPECT_EQ(skin.GetResType(), 1);
    skin.SetSkinName(L"red");
    EXPECT_EQ(PathOf(skin, false), app + L"Skins\\red\\");
    EXPECT_EQ(PathOf(skin, true), app + L"Themes\\blue\\");
    EXPECT_EQ(skin.GetResType(), 2);
    skin.SetResType(0);
    EXPECT_EQ(skin.GetResType(), 0);

    // A name that would take the path past 259 characters leaves it empty.
    const std::wstring longName(300, L'n');
    skin.SetThemesName(longName.c_str());
    EXPECT_EQ(PathOf(skin, true), L"");
    EXPECT_EQ(skin.GetResType(), 1);
    skin.SetSkinName(longName.c_str());
    EXPECT_EQ(PathOf(skin, false), L"");
    EXPECT_FALSE(skin.LoadSkin(nullptr));
}

// --- Writing packages ---------------------------------------------------------

TEST(CvSkin, MakeSkinWritesEachFileAsNameSizeAndUnchangedBytes)
{
    ScratchDir dir(L"make");
    const std::string button = Data(1234, 1), close = Data(300, 5);
    cvtest::WriteFile(dir / L"button.png", button);
    cvtest::WriteFile(dir / L"close.png", close);
    cvtest::MakeDirs(dir / L"sub.png\\");  // a directory: left out
    const std::wstring pack = dir / L"..\\make.dat";

    CCvSkin skin;
    ASSERT_TRUE(skin.MakeSkin(dir.path().c_str(), pack.c_str()));
    std::string expected;
    for (const std::wstring& f : FilesInOrder(dir.path()))
        expected += f == L"button.png" ? Entry(L"button", button) : Entry(L"close", close);
    const std::string got = cvtest::ReadFileBytes(pack);
    EXPECT_EQ(got.size(), 64u + 1234 + 64 + 300);
    EXPECT_EQ(got, expected);

    // The first entry in full, by its fixed offsets.
    const size_t b = got.find('b');
    ASSERT_TRUE(b == 0 || b == 364);
    EXPECT_EQ(got.substr(b, 12), std::string("b\0u\0t\0t\0o\0n\0", 12));
    EXPECT_EQ(got.substr(b + 12, 48), std::string(48, '\0'));
    EXPECT_EQ(got.substr(b + 60, 4), std::string("\xD2\x04\0\0", 4));
    EXPECT_EQ(got.substr(b + 64, 1234), button);
    if (b == 0) {
        EXPECT_EQ(got.substr(1298, 4), std::string("c\0l\0", 4));
    }
    DeleteFileW(pack.c_str());
}

TEST(CvSkin, EntryNamesComeFromTheFileNameUpToTheFirstDot)
{
    struct Case {
        const wchar_t* file;
        const wchar_t* entry;
    } cases[] = {
        {L"btn.ok.png", L"btn"},
        {L"noext", L""},
        {L".hidden", L""},
        {L"Mixed Case.PNG", L"Mixed Case"},
        {L"abcdefghijklmnopqrstuvwxyz012.png", L"abcdefghijklmnopqrstuvwxyz012"},  // 29: whole
        {L"abcdefghijklmnopqrstuvwxyz0123.png", L"abcdefghijklmnopqrstuvwxyz012"},  // 30: cut
        {L"abcdefghijklmnopqrstuvwxyz0123456789ABCDEF.png", L"abcdefghijklmnopqrstuvwxyz012"},
        {L"\x5FAE\x8F6F.png", L"\x5FAE\x8F6F"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(cvtest::Narrow(c.file));
        ScratchDir dir(L"names");
        const std::string data = Data(77, 3);
        cvtest::WriteFile(dir / c.file, data);
        const std::wstring pack = dir / L"..\\names.dat";
        CCvSkin skin;
        ASSERT_TRUE(skin.MakeSkin(dir.path().c_str(), pack.c_str()));
        EXPECT_EQ(cvtest::ReadFileBytes(pack), Entry(c.entry, data));
        DeleteFileW(pack.c_str());
    }
}

TEST(CvSkin, EmptyFilesAndThePackageItselfInTheFolder)
{
    ScratchDir dir(L"self");
    cvtest::WriteFile(dir / L"zero.png", "");
    const std::wstring pack = dir / L"self.dat";  // inside the source folder
    CCvSkin skin;
    ASSERT_TRUE(skin.MakeSkin(dir.path().c_str(), pack.c_str()));
    EXPECT_EQ(cvtest::ReadFileBytes(pack), Entry(L"zero", ""));
}

TEST(CvSkin, MakeSkinFailures)
{
    ScratchDir dir(L"fail");
    cvtest::WriteFile(dir / L"src\\a.png", "abc");
    CCvSkin skin;
    // No such source folder: false, the package created empty.
    const std::wstring pack = dir / L"out.dat";
    EXPECT_FALSE(skin.MakeSkin((dir / L"missing\\").c_str(), pack.c_str()));
    EXPECT_TRUE(cvtest::Exists(pack));
    EXPECT_EQ(cvtest::ReadFileBytes(pack), "");
    // The package cannot be created.
    EXPECT_FALSE(skin.MakeSkin((dir / L"src\\").c_str(), (dir / L"no\\such\\out.dat").c_str()));
    EXPECT_FALSE(skin.MakeSkin((dir / L"src\\").c_str(), (dir / L"src").c_str()));
    EXPECT_FALSE(skin.MakeSkin(nullptr, pack.c_str()));
    EXPECT_FALSE(skin.MakeSkin((dir / L"src\\").c_str(), nullptr));
}

// --- Loading and lookups --------------------------------------------------------

TEST(CvSkin, LoadedEntriesAreFoundByExactNameAndCachedAtTheirStart)
{
    SkinFolder folder;
    const std::string button = Data(1234, 1), close = Data(301, 9), other = Data(50, 2);
    const std::string pack =
        Entry(L"button", button) + Entry(L"close", close) + Entry(L"button", other) + Entry(L"empty", "");
    folder.Write(pack);

    CCvSkin skin;
    IStream* s = nullptr;
    EXPECT_FALSE(skin.GetRes(L"button", s));  // before any load
    ASSERT_TRUE(skin.LoadSkin(folder.name()));
    EXPECT_EQ(skin.GetResType(), 2);
    EXPECT_EQ(skin.GetPackageSize(), static_cast<int>(pack.size()));

    struct Case {
        const wchar_t* name;
        bool found;
        std::string data;
    } cases[] = {
        {L"button", true, button}, {L"close", true, close},   {L"empty", true, ""},
        {L"Button", false, ""},    {L"butto", false, ""},     {L"nope", false, ""},
        {L"", false, ""},          {L"abcdefghijklmnopqrstuvwxyz0123456789", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(cvtest::Narrow(c.name));
        s = reinterpret_cast<IStream*>(1);
        ASSERT_EQ(skin.GetRes(c.name, s), c.found);
        if (!c.found) {
            EXPECT_EQ(s, nullptr);
            continue;
        }
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(StreamSize(s), c.data.size());  // exactly the entry, never a rounded-up block
        EXPECT_EQ(ReadAll(s), c.data);
    }
    EXPECT_EQ(skin.GetCacheCount(), 3u);

    // Again: the same stream from the cache, handed out at its start.
    IStream* first = nullptr;
    ASSERT_TRUE(skin.GetRes(L"button", first));
    ReadAll(first);
    IStream* again = nullptr;
    ASSERT_TRUE(skin.GetRes(L"button", again));
    EXPECT_EQ(again, first);
    EXPECT_EQ(ReadAll(again), button);
    EXPECT_EQ(skin.GetCacheCount(), 3u);

    skin.FreeSkin();
    EXPECT_FALSE(skin.GetRes(L"button", s));
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(skin.GetCacheCount(), 0u);
    EXPECT_EQ(skin.GetPackageSize(), 0);

    // Loading by the name already set, and a name without a package.
    ASSERT_TRUE(skin.LoadSkin(nullptr));
    EXPECT_TRUE(skin.GetRes(L"close", s));
    EXPECT_FALSE(skin.LoadSkin(L"cvtest-no-such-skin"));
    EXPECT_EQ(skin.GetResType(), 2);
    EXPECT_FALSE(skin.GetRes(L"close", s));
}

TEST(CvSkin, AnEmptyPackageLoadsAndFindsNothing)
{
    SkinFolder folder;
    folder.Write("");
    CCvSkin skin;
    ASSERT_TRUE(skin.LoadSkin(folder.name()));
    IStream* s = nullptr;
    EXPECT_FALSE(skin.GetRes(L"", s));
    EXPECT_FALSE(skin.GetRes(L"button", s));
    EXPECT_EQ(s, nullptr);
}

TEST(CvSkin, DamagedPackagesAreRefused)
{
    const std::string good = Entry(L"a", "AAAA");
    std::string noTerminator = Entry(L"b", "BB");
    for (int i = 0; i < 60; ++i) noTerminator[i] = 'x';
    struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"a header cut short", good + Header(L"b", 2).substr(0, 63)},
        {"one stray byte", good + "z"},
        {"data cut short", good + Entry(L"b", "BBBB").substr(0, 66)},
        {"a size one past the end", good + Header(L"b", 3) + "BB"},
        {"an absurd size", good + Header(L"b", 0xFFFFFFF0u) + "BB"},
        {"a size that wraps the offset", Header(L"a", 0xFFFFFFC0u) + good},
        {"a name field without its terminator", good + noTerminator},
    };
    SkinFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CCvSkin skin;
        folder.Write(good);
        ASSERT_TRUE(skin.LoadSkin(folder.name()));
        IStream* s = nullptr;
        ASSERT_TRUE(skin.GetRes(L"a", s));

        folder.Write(c.bytes);
        EXPECT_FALSE(skin.LoadSkin(folder.name()));
        EXPECT_EQ(skin.GetPackageSize(), 0);
        EXPECT_FALSE(skin.GetRes(L"a", s));
        EXPECT_EQ(s, nullptr);
        EXPECT_EQ(skin.GetCacheCount(), 0u);
    }
}

TEST(CvSkin, APackageMadeFromAFolderLoadsBackWhole)
{
    ScratchDir dir(L"round");
    const std::string a = Data(5000, 4), b = Data(17, 8);
    cvtest::WriteFile(dir / L"a.png", a);
    cvtest::WriteFile(dir / L"a.bmp", b);  // the same entry name: the first written wins
    cvtest::WriteFile(dir / L"btn.ok.png", b);
    SkinFolder folder;
    CCvSkin skin;
    ASSERT_TRUE(skin.MakeSkin(dir.path().c_str(), folder.package().c_str()));
    ASSERT_TRUE(skin.LoadSkin(folder.name()));

    const std::vector<std::wstring> order = FilesInOrder(dir.path());
    std::wstring firstA;
    for (const std::wstring& f : order)
        if (firstA.empty() && f.compare(0, 2, L"a.") == 0) firstA = f;
    IStream* s = nullptr;
    ASSERT_TRUE(skin.GetRes(L"a", s));
    EXPECT_EQ(ReadAll(s), firstA == L"a.png" ? a : b);
    ASSERT_TRUE(skin.GetRes(L"btn", s));
    EXPECT_EQ(ReadAll(s), b);
    EXPECT_EQ(skin.GetPackageSize(), static_cast<int>(3 * 64 + a.size() + 2 * b.size()));
}
