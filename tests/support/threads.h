// Threads and processes, from the system's lists: a test
// that must know that background work (a report, a registry monitor, a child
// program) is over waits for it to end instead of sleeping.
#pragma once
#include <windows.h>
#include <tlhelp32.h>

#include "base/cvhandle.h"

namespace cvtest {

inline int ThreadCount()
{
    CvHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (snapshot.get() == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    int n = 0;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++n;
    return n;
}

// Waits until the process has at most `count` threads; false after
// `timeoutMs`.
inline bool WaitForThreads(int count, DWORD timeoutMs = 10000)
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < timeoutMs; Sleep(5))
        if (ThreadCount() <= count) return true;
    return ThreadCount() <= count;
}

}  // namespace cvtest

namespace cvtest {

// Running processes whose image name is `image` (case-insensitive).
inline int ProcessCount(const wchar_t* image)
{
    CvHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (snapshot.get() == INVALID_HANDLE_VALUE) return -1;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    int n = 0;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
        if (_wcsicmp(entry.szExeFile, image) == 0) ++n;
    return n;
}

// Waits until no process of that image name runs; false after `timeoutMs`.
inline bool WaitNoProcess(const wchar_t* image, DWORD timeoutMs = 30000)
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < timeoutMs; Sleep(10))
        if (ProcessCount(image) == 0) return true;
    return ProcessCount(image) == 0;
}

}  // namespace cvtest
