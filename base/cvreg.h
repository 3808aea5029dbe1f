// Registry access: one string value in either registry view, the auto-start
// entry, and key monitors on threads of their own. And CLock, a
// reader/writer lock.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>

typedef void (*CvRegCallback)(void* context);

class CCvReg {
public:
    static CCvReg& Instance();

    // view: non-zero the 64-bit view; 0 the process's default view, made
    // explicit as the 32-bit view under WOW64.

    // Reads a string value of at most 129 characters into `value` (room for
    // 130 characters). The key is opened with full access. 1 or 0.
    int GetRegInfo(HKEY root, const wchar_t* keyPath, const wchar_t* valueName, int view, wchar_t* value);
    // Writes a REG_SZ value into an existing key (never created). 1 or 0.
    int SetRegInfo(HKEY root, const wchar_t* keyPath, const wchar_t* valueName, int view, const wchar_t* value);
    // Adds (enable non-zero) or removes the HKLM ...\Run entry `valueName`;
    // a null command means the running executable. Commands of more than 259
    // characters are refused. 1 or 0.
    int SetAutoRun(const wchar_t* valueName, int enable, const wchar_t* command);
    // Watches the key and its subtree on this thread: calls back once at once
    // and then once per change, until StopMonitor. 0 when the key cannot be
    // watched, 1 when stopped.
    int MonitorReg(HKEY root, const wchar_t* keyPath, int view, CvRegCallback callback, void* context);
    // Runs MonitorReg on a detached thread. Key paths of more than 299
    // characters are refused.
    void StartMonitor(HKEY root, const wchar_t* keyPath, int view, CvRegCallback callback, void* context);
    // Ends every monitor running now (each within about 500 ms); monitors
    // started afterwards are not affected. Does not wait.
    void StopMonitor();
    static unsigned __stdcall MonitorThread(void* request);

    // Advanced by StopMonitor; a monitor ends when it differs from the value
    // it started with.
    std::atomic<int32_t> stopMonitor{0};

private:
    CCvReg() = default;
    int Monitor(HKEY root, const wchar_t* keyPath, int view, CvRegCallback callback, void* context, int32_t epoch);
};

int GetRegInfo(HKEY root, const wchar_t* keyPath, const wchar_t* valueName, int view, wchar_t* value);
int SetRegInfo(HKEY root, const wchar_t* keyPath, const wchar_t* valueName, int view, const wchar_t* value);
int SetAutoRun(const wchar_t* valueName, int enable, const wchar_t* command);
void StartMonitor(HKEY root, const wchar_t* keyPath, int view, CvRegCallback callback, void* context);
void StopMonitor();

// Readers share the lock as a group (a reader arriving while readers are
// inside enters at once); a writer waits until the group has left. The
// writing thread may lock again, or take a read lock, while it holds the
// lock. The group's hold may be released by whichever reader leaves last.
class CLock {
public:
    CLock();
    ~CLock();
    CLock(const CLock&) = delete;
    CLock& operator=(const CLock&) = delete;

    void Lock();
    void Unlock();
    void LockRead();
    void UnlockRead();
    bool IsLockWrite() const { return writeFlag.load(); }
    bool IsLockRead() const { return readFlag.load(); }

private:
    CRITICAL_SECTION guard;  // guards the fields below, held only briefly
    std::atomic<bool> writeFlag{false};
    std::atomic<bool> readFlag{false};
    int32_t readers = 0;

    HANDLE gate;              // the lock itself: a semaphore of one, releasable by any thread
    DWORD writer = 0;         // the thread holding it for writing
    int32_t writeDepth = 0;   // nested Lock calls of that thread
    int32_t readsInWrite = 0; // read locks that thread took while writing
};
