#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/cvhandle.h"
#include "support/test_support.h"
#include "support/threads.h"
#include "sys/cvproc.h"

namespace {

using cvtest::ReadFileBytes;

// Waits (boundedly) until the file holds `piece`; the recorder writes its
// "end" line as its last act, and signals nothing else.
bool WaitForText(const std::wstring& path, const std::string& piece, DWORD timeoutMs = 30000)
{
    return cvtest::WaitUntil([&] { return ReadFileBytes(path).find(piece) != std::string::npos; }, timeoutMs);
}

// Sets an environment variable of this process (and so of the programs it
// starts) for one scope.
class ScopedEnv {
public:
    ScopedEnv(const wchar_t* name, const std::wstring& value) : name_(name)
    {
        SetEnvironmentVariableW(name, value.c_str());
    }
    ~ScopedEnv() { SetEnvironmentVariableW(name_, nullptr); }

private:
    const wchar_t* name_;
};

// Runs a program and dispatches this thread's messages until it ends, so
// that a window of this thread can answer what the program sends it.
// Returns the exit code (0xDEAD when it had to be ended after a minute).
DWORD RunPumping(const std::wstring& program, const std::wstring& args)
{
    std::wstring cmd = L"\"" + program + L"\" " + args;
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(program.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return 0xFFFFFFFF;
    CvHandle process(pi.hProcess), thread(pi.hThread);
    DWORD start = GetTickCount();
    for (;;) {
        DWORD w = MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, 50, QS_ALLINPUT);
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
        if (w == WAIT_OBJECT_0) break;
        if (GetTickCount() - start > 60000) {
            TerminateProcess(pi.hProcess, 0xDEAD);
            WaitForSingleObject(pi.hProcess, 5000);
            break;
        }
    }
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(pi.hProcess, &code);
    return code;
}

// A real top-level window with a given title that records each WM_COPYDATA
// it receives.
class CopyDataWindow {
public:
    struct Received {
        ULONG_PTR id;
        DWORD bytes;
        std::wstring text;
    };
    explicit CopyDataWindow(const std::wstring& title)
    {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"cvtest.CopyDataWindow";
        RegisterClassW(&wc);  // fails harmlessly when registered already
        hwnd_ = CreateWindowExW(0, wc.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW, 50, 50, 200, 100, nullptr,
                                nullptr, wc.hInstance, this);
    }
    ~CopyDataWindow()
    {
        if (hwnd_) DestroyWindow(hwnd_);
    }
    HWND hwnd() const { return hwnd_; }
    std::vector<Received> received;

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
    {
        if (msg == WM_NCCREATE)
            SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams));
        auto* self = reinterpret_cast<CopyDataWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self && msg == WM_COPYDATA) {
            auto* data = reinterpret_cast<COPYDATASTRUCT*>(lp);
            const wchar_t* text = static_cast<const wchar_t*>(data->lpData);
            size_t chars = data->cbData / sizeof(wchar_t);
            std::wstring s = text && chars ? std::wstring(text, chars) : std::wstring();
            self->received.push_back({data->dwData, data->cbData, s});
            return TRUE;
        }
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
    HWND hwnd_ = nullptr;
};

bool HasPrivilegeEnabled(const wchar_t* name, bool* held)
{
    *held = false;
    LUID luid;
    if (!LookupPrivilegeValueW(nullptr, name, &luid)) return false;
    CvHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenPrivileges, nullptr, 0, &size);
    std::vector<BYTE> buffer(size ? size : 1);
    if (!GetTokenInformation(token.get(), TokenPrivileges, buffer.data(), size, &size)) return false;
    auto* list = reinterpret_cast<TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < list->PrivilegeCount; ++i) {
        const LUID& l = list->Privileges[i].Luid;
        if (l.LowPart == luid.LowPart && l.HighPart == luid.HighPart) {
            *held = true;
            return (list->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED) != 0;
        }
    }
    return false;
}

std::wstring AtExePath()
{
    wchar_t dir[MAX_PATH] = {};
    GetSystemDirectoryW(dir, MAX_PATH);
    return std::wstring(dir) + L"\\at.exe";
}

