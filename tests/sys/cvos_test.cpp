#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/cvhandle.h"
#include "support/bitness.h"
#include "support/test_support.h"
#include "sys/cvos.h"

namespace {

const wchar_t kPolicyKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";

// Sets HKLM\...\Policies\System "EnableLUA" for one scope and puts back what
// was there (or removes it again). Wine keeps this key in one view for 32-
// and 64-bit processes, as Windows does.
class EnableLuaValue {
public:
    EnableLuaValue()
    {
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, kPolicyKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, key_.put(),
                        nullptr);
        DWORD size = sizeof(saved_);
        had_ = key_ && RegQueryValueExW(key_.get(), L"EnableLUA", nullptr, &savedType_, saved_, &size) == ERROR_SUCCESS;
        savedSize_ = size;
    }
    ~EnableLuaValue()
    {
        if (!key_) return;
        if (had_)
            RegSetValueExW(key_.get(), L"EnableLUA", 0, savedType_, saved_, savedSize_);
        else
            RegDeleteValueW(key_.get(), L"EnableLUA");
    }
    bool ok() const { return key_.valid(); }
    void SetNumber(DWORD v) { RegSetValueExW(key_.get(), L"EnableLUA", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4); }
    void SetText(const wchar_t* s)
    {
        RegSetValueExW(key_.get(), L"EnableLUA", 0, REG_SZ, reinterpret_cast<const BYTE*>(s),
                       static_cast<DWORD>((wcslen(s) + 1) * sizeof(wchar_t)));
    }
    void Remove() { RegDeleteValueW(key_.get(), L"EnableLUA"); }

private:
    CvRegKey key_;
    bool had_ = false;
    DWORD savedType_ = 0, savedSize_ = 0;
    BYTE saved_[64] = {};
};

