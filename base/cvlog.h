// The diagnostic logger: time-stamped lines appended to a daily file beside
// the executable while the machine-wide switch (HKLM\SOFTWARE\Corvane
// "debug" = "1") is on or logging is forced, and a live log in a named
// shared-memory area.
#pragma once
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

class CCvLog {
public:
    static CCvLog& Instance();
    ~CCvLog();
    CCvLog(const CCvLog&) = delete;
    CCvLog& operator=(const CCvLog&) = delete;

    // On: file logging whatever the registry says; off: the registry decides.
    void ForceLog(bool force);
    // Creates (or opens) the shared-memory area `name` of `size` bytes for
    // WriteLog3. A later call replaces it; the earlier area stays open until
    // the logger goes, so a reader of it is not cut off.
    void SetMemName(const wchar_t* name, int size);
    // One line with `text` in today's file, if logging is on.
    void WriteLog(const wchar_t* text);
    // printf-style (wide format, wide strings); the message is cut to 1023
    // characters.
    void WriteLog2(const wchar_t* format, ...);
    // printf-style line appended to the shared-memory area, whatever the
    // switch says. A line that would run past the area's end is dropped.
    void WriteLog3(const wchar_t* format, ...);

    bool forceLog = false;
    std::wstring memName;
    HANDLE memHandle = nullptr;
    int memPos = 0;

private:
    CCvLog();
    bool isLog();
    void GetLogFileName(wchar_t* name);  // 260 characters
    FILE* OpenToday();                   // today's file for appending, when logging is on

    int memSize = 0;                  // bytes of the current area
    std::vector<HANDLE> earlierAreas; // areas replaced by a later SetMemName
    CRITICAL_SECTION memLock;         // WriteLog3 calls do not overlap
};

void WriteLog(const wchar_t* text);
