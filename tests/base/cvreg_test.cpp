#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "base/cvhandle.h"
#include "base/cvreg.h"
#include "support/bitness.h"
#include "support/test_support.h"
#include "support/threads.h"

namespace {

const std::wstring kRoot = L"SOFTWARE\\cvtest-reg-" + std::to_wstring(GetCurrentProcessId());

// A key of the test's own under HKLM\SOFTWARE in one view, removed at the end.
class ScratchKey {
public:
    ScratchKey(const std::wstring& sub, REGSAM view) : path_(kRoot + sub), view_(view)
    {
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view_, nullptr, key_.put(),
                        nullptr);
    }
    ~ScratchKey()
    {
        key_.reset();
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, path_.c_str());  // the default view
        CvRegKey root;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_ALL_ACCESS | view_, root.put()) == ERROR_SUCCESS)
            RegDeleteTreeW(root.get(), path_.substr(9).c_str());
    }
    HKEY get() const { return key_.get(); }
    const std::wstring& path() const { return path_; }
    void Set(const wchar_t* name, const std::wstring& value)
    {
        RegSetValueExW(key_.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * 2));
    }

private:
    std::wstring path_;
    REGSAM view_;
    CvRegKey key_;
};

bool KeyExists(const std::wstring& path, REGSAM view)
{
    CvRegKey key;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | view, key.put()) == ERROR_SUCCESS;
}

struct Counter {
    std::atomic<int> calls{0};
};
void CountCall(void* c) { ++static_cast<Counter*>(c)->calls; }

bool WaitFor(const std::atomic<int>& value, int atLeast)
{
    return cvtest::WaitUntil([&] { return value.load() >= atLeast; });
}

using cvtest::ThreadCount;
// Waits until the process is back to `count` threads: the monitors started
// since are gone, and nothing of theirs can call back.
using cvtest::WaitForThreads;

}  // namespace

TEST(CvReg, ReadsStringsOfUpTo129CharactersFromEitherView)
{
    ScratchKey k32(L"\\read", KEY_WOW64_32KEY), k64(L"\\read", KEY_WOW64_64KEY);
    k32.Set(L"v", L"thirty-two");
    k64.Set(L"v", L"sixty-four");

    wchar_t value[130];
    // View 0 is the process's own view: the WOW6432Node branch for a 32-bit
    // process, the 64-bit keys for a 64-bit one. View 1 is always 64-bit.
    EXPECT_EQ(GetRegInfo(HKEY_LOCAL_MACHINE, k32.path().c_str(), L"v", 0, value), 1);
    EXPECT_STREQ(value, cvtest::kIs64BitProcess ? L"sixty-four" : L"thirty-two");
    EXPECT_EQ(GetRegInfo(HKEY_LOCAL_MACHINE, k32.path().c_str(), L"v", 1, value), 1);
    EXPECT_STREQ(value, L"sixty-four");

    ScratchKey& own = cvtest::kIs64BitProcess ? k64 : k32;
    own.Set(L"fits", std::wstring(129, L'a'));
    own.Set(L"toolong", std::wstring(130, L'b'));
    EXPECT_EQ(GetRegInfo(HKEY_LOCAL_MACHINE, own.path().c_str(), L"fits", 0, value), 1);
    EXPECT_EQ(std::wstring(value), std::wstring(129, L'a'));
    wmemset(value, L'#', 130);
    EXPECT_EQ(GetRegInfo(HKEY_LOCAL_MACHINE, own.path().c_str(), L"toolong", 0, value), 0);
    EXPECT_EQ(GetRegInfo(HKEY_LOCAL_MACHINE, own.path().c_str(), L"missing", 0, value), 0);
    EXPECT_EQ(GetRegInfo(HKEY_LOCAL_MACHINE, (own.path() + L"\\nokey").c_str(), L"v", 0, value), 0);

    // 130 characters stored without a terminator fill the 260 bytes offered
    // exactly: the copy still ends inside the caller's 130 characters.
    std::wstring bare(131, L'c');  // the character after the data is no NUL either
    RegSetValueExW(own.get(), L"bare", 0, REG_SZ, reinterpret_cast<const BYTE*>(bare.data()), 260);
    wchar_t guarded[131];
    guarded[130] = L'!';
    EXPECT_EQ(GetRegInfo(HKEY_LOCAL_MACHINE, own.path().c_str(), L"bare", 0, guarded), 1);
    EXPECT_EQ(guarded[130], L'!');
    EXPECT_EQ(wcslen(guarded), 129u);
}