// Removes the Wine AppDefaults keys it was given, when it goes.
class AppDefaults {
public:
    ~AppDefaults()
    {
        for (const auto& exe : names_)
            RegDeleteTreeW(HKEY_CURRENT_USER, (L"Software\\Wine\\AppDefaults\\" + exe).c_str());
    }
    // Wine reports `version` ("win7", "win10"...) to executables named `exe`.
    bool Set(const std::wstring& exe, const std::wstring& version)
    {
        names_.push_back(exe);
        CvRegKey key;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, (L"Software\\Wine\\AppDefaults\\" + exe).c_str(), 0, nullptr, 0,
                            KEY_WRITE, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
            return false;
        return RegSetValueExW(key.get(), L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                              static_cast<DWORD>((version.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    }

private:
    std::vector<std::wstring> names_;
};

// The machine field of a PE file's header (0 when it cannot be read).
WORD PeMachine(const std::wstring& path)
{
    CvFileHandle f(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!f) return 0;
    IMAGE_DOS_HEADER dos = {};
    DWORD got = 0;
    if (!ReadFile(f.get(), &dos, sizeof(dos), &got, nullptr) || got != sizeof(dos)) return 0;
    if (SetFilePointer(f.get(), dos.e_lfanew + 4, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return 0;
    IMAGE_FILE_HEADER header = {};
    if (!ReadFile(f.get(), &header, sizeof(header), &got, nullptr) || got != sizeof(header)) return 0;
    return header.Machine;
}

std::wstring SystemKernel32()
{
    wchar_t dir[MAX_PATH] = {};
    GetSystemDirectoryW(dir, MAX_PATH);
    return std::wstring(dir) + L"\\kernel32.dll";
}

}  // namespace

TEST(CvOs, IsDigital)
{
    struct Case {
        const char* text;
        int expected;
    } cases[] = {
        {"", 1}, {"0", 1}, {"0123456789", 1}, {"12a", 0}, {"-1", 0}, {" 1", 0}, {"1 ", 0}, {"+1", 0},
        {"\xef\xbc\x91", 0},  // a full-width digit one in UTF-8: not ASCII
        {nullptr, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(isDigital(c.text), c.expected) << (c.text ? c.text : "(null)");
}

TEST(CvOs, CpuIdIsTheVendorAndTheFeatureFlags)
{
    char out[32];
    memset(out, 'Z', sizeof(out));
    GetCPUID(out);
    size_t len = strnlen(out, sizeof(out));
    ASSERT_LT(len, 24u);
    ASSERT_GT(len, 12u) << out;
    for (size_t i = 24; i < sizeof(out); ++i) EXPECT_EQ(out[i], 'Z') << "written past 24 bytes at " << i;

    // Wine fills the processor's registry description from CPUID too: an
    // independent reading of the vendor text.
    CvRegKey key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", 0, KEY_READ,
                            key.put()),
              ERROR_SUCCESS);
    char vendor[64] = {};
    DWORD size = sizeof(vendor) - 1;
    ASSERT_EQ(RegQueryValueExA(key.get(), "VendorIdentifier", nullptr, nullptr, reinterpret_cast<BYTE*>(vendor), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::string(out, 12), std::string(vendor)) << out;

    // The rest is the signed decimal of leaf 1's EDX; every x86 processor
    // since the Pentium sets bit 0 (FPU) and bit 4 (TSC).
    char* end = nullptr;
    long long flags = strtoll(out + 12, &end, 10);
    EXPECT_EQ(*end, '\0') << out;
    EXPECT_GE(flags, INT32_MIN);
    EXPECT_LE(flags, INT32_MAX);
    unsigned edx = static_cast<unsigned>(static_cast<int>(flags));
    EXPECT_EQ(edx & 0x11u, 0x11u) << out;
    EXPECT_EQ(flags < 0, (edx & 0x80000000u) != 0) << "the top bit gives a negative number";

    GetCPUID(nullptr);  // no buffer: nothing happens
}

TEST(CvOs, NotebookFollowsTheBatteryCharge)
{
    // The bench machine may or may not report a battery; either way the
    // answer must match the power status (255 = unknown, no battery).
    SYSTEM_POWER_STATUS status = {};
    ASSERT_TRUE(GetSystemPowerStatus(&status));
    EXPECT_EQ(isNotebook(), status.BatteryLifePercent <= 100 ? 1 : 0)
        << "battery percent " << static_cast<int>(status.BatteryLifePercent);
}

TEST(CvOs, UacFollowsEnableLua)
{
    EnableLuaValue lua;
    ASSERT_TRUE(lua.ok());
    // This program runs as Windows 7 in the bench's prefix (checked here, as
    // the answer depends on it).
    ASSERT_TRUE(isWin7());
    lua.SetNumber(1);
    EXPECT_EQ(isEnableUAC(), 1);
    lua.SetNumber(0);
    EXPECT_EQ(isEnableUAC(), 0);
    lua.SetNumber(2);
    EXPECT_EQ(isEnableUAC(), 0);
    lua.SetText(L"1");  // not a number
    EXPECT_EQ(isEnableUAC(), 0);
    lua.Remove();
    EXPECT_EQ(isEnableUAC(), 0);
}

TEST(CvOs, OsNameStaysInEightCharacters)
{
    wchar_t name[16];
    for (wchar_t& c : name) c = L'#';
    EXPECT_EQ(GetOsName(name), 1);
    size_t len = wcsnlen(name, 16);
    EXPECT_GE(len, 2u);
    EXPECT_LE(len, 7u);
    for (size_t i = 8; i < 16; ++i) EXPECT_EQ(name[i], L'#') << "written past 8 characters at " << i;
    EXPECT_EQ(GetOsName(nullptr), 1);
}

// Wine tells each executable the Windows version set for its name under
// HKCU\Software\Wine\AppDefaults\<name> "Version". Copies of the probe run
// under distinct names, one per version. Under Wine, as on Windows, a
// program without a compatibility manifest is told 6.2 on 8.1 and 10; the
// probe built with a manifest that declares them (sys_probe_compat) is told
// 6.3 and 10.0. With "win98" and "winme" Wine reports the 9x platform (1).
// EnableLUA is 1 for the run, so the UAC answer shows the version check.
TEST(CvOs, VersionAnswersFollowTheReportedVersion)
{
    struct Case {
        const wchar_t* version;
        bool compat;
        const char* expected;
    } cases[] = {
        {L"win95", false, "name=9x result=1 win7=0 win8=0 uac=0 version=4.0 platform=1"},
        {L"win98", false, "name=9x result=1 win7=0 win8=0 uac=0 version=4.10 platform=1"},
        {L"winme", false, "name=Me result=1 win7=0 win8=0 uac=0 version=4.90 platform=1"},
        {L"nt40", false, "name=XP result=1 win7=0 win8=0 uac=0 version=4.0 platform=2"},
        {L"win2k", false, "name=Win2000 result=1 win7=0 win8=0 uac=0 version=5.0 platform=2"},
        {L"winxp", false, "name=XP result=1 win7=0 win8=0 uac=0 version=5.1 platform=2"},
        {L"win2003", false, "name=XP result=1 win7=0 win8=0 uac=0 version=5.2 platform=2"},
        {L"vista", false, "name=Vista result=1 win7=1 win8=0 uac=1 version=6.0 platform=2"},
        {L"win7", false, "name=Win7 result=1 win7=1 win8=0 uac=1 version=6.1 platform=2"},
        {L"win8", false, "name=Win8 result=1 win7=1 win8=1 uac=1 version=6.2 platform=2"},
        {L"win81", false, "name=Win8 result=1 win7=1 win8=1 uac=1 version=6.2 platform=2"},
        {L"win10", false, "name=Win8 result=1 win7=1 win8=1 uac=1 version=6.2 platform=2"},
        {L"win81", true, "name=Win8 result=1 win7=1 win8=1 uac=1 version=6.3 platform=2"},
        {L"win10", true, "name=Win10 result=1 win7=1 win8=1 uac=1 version=10.0 platform=2"},
    };
    EnableLuaValue lua;
    ASSERT_TRUE(lua.ok());
    lua.SetNumber(1);
    cvtest::ScratchDir dir(L"versions");
    AppDefaults defaults;
    const std::wstring pid = std::to_wstring(GetCurrentProcessId());
    for (const Case& c : cases) {
        std::wstring exe = L"cvsys" + pid + L"_" + c.version + (c.compat ? L"_compat" : L"") + L".exe";
        std::wstring source = cvtest::BinDir() + (c.compat ? L"sys_probe_compat.exe" : L"sys_probe.exe");
        ASSERT_TRUE(CopyFileW(source.c_str(), (dir / exe).c_str(), FALSE)) << cvtest::Narrow(exe);
        ASSERT_TRUE(defaults.Set(exe, c.version));
        auto r = cvtest::Run(dir / exe, L"os");
        EXPECT_EQ(r.exitCode, 0u) << r.output;
        EXPECT_EQ(r.output, std::string(c.expected) + "\n") << cvtest::Narrow(exe);
    }
}

TEST(CvOs, Wow64AndFileSystemRedirection)
{
    // The bench's prefix is 64-bit Windows: a 32-bit build runs under WOW64,
    // a 64-bit build natively.
    ASSERT_EQ(isWow64(), cvtest::kIs64BitProcess ? 0 : 1);
    const std::wstring kernel32 = SystemKernel32();
    void* old = nullptr;

    if (cvtest::kIs64BitProcess) {
        // Nothing is redirected for a 64-bit process, and the switches
        // change nothing.
        ASSERT_EQ(PeMachine(kernel32), IMAGE_FILE_MACHINE_AMD64);
        DisableFsRedirection(&old);
        EXPECT_EQ(PeMachine(kernel32), IMAGE_FILE_MACHINE_AMD64);
        RevertFsRedirection(&old);
        EXPECT_EQ(PeMachine(kernel32), IMAGE_FILE_MACHINE_AMD64);
        return;
    }

    // system32 is redirected to SysWOW64 for this process: the kernel32 there
    // is the 32-bit one. With redirection off it is the 64-bit one.
    ASSERT_EQ(PeMachine(kernel32), IMAGE_FILE_MACHINE_I386);
    DisableFsRedirection(&old);
    EXPECT_EQ(PeMachine(kernel32), IMAGE_FILE_MACHINE_AMD64);

    // The setting belongs to the thread that made it.
    WORD otherThread = 0;
    std::thread([&] { otherThread = PeMachine(kernel32); }).join();
    EXPECT_EQ(otherThread, IMAGE_FILE_MACHINE_I386);

    RevertFsRedirection(&old);
    EXPECT_EQ(PeMachine(kernel32), IMAGE_FILE_MACHINE_I386);

    DisableFsRedirection(nullptr);  // nowhere to keep the state: nothing changes
    EXPECT_EQ(PeMachine(kernel32), IMAGE_FILE_MACHINE_I386);
    RevertFsRedirection(nullptr);
}

// The ANSI code page comes from the Unix locale of the Wine process tree:
// Wine reads LC_ALL (or LANG) when a process is started from the Unix side,
// and a process started by a Windows process keeps its parent's code page,
// whatever LANG or LC_ALL its environment block holds (checked with Wine
// 8.0). So this test runs as a program of its own per locale: CTest starts it
// with LC_ALL set and CV_EXPECT_ACP naming the code page Wine should give
// (tests/sys/CMakeLists.txt); in the plain run it has nothing to check.
TEST(CodePage, PredicatesFollowTheAnsiCodePage)
{
    const char* expect = getenv("CV_EXPECT_ACP");
    if (!expect) GTEST_SKIP() << "run with LC_ALL and CV_EXPECT_ACP set (CTest tests sys_test_acp*)";
    UINT acp = static_cast<UINT>(atoi(expect));
    ASSERT_EQ(GetACP(), acp) << "the bench did not give the process the code page of its LC_ALL";
    struct Row {
        UINT acp;
        int simplified, traditional, english;
    } rows[] = {{936, 1, 0, 0}, {950, 0, 1, 0}, {1252, 0, 0, 1}, {932, 0, 0, 0}};
    bool found = false;
    for (const Row& r : rows) {
        if (r.acp != acp) continue;
        found = true;
        EXPECT_EQ(isSimplified(), r.simplified);
        EXPECT_EQ(isTraditional(), r.traditional);
        EXPECT_EQ(isEnglish(), r.english);
    }
    EXPECT_TRUE(found) << "no expectations for code page " << acp;
}
