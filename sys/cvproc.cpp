#include "sys/cvproc.h"

#include <shellapi.h>

#include <cwchar>

#include "base/cvhandle.h"
#include "base/cvstr.h"

namespace {

// How long CheckOneInstance waits for the first instance to take its
// message. A responsive window answers at once; one that does not answer in
// this time is treated as hung, so that a second start never hangs with it.
const UINT kCopyDataTimeoutMs = 5000;

// The system folder's at.exe, when it exists. For a 32-bit process on 64-bit
// Windows the path names system32 and both the check and the start are
// redirected to SysWOW64 alike.
bool FindAtExe(wchar_t (&path)[MAX_PATH])
{
    UINT n = GetSystemDirectoryW(path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    if (!CvStrAppend(path, L"\\at.exe")) return false;
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

int DoRun(const wchar_t* file, const wchar_t* params, int wait, int show)
{
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    // No error dialog: a missing program must not stop a silent run on a
    // message box that nobody sees (and the call returns at once then).
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpFile = file;
    info.lpParameters = params;
    info.nShow = show;
    if (file && ShellExecuteExW(&info)) {
        CvHandle process(info.hProcess);  // null when no process was started
        if (wait && process) WaitForSingleObject(process.get(), INFINITE);
    }
    return 1;
}

int DoFunc(const wchar_t* library, const wchar_t* function)
{
    if (!library || !function) return 0;
    CvModule module(LoadLibraryW(library));
    if (!module) return 0;
    char name[512];
    if (WideCharToMultiByte(CP_ACP, 0, function, -1, name, sizeof(name), nullptr, nullptr) <= 0) return 0;
    using Function = int (*)();
    auto call = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module.get(), name)));
    if (!call) return 0;
    return call();
}

int LoadDrv(const wchar_t* serviceName, const wchar_t* driverPath)
{
    if (!serviceName || !driverPath) return 0;
    CvServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return 0;
    CvServiceHandle service(CreateServiceW(manager.get(), serviceName, serviceName, SERVICE_ALL_ACCESS,
                                           SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                           driverPath, nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!service) {
        if (GetLastError() != ERROR_SERVICE_EXISTS) return 0;
        service.reset(OpenServiceW(manager.get(), serviceName, SERVICE_ALL_ACCESS));
        if (!service) return 0;
    }
    if (StartServiceW(service.get(), 0, nullptr)) return 1;
    return GetLastError() == ERROR_SERVICE_ALREADY_RUNNING ? 1 : 0;
}

int UnLoadDrv(const wchar_t* serviceName)
{
    if (!serviceName) return 0;
    CvServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return 0;
    CvServiceHandle service(OpenServiceW(manager.get(), serviceName, SERVICE_ALL_ACCESS));
    if (!service) return 0;
    SERVICE_STATUS status = {};
    ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    DeleteService(service.get());
    return 1;
}

int SetPrivilege(const wchar_t* name, int enable)
{
    if (!name) return 0;
    CvHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) return 0;
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    if (!LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid)) return 0;
    privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : SE_PRIVILEGE_REMOVED;
    AdjustTokenPrivileges(token.get(), FALSE, &privileges, sizeof(privileges), nullptr, nullptr);
    return 1;
}

int CheckOneInstance(const wchar_t* name, const wchar_t* message)
{
    if (!name) return 1;  // nothing names another instance
    SetLastError(ERROR_SUCCESS);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
    DWORD error = GetLastError();
    if (!mutex) return 1;
    // A new mutex stays open on purpose: it marks this process as the
    // running instance until the process ends.
    if (error != ERROR_ALREADY_EXISTS) return 1;
    CloseHandle(mutex);

    HWND window = FindWindowW(nullptr, name);
    if (!window) return 1;
    // The asynchronous forms: the window belongs to another process, and a
    // synchronous ShowWindow would wait for it (for ever, were it hung).
    ShowWindowAsync(window, SW_SHOWNORMAL);
    if (IsIconic(window)) ShowWindowAsync(window, SW_RESTORE);
    SetForegroundWindow(window);

    if (message && wcslen(message) > 1) {
        COPYDATASTRUCT data = {};
        data.dwData = 0;
        data.cbData = static_cast<DWORD>((wcslen(message) + 1) * sizeof(wchar_t));
        data.lpData = const_cast<wchar_t*>(message);
        DWORD_PTR result = 0;
        SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG,
                            kCopyDataTimeoutMs, &result);
    }
    return 0;
}

int CvAddJob(const wchar_t* program, const wchar_t* time, int everyDay)
{
    wchar_t at[MAX_PATH];
    if (!FindAtExe(at)) return 0;
    if (!program || !time || wcschr(program, L'"') || wcschr(time, L'"')) return 0;
    // time [/every:...] "program"; a command that does not fit is not cut
    // into another command.
    wchar_t params[1024] = L"";
    bool fits = CvStrCopy(params, time) &&
                CvStrAppend(params, everyDay ? L" /every:m,t,w,th,f,s,su \"" : L" \"") &&
                CvStrAppend(params, program) && CvStrAppend(params, L"\"");
    if (!fits) return 0;
    DoRun(at, params, 0, SW_HIDE);
    return 1;
}

int CvDelJob()
{
    wchar_t at[MAX_PATH];
    if (!FindAtExe(at)) return 0;
    DoRun(at, L"/delete /yes", 0, SW_HIDE);
    return 1;
}