TEST(CvReg, WritesOnlyIntoExistingKeys)
{
    ScratchKey k(L"\\write", cvtest::kDefaultView);
    EXPECT_EQ(SetRegInfo(HKEY_LOCAL_MACHINE, k.path().c_str(), L"name", 0, L"hello"), 1);
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueExW(k.get(), L"name", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 12u);  // with its terminator

    std::wstring missing = k.path() + L"\\missing";
    EXPECT_EQ(SetRegInfo(HKEY_LOCAL_MACHINE, missing.c_str(), L"name", 0, L"x"), 0);
    EXPECT_FALSE(KeyExists(missing, cvtest::kDefaultView));
    EXPECT_EQ(SetRegInfo(HKEY_LOCAL_MACHINE, k.path().c_str(), L"name", 0, nullptr), 0);
    // View 1 writes the 64-bit key: for a 32-bit process another key, which
    // does not exist; for a 64-bit process the same key as view 0.
    EXPECT_EQ(SetRegInfo(HKEY_LOCAL_MACHINE, k.path().c_str(), L"name", 1, L"x"), cvtest::kIs64BitProcess ? 1 : 0);
}

const wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

// The machine's Run key holds no value of these tests when they start or end:
// values that a run cut short left behind ("cvtest-<pid>") go at set-up, this
// run's at teardown, whatever the test's outcome.
class AutoRun : public ::testing::Test {
protected:
    void SetUp() override { RemoveOurs(); }
    void TearDown() override { RemoveOurs(); }
    static void RemoveOurs()
    {
        CvRegKey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS) return;
        std::vector<std::wstring> ours;
        wchar_t name[256];
        for (DWORD i = 0;; ++i) {
            DWORD len = 256;
            if (RegEnumValueW(key.get(), i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            if (wcsncmp(name, L"cvtest-", 7) == 0) ours.push_back(name);
        }
        for (const std::wstring& n : ours) RegDeleteValueW(key.get(), n.c_str());
    }
};

TEST_F(AutoRun, EntryIsWrittenReplacedAndRemoved)
{
    const std::wstring run = kRunKey;
    const std::wstring name = L"cvtest-" + std::to_wstring(GetCurrentProcessId());
    auto read = [&](DWORD* size) {
        wchar_t data[300] = {};
        *size = sizeof(data) - 2;
        CvRegKey key;
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, run.c_str(), 0, KEY_READ, key.put());
        if (RegQueryValueExW(key.get(), name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(data), size) !=
            ERROR_SUCCESS)
            *size = 0;
        return std::wstring(data);
    };
    DWORD size = 0;
    EXPECT_EQ(SetAutoRun(name.c_str(), 1, nullptr), 1);
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    EXPECT_EQ(read(&size), self);
    // Handed over without its terminator; the registry may add one (it does
    // when the character after the data is a NUL), so both sizes occur.
    EXPECT_TRUE(size == wcslen(self) * 2 || size == wcslen(self) * 2 + 2) << size;

    EXPECT_EQ(SetAutoRun(name.c_str(), 1, L"\"C:\\Tools\\app.exe\" /min"), 1);
    EXPECT_EQ(read(&size), L"\"C:\\Tools\\app.exe\" /min");
    EXPECT_EQ(SetAutoRun(name.c_str(), 1, std::wstring(260, L'x').c_str()), 0);  // refused, not cut
    EXPECT_EQ(read(&size), L"\"C:\\Tools\\app.exe\" /min");

    EXPECT_EQ(SetAutoRun(name.c_str(), 0, nullptr), 1);
    read(&size);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(SetAutoRun(name.c_str(), 0, nullptr), 1);  // a missing value is no error
}

