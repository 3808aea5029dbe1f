// Self-removal: a running program cannot delete its own file, so a small
// batch script does it once the process has ended.
#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <cstdio>
#include <string>

#include "app/report.h"
#include "app/uninstaller.h"
#include "base/cvhandle.h"
#include "base/cvstr.h"
#include "shell/folders.h"

namespace {

// A batch file expands "%": doubled, it reaches the command as one.
std::wstring ForBatch(const wchar_t* path)
{
    std::wstring out;
    for (const wchar_t* p = path; *p; ++p) {
        out += *p;
        if (*p == L'%') out += L'%';
    }
    return out;
}

}  // namespace

void CCvUninstaller::DeleteSelf()
{
    // 1. The farewell page, or the maker's home page without settings.
    if (settingsFound) {
        if (settings.farewellUrl[0]) ShellExecuteW(nullptr, L"open", settings.farewellUrl, nullptr, nullptr, SW_SHOW);
    } else {
        ShellExecuteW(nullptr, L"open", CvHomePage(), nullptr, nullptr, SW_SHOW);
    }

    // 2. The script. Written in binary mode so that its lines end in exactly
    // one CR LF each.
    CvStdFile script(fopen("c:\\clear.bat", "wb"));
    if (!script) return;

    // 3-4. The executable, and the installation folder when it exists. A
    // folder the system or a profile needs is never removed as a whole.
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    exe[MAX_PATH - 1] = L'\0';
    bool removeFolder =
        header.installDir[0] && PathFileExistsW(header.installDir) && !CvIsProtectedTree(header.installDir);
    // The script ends this process by its id, not every process that happens
    // to carry the same image name (another product's uninstaller may be in
    // the middle of its own work).
    std::wstring text = L"@ echo off\r\ntaskkill /pid " + std::to_wstring(GetCurrentProcessId()) +
                        L" /f\r\ndel \"" + ForBatch(exe) + L"\"\r\n";
    if (removeFolder) text += L"rd /S /Q \"" + ForBatch(header.installDir) + L"\"\r\n";
    text += L"del %0";

    // 5. In the thread's ANSI code page, all of it.
    std::string bytes = CvToThreadAnsi(text);
    fwrite(bytes.data(), 1, bytes.size(), script.get());
    script.reset();

    // 6-7. Started hidden from c:\, and this process ends at once. The script's
    // process is given a handle to this one: while it holds it, the system
    // cannot hand this process id to another process, so "taskkill /pid"
    // can only ever reach this uninstaller.
    SHELLEXECUTEINFOW run = {};
    run.cbSize = sizeof(run);
    run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    run.lpVerb = L"open";
    run.lpFile = L"c:\\clear.bat";
    run.lpDirectory = L"c:\\";
    run.nShow = SW_HIDE;
    if (ShellExecuteExW(&run) && run.hProcess) {
        HANDLE self = nullptr;
        DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), run.hProcess, &self, SYNCHRONIZE, FALSE, 0);
        CloseHandle(run.hProcess);
    }
    ExitProcess(0);
}
