#include "base/cvlog.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "base/cvhandle.h"
#include "base/cvreg.h"
#include "base/cvsharemem.h"
#include "base/cvstr.h"
#include "shell/folders.h"
#include "sys/cvos.h"

namespace {

constexpr size_t kMessageRoom = 1024;  // formatted messages: at most 1023 characters

// "2013-05-09 14:03:07\t<text>\r\n" in local time.
std::wstring LogLine(const wchar_t* text)
{
    SYSTEMTIME t;
    GetLocalTime(&t);
    wchar_t stamp[32];
    _snwprintf(stamp, 32, L"%d-%02d-%02d %02d:%02d:%02d\t", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    stamp[31] = L'\0';
    return std::wstring(stamp) + (text ? text : L"") + L"\r\n";
}

// Formats into a 1024-character buffer, cutting longer output to 1023.
void Format(wchar_t (&buf)[kMessageRoom], const wchar_t* format, va_list args)
{
    buf[0] = L'\0';
    if (!format) return;
    _vsnwprintf(buf, kMessageRoom, format, args);  // -1 and no terminator when cut
    buf[kMessageRoom - 1] = L'\0';
}

}  // namespace

CCvLog& CCvLog::Instance()
{
    static CCvLog log;
    return log;
}

CCvLog::CCvLog() { InitializeCriticalSection(&memLock); }

CCvLog::~CCvLog()
{
    if (memHandle) CloseHandle(memHandle);
    for (HANDLE h : earlierAreas) CloseHandle(h);
    DeleteCriticalSection(&memLock);
}

void CCvLog::ForceLog(bool force) { forceLog = force; }

void CCvLog::SetMemName(const wchar_t* name, int size)
{
    EnterCriticalSection(&memLock);
    if (memHandle) earlierAreas.push_back(memHandle);
    memName = name ? name : L"";
    memSize = size > 0 ? size : 0;
    memHandle = CreateShareMem(memName.c_str(), static_cast<DWORD>(memSize));
    LeaveCriticalSection(&memLock);
}

bool CCvLog::isLog()
{
    if (forceLog) return true;
    wchar_t value[300] = {};
    const wchar_t* key = L"SOFTWARE\\Corvane";
    if (!CCvReg::Instance().GetRegInfo(HKEY_LOCAL_MACHINE, key, L"debug", 0, value)) {
        if (!isWow64() || !CCvReg::Instance().GetRegInfo(HKEY_LOCAL_MACHINE, key, L"debug", 1, value)) return false;
    }
    return wcscmp(value, L"1") == 0;
}

void CCvLog::GetLogFileName(wchar_t* name)
{
    wchar_t dir[MAX_PATH];
    GetCurPath(dir);
    SYSTEMTIME t;
    GetLocalTime(&t);
    int n = _snwprintf(name, MAX_PATH, L"%lsCV-%d-%d-%d.log", dir, t.wYear, t.wMonth, t.wDay);
    if (n < 0 || n >= MAX_PATH) name[0] = L'\0';  // the folder is too deep for a name
}

namespace {

// Appends one line, converted to the thread's ANSI code page, in one write.
void AppendLine(FILE* file, const wchar_t* text)
{
    std::string bytes = CvToThreadAnsi(LogLine(text));
    fwrite(bytes.data(), 1, bytes.size(), file);
}

}  // namespace

FILE* CCvLog::OpenToday()
{
    if (!isLog()) return nullptr;
    wchar_t path[MAX_PATH];
    GetLogFileName(path);
    return path[0] ? _wfopen(path, L"ab") : nullptr;
}

void CCvLog::WriteLog(const wchar_t* text)
{
    CvStdFile file(OpenToday());
    if (file) AppendLine(file.get(), text);
}

void CCvLog::WriteLog2(const wchar_t* format, ...)
{
    // The switch and the file come first: nothing is formatted while off.
    CvStdFile file(OpenToday());
    if (!file) return;
    wchar_t message[kMessageRoom];
    va_list args;
    va_start(args, format);
    Format(message, format, args);
    va_end(args);
    AppendLine(file.get(), message);
}

void CCvLog::WriteLog3(const wchar_t* format, ...)
{
    wchar_t message[kMessageRoom];
    va_list args;
    va_start(args, format);
    Format(message, format, args);
    va_end(args);
    std::wstring line = LogLine(message);

    EnterCriticalSection(&memLock);
    // The line and its terminator must fit in the area; one that would not
    // is dropped and the position stays.
    size_t room = static_cast<size_t>(memSize) / sizeof(wchar_t);
    bool fits = memHandle == nullptr || static_cast<size_t>(memPos) + line.size() + 1 <= room;
    if (fits) {
        WriteShareMem(memName.c_str(), line.c_str(), memPos);
        memPos += static_cast<int>(line.size());  // advances even when no area exists
    }
    LeaveCriticalSection(&memLock);
}

void WriteLog(const wchar_t* text) { CCvLog::Instance().WriteLog(text); }