TEST(CvReg, MonitorCallsBackAtOnceAndPerChangeUntilStopped)
{
    ScratchKey k(L"\\watch", cvtest::kDefaultView);
    Counter c;
    int threads = ThreadCount();
    StartMonitor(HKEY_LOCAL_MACHINE, k.path().c_str(), 0, CountCall, &c);
    ASSERT_TRUE(WaitFor(c.calls, 1));  // before any change
    Sleep(200);  // a quiet key: a window to see a call that should not come
    EXPECT_EQ(c.calls.load(), 1);

    k.Set(L"value", L"changed");
    ASSERT_TRUE(WaitFor(c.calls, 2));
    {
        CvRegKey sub;
        RegCreateKeyExW(k.get(), L"child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, sub.put(), nullptr);
        RegSetValueExW(sub.get(), L"deep", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 4);
    }
    ASSERT_TRUE(WaitFor(c.calls, 3));  // the subtree is watched too

    StopMonitor();
    ASSERT_TRUE(WaitForThreads(threads));  // the monitor's thread has ended
    int before = c.calls.load();
    k.Set(L"value", L"after stop");
    EXPECT_EQ(c.calls.load(), before);
}

TEST(CvReg, StopEndsOldMonitorsEvenWhenANewOneStartsAtOnce)
{
    ScratchKey a(L"\\a", cvtest::kDefaultView), b(L"\\b", cvtest::kDefaultView);
    Counter ca, cb;
    int threads = ThreadCount();
    StartMonitor(HKEY_LOCAL_MACHINE, a.path().c_str(), 0, CountCall, &ca);
    ASSERT_TRUE(WaitFor(ca.calls, 1));
    StopMonitor();
    StartMonitor(HKEY_LOCAL_MACHINE, b.path().c_str(), 0, CountCall, &cb);
    ASSERT_TRUE(WaitFor(cb.calls, 1));
    // Only the new monitor's thread is left once the old one has noticed.
    ASSERT_TRUE(WaitForThreads(threads + 1));
    a.Set(L"v", L"1");
    b.Set(L"v", L"1");
    ASSERT_TRUE(WaitFor(cb.calls, 2));
    EXPECT_EQ(ca.calls.load(), 1);
    StopMonitor();
    EXPECT_TRUE(WaitForThreads(threads));
}

TEST(CvReg, MonitorOnTheCallingThreadAndRefusedRequests)
{
    ScratchKey k(L"\\direct", cvtest::kDefaultView);
    Counter c;
    int result = -1;
    std::thread watcher(
        [&] { result = CCvReg::Instance().MonitorReg(HKEY_LOCAL_MACHINE, k.path().c_str(), 0, CountCall, &c); });
    bool called = WaitFor(c.calls, 1);
    StopMonitor();
    watcher.join();
    EXPECT_TRUE(called);
    EXPECT_EQ(result, 1);

    EXPECT_EQ(CCvReg::Instance().MonitorReg(HKEY_LOCAL_MACHINE, (k.path() + L"\\none").c_str(), 0, CountCall, &c), 0);
    // A path longer than the request's room starts no monitor at all.
    Counter never;
    int threads = ThreadCount();
    std::wstring longPath = k.path() + L"\\" + std::wstring(300, L'p');
    StartMonitor(HKEY_LOCAL_MACHINE, longPath.c_str(), 0, CountCall, &never);
    EXPECT_EQ(ThreadCount(), threads);
    EXPECT_EQ(never.calls.load(), 0);
}

TEST(CLock, ReadersShareWritersWait)
{
    CLock lock;
    std::atomic<int> stage{0};
    std::atomic<bool> writerIn{false};
    lock.LockRead();
    EXPECT_TRUE(lock.IsLockRead());
    EXPECT_FALSE(lock.IsLockWrite());
    // A second reader enters while the first is inside.
    std::thread reader([&] {
        lock.LockRead();
        stage = 1;
        cvtest::WaitUntil([&] { return stage.load() >= 2; });
        lock.UnlockRead();  // the last reader out releases the group's hold
        stage = 3;
    });
    ASSERT_TRUE(WaitFor(stage, 1));
    std::thread writer([&] {
        lock.Lock();
        writerIn = true;
        EXPECT_TRUE(lock.IsLockWrite());
        lock.Unlock();
    });
    Sleep(100);  // a window for a writer that should not get in
    EXPECT_FALSE(writerIn.load());
    lock.UnlockRead();  // one reader still inside
    Sleep(100);  // the same
    EXPECT_FALSE(writerIn.load());
    EXPECT_TRUE(lock.IsLockRead());
    stage = 2;
    ASSERT_TRUE(WaitFor(stage, 3));
    writer.join();
    reader.join();
    EXPECT_TRUE(writerIn.load());
    EXPECT_FALSE(lock.IsLockRead());
    EXPECT_FALSE(lock.IsLockWrite());
}

TEST(CLock, WriterMayLockAgainAndRead)
{
    CLock lock;
    lock.Lock();
    lock.Lock();
    lock.LockRead();
    EXPECT_TRUE(lock.IsLockWrite());
    lock.UnlockRead();
    lock.Unlock();
    EXPECT_TRUE(lock.IsLockWrite());  // still held once
    std::atomic<bool> otherIn{false};
    std::thread other([&] {
        lock.LockRead();
        otherIn = true;
        lock.UnlockRead();
    });
    Sleep(100);  // a window for a reader that should not get in
    EXPECT_FALSE(otherIn.load());
    lock.Unlock();
    other.join();
    EXPECT_TRUE(otherIn.load());
    EXPECT_FALSE(lock.IsLockWrite());
    EXPECT_FALSE(lock.IsLockRead());
}
