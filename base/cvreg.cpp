#include "base/cvreg.h"

#include <process.h>

#include <cstring>
#include <memory>

#include "base/cvhandle.h"
#include "base/cvstr.h"

#include "sys/cvos.h"

namespace {

const wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr size_t kMonitorPathRoom = 300;  // key paths of at most 299 characters
constexpr size_t kCommandRoom = 260;      // commands of at most 259 characters

REGSAM ViewBit(int view)
{
    if (view) return KEY_WOW64_64KEY;
    return isWow64() ? KEY_WOW64_32KEY : 0;
}

struct MonitorRequest {
    HKEY root;
    wchar_t keyPath[kMonitorPathRoom];
    int view;
    CvRegCallback callback;
    void* context;
    CCvReg* owner;
    int32_t epoch;
};


}  // namespace

CCvReg& CCvReg::Instance()
{
    static CCvReg reg;
    return reg;
}

int CCvReg::GetRegInfo(HKEY root, const wchar_t* keyPath, const wchar_t* valueName, int view, wchar_t* value)
{
    CvRegKey key;
    if (RegOpenKeyExW(root, keyPath, 0, KEY_ALL_ACCESS | ViewBit(view), key.put()) != ERROR_SUCCESS) return 0;
    // 260 bytes are offered; the extra zeroed character keeps a value that
    // fills them without a terminator terminated all the same.
    wchar_t data[131] = {};
    DWORD size = 260;
    if (RegQueryValueExW(key.get(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size) !=
        ERROR_SUCCESS)
        return 0;
    CvStrCopy(value, 130, data);
    return 1;
}

int CCvReg::SetRegInfo(HKEY root, const wchar_t* keyPath, const wchar_t* valueName, int view, const wchar_t* value)
{
    if (!value) return 0;
    CvRegKey key;
    if (RegOpenKeyExW(root, keyPath, 0, KEY_ALL_ACCESS | ViewBit(view), key.put()) != ERROR_SUCCESS) return 0;
    DWORD bytes = static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t));
    return RegSetValueExW(key.get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), bytes) ==
                   ERROR_SUCCESS
               ? 1
               : 0;
}

int CCvReg::SetAutoRun(const wchar_t* valueName, int enable, const wchar_t* command)
{
    CvRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS) return 0;
    if (!enable) {
        RegDeleteValueW(key.get(), valueName);
        return 1;
    }
    wchar_t data[kCommandRoom];
    if (command) {
        if (!CvStrCopy(data, command)) return 0;  // longer than 259 characters
    } else {
        DWORD n = GetModuleFileNameW(nullptr, data, kCommandRoom);
        if (n == 0 || n >= kCommandRoom) return 0;
    }
    DWORD bytes = static_cast<DWORD>(wcslen(data) * sizeof(wchar_t));
    return RegSetValueExW(key.get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data), bytes) ==
                   ERROR_SUCCESS
               ? 1
               : 0;
}

int CCvReg::MonitorReg(HKEY root, const wchar_t* keyPath, int view, CvRegCallback callback, void* context)
{
    return Monitor(root, keyPath, view, callback, context, stopMonitor.load());
}

int CCvReg::Monitor(HKEY root, const wchar_t* keyPath, int view, CvRegCallback callback, void* context,
                    int32_t epoch)
{
    CvHandle changed(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!changed) return 0;
    CvRegKey key;
    if (RegOpenKeyExW(root, keyPath, 0, KEY_NOTIFY | ViewBit(view), key.put()) != ERROR_SUCCESS) return 0;
    // Names and values of the whole subtree, from the first registration on:
    // a first registration for names only would let the first value change
    // pass unseen.
    const DWORD filter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;
    if (RegNotifyChangeKeyValue(key.get(), TRUE, filter, changed.get(), TRUE) != ERROR_SUCCESS) return 0;
    // The first call comes as soon as monitoring has begun, before any change.
    if (callback) callback(context);
    while (stopMonitor.load() == epoch) {
        if (WaitForSingleObject(changed.get(), 500) != WAIT_OBJECT_0) continue;
        // Watch again before calling back, so that a change made while the
        // callback runs is not lost.
        ResetEvent(changed.get());
        RegNotifyChangeKeyValue(key.get(), TRUE, filter, changed.get(), TRUE);
        if (callback) callback(context);
    }
    return 1;
}