// The at-job tests. The one that needs an at.exe puts a copy of the recorder
// into the system folder; the stand-in is removed after each test, and one
// that an aborted run left is removed before each, so that no run finds what
// another left (with a stand-in in place, the missing-at.exe test would skip
// and the other would take it for the platform's own). A stand-in is told
// from a real at.exe by the recorder's own environment variable name in its
// image; a real one is never touched.
class AtJobs : public ::testing::Test {
protected:
    static bool IsStandIn(const std::wstring& path)
    {
        const wchar_t mark[] = L"CV_RECORD_FILE";
        const std::string image = ReadFileBytes(path);
        return image.find(std::string(reinterpret_cast<const char*>(mark), sizeof(mark) - sizeof(wchar_t))) !=
               std::string::npos;
    }
    static void RemoveStandIn()
    {
        const std::wstring at = AtExePath();
        if (!IsStandIn(at)) return;
        // Its image cannot go while a run of it is still ending.
        EXPECT_TRUE(cvtest::WaitNoProcess(L"at.exe")) << "the stand-in still runs";
        EXPECT_TRUE(DeleteFileW(at.c_str())) << GetLastError();
    }
    void SetUp() override { RemoveStandIn(); }
    void TearDown() override { RemoveStandIn(); }
};

// Deletes a service (by name) that a test created, should the test stop
// before it removed the service itself.
class ServiceCleanup {
public:
    explicit ServiceCleanup(const std::wstring& name) : name_(name) {}
    ~ServiceCleanup()
    {
        CvServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        if (!manager) return;
        CvServiceHandle service(OpenServiceW(manager.get(), name_.c_str(), DELETE));
        if (service) DeleteService(service.get());
    }

private:
    std::wstring name_;
};

}  // namespace

TEST(DoRun, WaitsForTheStartedProgramOnlyWhenAskedTo)
{
    cvtest::ScratchDir dir(L"dorun");
    const std::wstring record = dir / L"record.txt";
    const std::wstring gateName = L"cvtest-dorun-gate-" + std::to_wstring(GetCurrentProcessId());
    CvHandle gate(CreateEventW(nullptr, TRUE, FALSE, gateName.c_str()));
    ASSERT_TRUE(gate);
    ScopedEnv file(L"CV_RECORD_FILE", record);
    ScopedEnv gateEnv(L"CV_RECORD_GATE", gateName);
    const std::wstring recorder = cvtest::BinDir() + L"sys_recorder.exe";

    // wait = 1: the recorder may pass its gate; DoRun returns after its end.
    SetEvent(gate.get());
    EXPECT_EQ(DoRun(recorder.c_str(), L"alpha \"b c\"", 1, SW_SHOWMINNOACTIVE), 1);
    EXPECT_EQ(ReadFileBytes(record), "start show=7 args=alpha \"b c\"\nend\n");

    // wait = 0: the recorder is held at its gate, so DoRun must have returned
    // while it still runs.
    DeleteFileW(record.c_str());
    ResetEvent(gate.get());
    EXPECT_EQ(DoRun(recorder.c_str(), L"beta", 0, SW_HIDE), 1);
    EXPECT_EQ(ReadFileBytes(record).find("end"), std::string::npos);
    SetEvent(gate.get());
    ASSERT_TRUE(WaitForText(record, "end\n"));
    EXPECT_EQ(ReadFileBytes(record), "start show=0 args=beta\nend\n");
}

TEST(DoRun, ClosesTheProcessHandleItAskedFor)
{
    // Wine's GetProcessHandleCount always answers 0, so the handle is watched
    // through the process object instead: once the program has ended and the
    // last handle to it is closed, its id no longer opens. A handle that
    // DoRun kept would keep the object, and the id, for good.
    cvtest::ScratchDir dir(L"dorun-handles");
    const std::wstring pidFile = dir / L"pid.txt";
    ScopedEnv file(L"CV_RECORD_FILE", dir / L"record.txt");
    ScopedEnv pid(L"CV_RECORD_PID", pidFile);
    EXPECT_EQ(DoRun((cvtest::BinDir() + L"sys_recorder.exe").c_str(), L"once", 1, SW_HIDE), 1);
    const DWORD id = static_cast<DWORD>(std::stoul(ReadFileBytes(pidFile)));
    ASSERT_NE(id, 0u);
    // Polled: nothing signals the object's end but the id's not opening.
    EXPECT_TRUE(cvtest::WaitUntil([id] { return !CvHandle(OpenProcess(SYNCHRONIZE, FALSE, id)); }))
        << "process " << id << " is still held open";
}

