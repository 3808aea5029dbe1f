#include "shell/folders.h"

#include <shlobj.h>

#include "base/cvstr.h"

namespace {

// Cuts a module path after its last backslash.
void CutAfterLastBackslash(wchar_t* path)
{
    wchar_t* slash = wcsrchr(path, L'\\');
    if (slash)
        slash[1] = L'\0';
    else
        path[0] = L'\0';
}

void ModuleDir(HMODULE module, wchar_t* path)
{
    DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        // Failure, or a path cut to the buffer: on older systems the cut copy
        // is not terminated, so terminate it before looking for the folder.
        path[n == 0 ? 0 : MAX_PATH - 1] = L'\0';
    }
    CutAfterLastBackslash(path);
}

BOOL SpecialFolder(wchar_t* path, int csidl)
{
    path[0] = L'\0';
    return SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE);
}

}  // namespace

void GetCurPath(wchar_t* path)
{
    ModuleDir(nullptr, path);
}

void GetCurPathEx(const wchar_t* moduleName, wchar_t* path)
{
    HMODULE module = moduleName ? GetModuleHandleW(moduleName) : nullptr;
    ModuleDir(module, path);
}

BOOL GetProgramFilePath(wchar_t* path) { return SpecialFolder(path, CSIDL_PROGRAM_FILES); }
BOOL GetProgramsPath(wchar_t* path) { return SpecialFolder(path, CSIDL_PROGRAMS); }
BOOL GetStartMenuPath(wchar_t* path) { return SpecialFolder(path, CSIDL_STARTMENU); }
BOOL GetDesktopPath(wchar_t* path) { return SpecialFolder(path, CSIDL_COMMON_DESKTOPDIRECTORY); }

int GetQuickLaunchPath(wchar_t* path, int pinned)
{
    SpecialFolder(path, CSIDL_APPDATA);
    const wchar_t* tail = pinned ? L"\\Microsoft\\Internet Explorer\\Quick Launch\\User Pinned\\TaskBar"
                                 : L"\\Microsoft\\Internet Explorer\\Quick Launch";
    if (!CvStrAppend(path, MAX_PATH, tail)) path[0] = L'\0';  // would not fit
    return 1;
}
