// Well-known folders. Buffers hold 260 wide characters. The program's
// directory ends with a backslash; special folders come without one.
#pragma once
#include <windows.h>

void GetCurPath(wchar_t* path);
void GetCurPathEx(const wchar_t* moduleName, wchar_t* path);
BOOL GetProgramFilePath(wchar_t* path);
BOOL GetProgramsPath(wchar_t* path);
BOOL GetStartMenuPath(wchar_t* path);
BOOL GetDesktopPath(wchar_t* path);
int GetQuickLaunchPath(wchar_t* path, int pinned);

// True when removing `dir` as a whole tree would remove a place that Windows
// or a user's profile depends on: a drive or share root, the Windows folder
// or a folder directly in it, the Program Files and Common Files folders of
// both bitnesses, the Users folder or a profile folder, a shell special
// folder, or any folder that contains one of these. Paths that are not full
// paths count as protected too. Folders below them are not protected.
bool CvIsProtectedTree(const wchar_t* dir);