TEST(DoRun, MissingFileReturnsOneAtOnce)
{
    // Without SEE_MASK_FLAG_NO_UI Wine (like Windows) would put up an error
    // box here and wait for it; this program has a display, so that would
    // hang the test.
    EXPECT_EQ(DoRun(L"C:\\cvtest-no-such-folder\\no-such-program.exe", L"x", 1, SW_SHOW), 1);
    EXPECT_EQ(DoRun(L"C:\\cvtest-no-such-folder\\no-such-program.exe", nullptr, 0, SW_HIDE), 1);
    EXPECT_EQ(DoRun(nullptr, nullptr, 1, SW_HIDE), 1);
}

TEST(DoFunc, CallsTheExportAndReleasesTheLibrary)
{
    const std::wstring dll = cvtest::BinDir() + L"sys_testdll.dll";
    struct Case {
        const wchar_t* library;
        const wchar_t* function;
        int expected;
    } cases[] = {
        {dll.c_str(), L"CvTestAnswer", 4242},
        {dll.c_str(), L"CvTestNegative", -17},
        {dll.c_str(), L"NoSuchExport", 0},
        {dll.c_str(), L"", 0},
        {L"C:\\cvtest-no-such-folder\\none.dll", L"CvTestAnswer", 0},
        {dll.c_str(), nullptr, 0},
        {nullptr, L"CvTestAnswer", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DoFunc(c.library, c.function), c.expected) << (c.function ? cvtest::Narrow(c.function) : "(null)");
        EXPECT_EQ(GetModuleHandleW(L"sys_testdll.dll"), nullptr) << "the library stayed loaded";
    }
}

TEST(SetPrivilege, UnknownNamesFailKnownNamesSucceed)
{
    EXPECT_EQ(SetPrivilege(L"SeNoSuchPrivilege", 1), 0);
    EXPECT_EQ(SetPrivilege(L"", 1), 0);
    EXPECT_EQ(SetPrivilege(nullptr, 1), 0);

    // Held but disabled in Wine's token: enabled afterwards.
    bool held = false;
    HasPrivilegeEnabled(L"SeBackupPrivilege", &held);
    ASSERT_TRUE(held) << "the bench's token should hold SeBackupPrivilege";
    EXPECT_EQ(SetPrivilege(L"SeBackupPrivilege", 1), 1);
    EXPECT_TRUE(HasPrivilegeEnabled(L"SeBackupPrivilege", &held));

    // A known privilege the token does not hold: the adjustment does nothing,
    // and the answer is still 1.
    EXPECT_FALSE(HasPrivilegeEnabled(L"SeCreateTokenPrivilege", &held));
    ASSERT_FALSE(held);
    EXPECT_EQ(SetPrivilege(L"SeCreateTokenPrivilege", 1), 1);
    EXPECT_FALSE(HasPrivilegeEnabled(L"SeCreateTokenPrivilege", &held));
    EXPECT_FALSE(held);
}

TEST(SetPrivilege, DisablingRemovesThePrivilegeForGood)
{
    // In a process of its own, as the token loses the privilege for good.
    // Attributes: 0 held and disabled, 2 enabled, -1 not in the token.
    auto r = cvtest::Run(cvtest::BinDir() + L"sys_probe.exe", L"privilege SeShutdownPrivilege");
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.output, "before=0 remove=1 after=-1 enable=1 after=-1\n");
}

// Wine has a service control manager that lets its (administrator) processes
// create and delete services. Starting a kernel driver service makes Wine's
// winedevice.exe load the file; a file that is not a driver fails with
// ERROR_DLL_INIT_FAILED, and the created service stays registered, stopped.
// No real driver is loaded here: the file is a text file.
TEST(Drivers, LoadAndUnloadWhatThePlatformAllows)
{
    cvtest::ScratchDir dir(L"drivers");
    const std::wstring bogus = dir / L"bogus.sys";
    cvtest::WriteFile(bogus, "not a driver");
    const std::wstring name = L"cvtest_drv_" + std::to_wstring(GetCurrentProcessId());
    ServiceCleanup cleanup(name);

    EXPECT_EQ(UnLoadDrv(name.c_str()), 0) << "no such service yet";
    EXPECT_EQ(UnLoadDrv(nullptr), 0);
    EXPECT_EQ(LoadDrv(nullptr, bogus.c_str()), 0);

    EXPECT_EQ(LoadDrv(name.c_str(), bogus.c_str()), 0);
    {
        CvServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        ASSERT_TRUE(manager);
        CvServiceHandle service(OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
        ASSERT_TRUE(service) << "the created service stays registered";
        SERVICE_STATUS status = {};
        ASSERT_TRUE(QueryServiceStatus(service.get(), &status));
        EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
        std::vector<BYTE> buffer(8192);
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
        DWORD needed = 0;
        ASSERT_TRUE(QueryServiceConfigW(service.get(), config, static_cast<DWORD>(buffer.size()), &needed));
        EXPECT_EQ(config->dwServiceType, static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
        EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_DEMAND_START));
        EXPECT_EQ(config->dwErrorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
        EXPECT_EQ(std::wstring(config->lpBinaryPathName), bogus);
        EXPECT_EQ(std::wstring(config->lpDisplayName), name);
    }
    // The service exists now: it is opened and fails to start the same way.
    EXPECT_EQ(LoadDrv(name.c_str(), bogus.c_str()), 0);

    EXPECT_EQ(UnLoadDrv(name.c_str()), 1);
    {
        CvServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        SetLastError(0);
        CvServiceHandle service(OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_STATUS));
        EXPECT_FALSE(service);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    }
    EXPECT_EQ(UnLoadDrv(name.c_str()), 0);
}