void CCvReg::StartMonitor(HKEY root, const wchar_t* keyPath, int view, CvRegCallback callback, void* context)
{
    std::unique_ptr<MonitorRequest> request(new MonitorRequest{root, {}, view, callback, context, this, 0});
    if (!CvStrCopy(request->keyPath, keyPath)) return;  // longer than 299 characters
    request->epoch = stopMonitor.load();
    uintptr_t thread = _beginthreadex(nullptr, 0, &CCvReg::MonitorThread, request.get(), 0, nullptr);
    if (!thread) return;  // the request is freed here
    request.release();    // the thread owns it now
    CloseHandle(reinterpret_cast<HANDLE>(thread));
}

void CCvReg::StopMonitor()
{
    ++stopMonitor;
}

unsigned __stdcall CCvReg::MonitorThread(void* param)
{
    if (!param) return 1;
    std::unique_ptr<MonitorRequest> r(static_cast<MonitorRequest*>(param));
    r->owner->Monitor(r->root, r->keyPath, r->view, r->callback, r->context, r->epoch);
    return 0;
}

int GetRegInfo(HKEY root, const wchar_t* keyPath, const wchar_t* valueName, int view, wchar_t* value)
{
    return CCvReg::Instance().GetRegInfo(root, keyPath, valueName, view, value);
}

int SetRegInfo(HKEY root, const wchar_t* keyPath, const wchar_t* valueName, int view, const wchar_t* value)
{
    return CCvReg::Instance().SetRegInfo(root, keyPath, valueName, view, value);
}

int SetAutoRun(const wchar_t* valueName, int enable, const wchar_t* command)
{
    return CCvReg::Instance().SetAutoRun(valueName, enable, command);
}

void StartMonitor(HKEY root, const wchar_t* keyPath, int view, CvRegCallback callback, void* context)
{
    CCvReg::Instance().StartMonitor(root, keyPath, view, callback, context);
}

void StopMonitor()
{
    CCvReg::Instance().StopMonitor();
}

// ---------------------------------------------------------------------------

CLock::CLock()
{
    InitializeCriticalSection(&guard);
    gate = CreateSemaphoreW(nullptr, 1, 1, nullptr);
}

CLock::~CLock()
{
    CloseHandle(gate);
    DeleteCriticalSection(&guard);
}

void CLock::Lock()
{
    DWORD me = GetCurrentThreadId();
    {
        CvLocked lock(guard);
        if (writer == me) {  // the writer again: nested
            ++writeDepth;
            return;
        }
    }
    WaitForSingleObject(gate, INFINITE);
    CvLocked lock(guard);
    writer = me;
    writeDepth = 1;
    writeFlag = true;
    readFlag = true;
}

void CLock::Unlock()
{
    CvLocked lock(guard);
    if (writer != GetCurrentThreadId() || writeDepth == 0) return;  // not held for writing by this thread
    if (--writeDepth > 0) return;
    writer = 0;
    writeFlag = false;
    readFlag = readers > 0;
    ReleaseSemaphore(gate, 1, nullptr);
}

void CLock::LockRead()
{
    DWORD me = GetCurrentThreadId();
    {
        CvLocked lock(guard);
        if (writer == me) {  // reading inside one's own write lock
            ++readsInWrite;
            ++readers;
            readFlag = true;
            return;
        }
        if (readers > 0 && !writeFlag) {  // the group is inside: join it
            ++readers;
            return;
        }
    }
    WaitForSingleObject(gate, INFINITE);  // a writer, or the previous group, has left
    CvLocked lock(guard);
    ++readers;
    readFlag = true;
}

void CLock::UnlockRead()
{
    CvLocked lock(guard);
    if (readers <= 0) return;  // unbalanced call: nothing to release
    --readers;
    if (readsInWrite > 0 && writer == GetCurrentThreadId()) {
        --readsInWrite;
        return;
    }
    if (readers - readsInWrite > 0) return;
    readFlag = writeFlag.load();
    ReleaseSemaphore(gate, 1, nullptr);  // the group's hold, released by its last reader
}
