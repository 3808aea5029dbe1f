#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/cvfile.h"
#include "base/cvhandle.h"
#include "base/cvres.h"
#include "probe_client.h"
#include "support/test_support.h"

using cvtest::Exists;
using cvtest::ScratchDir;

namespace {

const wchar_t kBin[] = L"BIN";
const int kSettingsId = 8029;
const DWORD kSettingsBytes = 1984;
const int kOwnId = 7001;  // base_test.rc and base_probe.rc
const std::string kTestOwn = "built into base_test";
const std::string kProbeOwn = "built into base_probe";

std::string Pattern(size_t n, unsigned seed)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 31 + seed) % 251);
    return s;
}

std::string FileContent(const std::wstring& path)
{
    long long size = FileSize(path.c_str());
    std::string s(static_cast<size_t>(size), '\0');
    DWORD got = static_cast<DWORD>(size);
    if (!CvReadFile(path.c_str(), &s[0], got)) return "<unreadable>";
    s.resize(got);
    return s;
}

// A copy of base_probe.exe in a scratch folder of its own: the module whose
// resources a test changes.
struct ProbeCopy {
    explicit ProbeCopy(const std::wstring& name) : dir(name), exe(dir / L"probe.exe")
    {
        EXPECT_TRUE(CopyFileW(probe::Program().c_str(), exe.c_str(), FALSE));
    }
    ScratchDir dir;
    std::wstring exe;
};

// What an Ex read of `id` into an area of `capacity` filled bytes and a
// canary gives: the result and the whole area as hex.
std::pair<int, std::string> ReadEx(const std::wstring& module, int id, DWORD capacity)
{
    std::vector<unsigned char> area(capacity + 16, 0xEE);
    int r = CvResGetBuffEx(module.c_str(), id, kBin, area.data(), capacity);
    return {r, probe::Hex(area.data(), area.size())};
}

std::string Filled(const std::string& bytes, size_t total) { return probe::Hex(bytes) + std::string(2 * (total - bytes.size()), 'e'); }

}  // namespace