TEST(Drivers, LoadOfARunningServiceSucceedsWithoutChangingIt)
{
    // Wine runs its own nsiproxy kernel driver service. LoadDrv on its name
    // finds the service, whose start fails with "already running": 1, and
    // the given path is not taken. Only a running service is used, so that
    // nothing is started here.
    CvServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ASSERT_TRUE(manager);
    CvServiceHandle service(OpenServiceW(manager.get(), L"nsiproxy", SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
    SERVICE_STATUS status = {};
    if (!service || !QueryServiceStatus(service.get(), &status) || status.dwCurrentState != SERVICE_RUNNING)
        GTEST_SKIP() << "Wine's nsiproxy service is not running here";
    std::vector<BYTE> buffer(8192);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    DWORD needed = 0;
    ASSERT_TRUE(QueryServiceConfigW(service.get(), config, static_cast<DWORD>(buffer.size()), &needed));
    const std::wstring path = config->lpBinaryPathName;

    EXPECT_EQ(LoadDrv(L"nsiproxy", L"C:\\cvtest-no-such-folder\\other.sys"), 1);
    ASSERT_TRUE(QueryServiceConfigW(service.get(), config, static_cast<DWORD>(buffer.size()), &needed));
    EXPECT_EQ(std::wstring(config->lpBinaryPathName), path);
    ASSERT_TRUE(QueryServiceStatus(service.get(), &status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(AtJobs, WithoutAtExeNothingIsScheduled)
{
    // Wine ships no at.exe (only schtasks.exe).
    if (cvtest::Exists(AtExePath())) GTEST_SKIP() << "this platform has an at.exe";
    EXPECT_EQ(CvAddJob(L"C:\\app\\run.exe", L"12:00", 1), 0);
    EXPECT_EQ(CvAddJob(L"C:\\app\\run.exe", L"12:00", 0), 0);
    EXPECT_EQ(CvDelJob(), 0);
}

TEST_F(AtJobs, CommandsReachAtExe)
{
    // A recording stand-in for at.exe in the system folder as this process
    // sees it (SysWOW64, for a 32-bit process); the shell started by the
    // process is redirected alike, so the stand-in is what runs.
    const std::wstring at = AtExePath();
    if (cvtest::Exists(at)) GTEST_SKIP() << "this platform has an at.exe of its own; it is left alone";
    ASSERT_TRUE(CopyFileW((cvtest::BinDir() + L"sys_recorder.exe").c_str(), at.c_str(), TRUE));

    cvtest::ScratchDir dir(L"atjobs");
    const std::wstring record = dir / L"record.txt";
    ScopedEnv file(L"CV_RECORD_FILE", record);

    struct Case {
        const wchar_t* program;
        const wchar_t* time;
        int everyDay;
        const char* args;  // null: CvDelJob
    } cases[] = {
        {L"C:\\Program Files\\App\\run.exe", L"23:30", 1, "23:30 /every:m,t,w,th,f,s,su \"C:\\Program Files\\App\\run.exe\""},
        {L"C:\\Program Files\\App\\run.exe", L"23:30", 0, "23:30 \"C:\\Program Files\\App\\run.exe\""},
        {nullptr, nullptr, 0, "/delete /yes"},
    };
    for (const Case& c : cases) {
        DeleteFileW(record.c_str());
        EXPECT_EQ(c.program ? CvAddJob(c.program, c.time, c.everyDay) : CvDelJob(), 1);
        ASSERT_TRUE(WaitForText(record, "end\n")) << c.args;
        EXPECT_EQ(ReadFileBytes(record), std::string("start show=0 args=") + c.args + "\nend\n");
    }

    // What cannot be passed as one quoted argument, or would not fit, is not
    // run at all: only the valid job after it reaches the stand-in.
    DeleteFileW(record.c_str());
    const std::wstring tooLong = L"C:\\" + std::wstring(1100, L'a') + L".exe";
    EXPECT_EQ(CvAddJob(L"C:\\app\\a\"b.exe", L"10:00", 0), 0);
    EXPECT_EQ(CvAddJob(L"C:\\app\\run.exe", L"10:00\" /delete", 0), 0);
    EXPECT_EQ(CvAddJob(tooLong.c_str(), L"10:00", 1), 0);
    EXPECT_EQ(CvAddJob(nullptr, L"10:00", 1), 0);
    EXPECT_EQ(CvAddJob(L"C:\\app\\run.exe", nullptr, 1), 0);
    EXPECT_EQ(CvAddJob(L"C:\\app\\run.exe", L"11:00", 0), 1);
    ASSERT_TRUE(WaitForText(record, "end\n"));
    EXPECT_EQ(ReadFileBytes(record), "start show=0 args=11:00 \"C:\\app\\run.exe\"\nend\n");
}

// The first instance is this test program: it holds the mutex and owns a
// real window titled with the name. Second instances are probe processes;
// this thread dispatches messages while they run, as a first instance's
// message loop would.
TEST(CheckOneInstance, SecondInstancesFindTheFirst)
{
    const std::wstring name = L"cvtest-instance-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring probe = cvtest::BinDir() + L"sys_probe.exe";

    EXPECT_EQ(RunPumping(probe, L"instance \"" + name + L"-alone\""), 1u) << "a new name: the first instance";

    EXPECT_EQ(CheckOneInstance(name.c_str(), nullptr), 1);  // the mutex is ours from here on
    // The mutex exists, but no window has the title yet.
    EXPECT_EQ(CheckOneInstance(name.c_str(), L"ignored"), 1);
    EXPECT_EQ(RunPumping(probe, L"instance \"" + name + L"\" hello"), 1u);

    CopyDataWindow first(name);
    ASSERT_NE(first.hwnd(), nullptr);
    ASSERT_FALSE(IsWindowVisible(first.hwnd()));

    EXPECT_EQ(RunPumping(probe, L"instance \"" + name + L"\" \"hello there\""), 0u);
    cvtest::PumpPending();
    ASSERT_EQ(first.received.size(), 1u);
    EXPECT_EQ(first.received[0].id, 0u);
    EXPECT_EQ(first.received[0].bytes, 12u * sizeof(wchar_t));
    EXPECT_EQ(first.received[0].text, std::wstring(L"hello there", 12));  // with its terminator
    EXPECT_TRUE(IsWindowVisible(first.hwnd())) << "shown by the second instance";
    EXPECT_EQ(GetForegroundWindow(), first.hwnd());

    // A minimised first instance is restored.
    ShowWindow(first.hwnd(), SW_MINIMIZE);
    cvtest::PumpPending();
    ASSERT_TRUE(IsIconic(first.hwnd()));
    // One character, or none: nothing is sent.
    EXPECT_EQ(RunPumping(probe, L"instance \"" + name + L"\" x"), 0u);
    EXPECT_EQ(RunPumping(probe, L"instance \"" + name + L"\""), 0u);
    cvtest::PumpPending();
    EXPECT_EQ(first.received.size(), 1u);
    EXPECT_FALSE(IsIconic(first.hwnd()));
    EXPECT_TRUE(IsWindowVisible(first.hwnd()));
    EXPECT_EQ(GetForegroundWindow(), first.hwnd());

    // A first instance that does not answer (this thread does not dispatch
    // while cvtest::Run waits) cannot hold the second one for ever: it ends,
    // with 0, well inside Run's minute.
    auto r = cvtest::Run(probe, L"instance \"" + name + L"\" \"are you there\"");
    EXPECT_EQ(r.exitCode, 0u) << "the second instance hung with the first, and Run gave up on it";
    cvtest::PumpPending();  // what the hung-up send left in the queue
}
