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

    // Starts the whole uninstall for `window`: on a detached worker thread
    // when `threaded` is non-zero (the program's way), else before returning.
    // The window receives the progress percentages (sent) and, at the end,
    // a posted 100.
    void StartUninstall(HWND window, int threaded);

    // The last act: opens the farewell page (or the maker's home page when
    // there is no settings record), writes "c:\clear.bat", which removes the
    // executable and the installation folder once this process has gone,
    // starts it hidden and ends the process with exit code 0. Returns only
    // when the script cannot be written.
    void DeleteSelf();

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

    static unsigned __stdcall UninstallThread(void* engine);
    // Settings, secondary uninstaller, manifest, report, removal, registry
    // key, shortcuts. False when there is no manifest.
    bool UninstallFunc();

    int CountTree(wchar_t* path, size_t len);
    bool DelTree(wchar_t* path, size_t len);
    void FileDone();
};