TEST(CvRes, ReadsTheRunningExecutablesOwnResource)
{
    EXPECT_EQ(CvResSize(kOwnId, kBin), static_cast<int>(kTestOwn.size()));

    std::vector<char> whole(kTestOwn.size() + 8, '#');
    EXPECT_EQ(CvResGetBuff(kOwnId, kBin, whole.data()), 1);
    EXPECT_EQ(std::string(whole.begin(), whole.end()), kTestOwn + std::string(8, '#'));

    // Bounded: a smaller area gets the first bytes, a larger one keeps its tail.
    char area[32];
    memset(area, '#', sizeof(area));
    EXPECT_EQ(CvResGetBuff(kOwnId, kBin, area, 5), 1);
    EXPECT_EQ(std::string(area, 8), "built###");
    EXPECT_EQ(CvResGetBuff(kOwnId, kBin, area, sizeof(area)), 1);
    EXPECT_EQ(std::string(area, sizeof(area)), kTestOwn + std::string(sizeof(area) - kTestOwn.size(), '#'));

    ScratchDir dir(L"own");
    EXPECT_EQ(CvResSave(kOwnId, kBin, (dir / L"saved.bin").c_str()), 1);
    EXPECT_EQ(FileContent(dir / L"saved.bin"), kTestOwn);

    CvComPtr<IStream> stream(CvResGetStream(kOwnId, kBin));
    ASSERT_TRUE(stream);
    STATSTG st = {};
    ASSERT_EQ(stream.get()->Stat(&st, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(st.cbSize.QuadPart, kTestOwn.size());
    char buf[64] = {};
    ULONG got = 0;
    EXPECT_EQ(stream.get()->Read(buf, sizeof(buf), &got), S_OK);  // read from the start
    EXPECT_EQ(std::string(buf, got), kTestOwn);
}

TEST(CvRes, AnAbsentResourceGivesZeroAndWritesNothing)
{
    ScratchDir dir(L"absent");
    struct Case {
        int id;
        const wchar_t* type;
    };
    const Case cases[] = {
        {kSettingsId, kBin},       // the uninstaller without its settings record
        {kOwnId, L"OTHER"},        // another type
        {kOwnId + 0x10000, kBin},  // cut to 16 bits this would be 7001
        {0, kBin},
        {-kOwnId, kBin},
        {kOwnId, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        unsigned char area[64];
        memset(area, 0xEE, sizeof(area));
        EXPECT_EQ(CvResSize(c.id, c.type), 0);
        EXPECT_EQ(CvResGetBuff(c.id, c.type, area), 0);
        EXPECT_EQ(CvResGetBuff(c.id, c.type, area, sizeof(area)), 0);
        EXPECT_EQ(probe::Hex(area, sizeof(area)), std::string(128, 'e'));
        const std::wstring saved = dir / L"saved.bin";
        EXPECT_EQ(CvResSave(c.id, c.type, saved.c_str()), 0);
        EXPECT_FALSE(Exists(saved));
        CvComPtr<IStream> stream(CvResGetStream(c.id, c.type));
        EXPECT_FALSE(stream);
    }
    EXPECT_EQ(CvResGetBuff(kOwnId, kBin, nullptr), 0);
    EXPECT_EQ(CvResGetBuff(kOwnId, kBin, nullptr, 10), 0);
}

TEST(CvRes, UpdatesAModuleAndReadsItBackFromTheFile)
{
    ProbeCopy copy(L"update");
    const std::string record = Pattern(kSettingsBytes, 1);
    const std::string big = Pattern(3000, 2);
    const std::wstring source = copy.dir / L"big.bin";
    cvtest::WriteFile(source, big);

    ASSERT_EQ(CvResUpdate2(copy.exe.c_str(), kSettingsId, kBin, record.data(), static_cast<int>(record.size())), 1);
    ASSERT_EQ(CvResUpdate(copy.exe.c_str(), kSettingsId + 1, kBin, source.c_str()), 1);

    EXPECT_EQ(CvResSizeEx(copy.exe.c_str(), kSettingsId, kBin), static_cast<int>(kSettingsBytes));
    EXPECT_EQ(CvResSizeEx(copy.exe.c_str(), kSettingsId + 1, kBin), 3000);
    std::vector<char> whole(3000 + 8, '#');
    EXPECT_EQ(CvResGetBuffEx(copy.exe.c_str(), kSettingsId + 1, kBin, whole.data()), 1);
    EXPECT_EQ(std::string(whole.begin(), whole.end()), big + "########");

    // Bounded reads into a 1984-byte area: exact, larger (cut) and smaller
    // (the module's own resource, which the updates kept).
    using Read = std::pair<int, std::string>;
    EXPECT_EQ(ReadEx(copy.exe, kSettingsId, kSettingsBytes), Read(1, probe::Hex(record) + std::string(32, 'e')));
    EXPECT_EQ(ReadEx(copy.exe, kSettingsId + 1, kSettingsBytes),
              Read(1, probe::Hex(big.substr(0, kSettingsBytes)) + std::string(32, 'e')));
    EXPECT_EQ(ReadEx(copy.exe, kOwnId, kSettingsBytes), Read(1, Filled(kProbeOwn, kSettingsBytes + 16)));

    const std::wstring saved = copy.dir / L"saved.bin";
    EXPECT_EQ(CvResSaveEx(copy.exe.c_str(), kSettingsId + 1, kBin, saved.c_str()), 1);
    EXPECT_EQ(FileContent(saved), big);

    // Replacing: the same type, id and language take the new bytes. The
    // reads above released the file, or it could not be rewritten.
    const std::string shorter = Pattern(100, 3);
    ASSERT_EQ(CvResUpdate2(copy.exe.c_str(), kSettingsId, kBin, shorter.data(), 100), 1);
    EXPECT_EQ(ReadEx(copy.exe, kSettingsId, 100), Read(1, probe::Hex(shorter) + std::string(32, 'e')));
    EXPECT_EQ(CvResSizeEx(copy.exe.c_str(), kSettingsId, kBin), 100);
    EXPECT_TRUE(DeleteFileW(copy.exe.c_str()));  // nothing holds the module
}

TEST(CvRes, TheUpdatedCopyReadsItsOwnRecordWhenRun)
{
    struct Case {
        const char* name;
        size_t bytes;  // 0: no record stored
    };
    const Case cases[] = {{"none", 0}, {"exact", kSettingsBytes}, {"larger", 3000}, {"smaller", 100}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProbeCopy copy(cvtest::Widen(c.name));
        const std::string record = Pattern(c.bytes, 7);
        if (c.bytes) {
            ASSERT_EQ(CvResUpdate2(copy.exe.c_str(), kSettingsId, kBin, record.data(), static_cast<int>(c.bytes)), 1);
        }

        const std::wstring saved = copy.dir / L"saved.bin";
        probe::Result run = probe::Run(copy.exe, L"res 8029 BIN \"" + saved + L"\"");
        ASSERT_EQ(run.exitCode, 0u) << run.output;
        const std::string hex = probe::Hex(record);
        const std::string settings = Filled(record.substr(0, kSettingsBytes), kSettingsBytes);
        if (c.bytes) {
            EXPECT_EQ(run["size"], std::to_string(c.bytes));
            EXPECT_EQ(run["buff"], "1 " + hex + " canary=ok");
            EXPECT_EQ(run["settings"], "1 " + settings + " canary=ok");
            EXPECT_EQ(run["stream"], std::to_string(c.bytes) + " " + hex);
            EXPECT_EQ(run["save"], "1");
            EXPECT_EQ(FileContent(saved), record);
        } else {
            EXPECT_EQ(run["size"], "0");
            EXPECT_EQ(run["buff"], "0  canary=ok");
            EXPECT_EQ(run["settings"], "0 " + settings + " canary=ok");  // untouched
            EXPECT_EQ(run["stream"], "null");
            EXPECT_EQ(run["save"], "0");
            EXPECT_FALSE(Exists(saved));
        }
    }
}

TEST(CvRes, UpdatesThatCannotBeDoneChangeNothing)
{
    ProbeCopy copy(L"badupdate");
    const std::wstring text = copy.dir / L"notes.txt";
    cvtest::WriteFile(text, "not a module");
    const std::wstring source = copy.dir / L"source.bin";
    cvtest::WriteFile(source, "payload");
    cvtest::MakeDirs(copy.dir / L"folder");
    const std::wstring missing = copy.dir / L"missing.exe";
    const std::string moduleBefore = FileContent(copy.exe);

    struct FromFile {
        const char* what;
        std::wstring target;
        int id;
        const wchar_t* type;
        std::wstring source;
    };
    const FromFile fromFile[] = {
        {"missing target", missing, kSettingsId, kBin, source},
        {"target not a module", text, kSettingsId, kBin, source},
        {"missing source", copy.exe, kSettingsId, kBin, copy.dir / L"missing.bin"},
        {"source a folder", copy.exe, kSettingsId, kBin, copy.dir / L"folder"},
        {"id 0", copy.exe, 0, kBin, source},
        {"id past 16 bits", copy.exe, kSettingsId + 0x10000, kBin, source},
        {"no type", copy.exe, kSettingsId, nullptr, source},
    };
    for (const FromFile& c : fromFile)
        EXPECT_EQ(CvResUpdate(c.target.c_str(), c.id, c.type, c.source.c_str()), 0) << c.what;

    struct FromMemory {
        const char* what;
        std::wstring target;
        int id;
        const wchar_t* type;
        const void* data;
        int size;
    };
    const FromMemory fromMemory[] = {
        {"missing target", missing, kSettingsId, kBin, "payload", 7},
        {"target not a module", text, kSettingsId, kBin, "payload", 7},
        {"id 0", copy.exe, 0, kBin, "payload", 7},
        {"id past 16 bits", copy.exe, kSettingsId + 0x10000, kBin, "payload", 7},
        {"no type", copy.exe, kSettingsId, nullptr, "payload", 7},
        {"no data", copy.exe, kSettingsId, kBin, nullptr, 7},
        {"no data, size 0 (never a deletion)", copy.exe, kOwnId, kBin, nullptr, 0},
        {"negative size", copy.exe, kSettingsId, kBin, "payload", -1},
    };
    for (const FromMemory& c : fromMemory)
        EXPECT_EQ(CvResUpdate2(c.target.c_str(), c.id, c.type, c.data, c.size), 0) << c.what;

    EXPECT_EQ(FileContent(copy.exe), moduleBefore);
    EXPECT_EQ(FileContent(text), "not a module");
    EXPECT_FALSE(Exists(missing));
}

TEST(CvRes, AModuleThatCannotBeLoadedIsNeverReplacedByTheRunningExecutable)
{
    // base_test.exe itself holds BIN 7001: a lookup that fell back on the
    // running executable would find it.
    ScratchDir dir(L"noload");
    const std::wstring text = dir / L"notes.txt";
    cvtest::WriteFile(text, "not a module");
    const std::wstring modules[] = {dir / L"missing.dll", text, dir.path(), L""};
    for (const std::wstring& module : modules) {
        SCOPED_TRACE(cvtest::Narrow(module));
        unsigned char area[64];
        memset(area, 0xEE, sizeof(area));
        EXPECT_EQ(CvResSizeEx(module.c_str(), kOwnId, kBin), 0);
        EXPECT_EQ(CvResGetBuffEx(module.c_str(), kOwnId, kBin, area), 0);
        EXPECT_EQ(CvResGetBuffEx(module.c_str(), kOwnId, kBin, area, sizeof(area)), 0);
        EXPECT_EQ(probe::Hex(area, sizeof(area)), std::string(128, 'e'));
        EXPECT_EQ(CvResSaveEx(module.c_str(), kOwnId, kBin, (dir / L"saved.bin").c_str()), 0);
        EXPECT_FALSE(Exists(dir / L"saved.bin"));
    }
    char area[8];
    EXPECT_EQ(CvResGetBuffEx(nullptr, kOwnId, kBin, area), 0);
    EXPECT_EQ(CvResSizeEx(nullptr, kOwnId, kBin), 0);

    // A bare module name is looked for where libraries are: base_probe.exe
    // lies beside the test program.
    std::vector<char> probeOwn(kProbeOwn.size());
    EXPECT_EQ(CvResGetBuffEx(L"base_probe.exe", kOwnId, kBin, probeOwn.data()), 1);
    EXPECT_EQ(std::string(probeOwn.begin(), probeOwn.end()), kProbeOwn);
}
