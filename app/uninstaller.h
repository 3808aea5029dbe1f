// The uninstall engine: what the manifest says, and the removal itself.
#pragma once
#include <windows.h>

#include <vector>

#include "app/uninstall_types.h"

// Sent (synchronously) once per file deleted, wParam the percentage 0..100;
// posted with 100 when the whole uninstall has finished. lParam is 0.
#define WM_UNINSTALL_PROGRESS (WM_USER + 1001)

class CCvUninstaller {
public:
    CCvUninstaller();
    CCvUninstaller(const CCvUninstaller&) = default;
    CCvUninstaller& operator=(const CCvUninstaller&) = default;
    ~CCvUninstaller() = default;

    // Reads the whole manifest at `path` into header, files and shortcuts.
    // With an empty installDir, doneFiles and totalFiles start from 0 and
    // each kept file entry adds 1 (a file) or its CountFiles (a directory).
    // Returns false when the manifest cannot be opened.
    bool ReadManifest(const wchar_t* path);

    // Deletes SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\<keyName>
    // under HKEY_LOCAL_MACHINE in the process's own registry view. An empty
    // name (which would name the Uninstall key itself) is skipped. Returns 1.
    int ClearReg(const wchar_t* keyName);

    // Removes the Start-menu folder, the public desktop shortcut
    // "<productName>.lnk" and every listed shortcut file.
    void DelShortcut();

    HWND notifyWnd;
    int totalFiles;
    int doneFiles;
    tagUninstallHeader header;
    std::vector<tagUninstallEntry> files;
    std::vector<tagUninstallEntry> shortcuts;
    wchar_t programDir[261];
    tagUninstallSettings settings;
    int settingsFound;

private:
    friend struct CCvUninstallerTestAccess;

    // Files below `dir` (a folder path; a missing trailing backslash is
    // supplied), recursively; folders whose name starts with '.' are skipped.
    // 0 when the folder cannot be listed or is a protected place.
    int CountFiles(const wchar_t* dir);
    // Deletes the tree below `dir` and the folder itself, sending a progress
    // message per file. False, with nothing deleted, when the folder cannot
    // be listed or is a protected place.
    bool DelDir(const wchar_t* dir);

    int CountTree(wchar_t* path, size_t len);
    bool DelTree(wchar_t* path, size_t len);
    void FileDone();
};
