#include "app/uninstaller.h"

#include <cstdio>
#include <cstring>

#include "app/manifest_io.h"
#include "base/cvhandle.h"
#include "base/cvstr.h"
#include "shell/folders.h"

namespace {

const wchar_t kUninstallRoot[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// Listing and deletion work in buffers of MAX_PATH characters: a path of at
// most MAX_PATH - 1. Entries whose path would be longer are skipped.
constexpr size_t kMaxPath = MAX_PATH - 1;

// Copies a folder path into `buf` with exactly one trailing backslash added
// when it lacks one. Returns its length, or 0 when it is empty or too long.
size_t FolderPath(const wchar_t* dir, wchar_t (&buf)[MAX_PATH])
{
    if (!dir || !dir[0] || !CvStrCopy(buf, dir)) return 0;
    size_t len = wcslen(buf);
    if (buf[len - 1] != L'\\') {
        if (len + 1 > kMaxPath) return 0;
        buf[len++] = L'\\';
        buf[len] = L'\0';
    }
    return len;
}

bool IsDotName(const wchar_t* name) { return name[0] == L'.'; }

// Appends `name` (and a backslash for a folder) at `len`; false when the
// result would not fit.
bool Join(wchar_t* path, size_t len, const wchar_t* name, bool folder, size_t* newLen)
{
    size_t n = wcslen(name);
    size_t total = len + n + (folder ? 1 : 0);
    if (total > kMaxPath) return false;
    memcpy(path + len, name, n * sizeof(wchar_t));
    if (folder) path[len + n] = L'\\';
    path[total] = L'\0';
    *newLen = total;
    return true;
}

// Opens the listing of the folder in path[0..len) ("<folder>*.*").
HANDLE ListFolder(wchar_t* path, size_t len, WIN32_FIND_DATAW* fd)
{
    if (len + 3 > kMaxPath) return INVALID_HANDLE_VALUE;
    memcpy(path + len, L"*.*", 4 * sizeof(wchar_t));
    HANDLE h = FindFirstFileW(path, fd);
    path[len] = L'\0';
    return h;
}

}  // namespace

CCvUninstaller::CCvUninstaller()
    : notifyWnd(nullptr), totalFiles(0), doneFiles(0), header(), files(), shortcuts(), programDir(), settings(),
      settingsFound(0)
{
    GetCurPath(programDir);
}

bool CCvUninstaller::ReadManifest(const wchar_t* path)
{
    CvStdFile file(_wfopen(path, L"rb"));
    if (!file) return false;
    FILE* f = file.get();

    memset(&header, 0, sizeof(header));
    fread(&header, 1, sizeof(header), f);
    CvTerminateHeader(&header);

    files.clear();
    if (header.installDir[0] == L'\0') {
        doneFiles = 0;
        totalFiles = 0;
        int32_t count = 0;
        fread(&count, 1, sizeof(count), f);
        // A count the file cannot hold ends at the end of the file: entries
        // past it would all read as zeros and be skipped anyway.
        for (int32_t i = 0; i < count && !feof(f); ++i) {
            tagUninstallEntry entry;
            CvReadEntry(f, &entry);
            if (entry.path[0] == L'\0') continue;
            files.push_back(entry);
            totalFiles += entry.isFile ? 1 : CountFiles(entry.path);
        }
    }

    int32_t count = 0;
    if (!feof(f)) fread(&count, 1, sizeof(count), f);
    shortcuts.clear();
    for (int32_t taken = 0; taken < count && !feof(f); ++taken) {
        tagUninstallEntry entry;
        if (CvReadEntry(f, &entry) == 0) break;  // nothing of it is in the file
        shortcuts.push_back(entry);
    }
    return true;
}

int CCvUninstaller::CountFiles(const wchar_t* dir)
{
    wchar_t path[MAX_PATH];
    size_t len = FolderPath(dir, path);
    if (len == 0 || CvIsProtectedTree(path)) return 0;
    return CountTree(path, len);
}

int CCvUninstaller::CountTree(wchar_t* path, size_t len)
{
    WIN32_FIND_DATAW fd;
    CvFindHandle list(ListFolder(path, len, &fd));
    if (!list) return 0;
    int count = 0;
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            // Links to folders elsewhere are not followed.
            if (IsDotName(fd.cFileName) || (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) continue;
            size_t sub;
            if (Join(path, len, fd.cFileName, true, &sub)) count += CountTree(path, sub);
            path[len] = L'\0';
        } else {
            size_t sub;
            if (Join(path, len, fd.cFileName, false, &sub)) ++count;
            path[len] = L'\0';
        }
    } while (FindNextFileW(list.get(), &fd));
    return count;
}

bool CCvUninstaller::DelDir(const wchar_t* dir)
{
    wchar_t path[MAX_PATH];
    size_t len = FolderPath(dir, path);
    if (len == 0 || CvIsProtectedTree(path)) return false;
    return DelTree(path, len);
}

bool CCvUninstaller::DelTree(wchar_t* path, size_t len)
{
    WIN32_FIND_DATAW fd;
    CvFindHandle list(ListFolder(path, len, &fd));
    if (!list) return false;
    do {
        size_t sub;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (IsDotName(fd.cFileName)) continue;
            if (!Join(path, len, fd.cFileName, true, &sub)) continue;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                RemoveDirectoryW(path);  // removes the link, never what it points to
            else
                DelTree(path, sub);
        } else {
            if (!Join(path, len, fd.cFileName, false, &sub)) continue;
            DeleteFileW(path);
            FileDone();
        }
        path[len] = L'\0';
    } while (FindNextFileW(list.get(), &fd));
    list.reset();
    RemoveDirectoryW(path);
    return true;
}

void CCvUninstaller::FileDone()
{
    ++doneFiles;
    if (totalFiles <= 0) return;  // nothing was counted: no percentage to give
    long long percent = static_cast<long long>(doneFiles) * 100 / totalFiles;
    if (percent >= 0 && percent <= 100)
        SendMessageW(notifyWnd, WM_UNINSTALL_PROGRESS, static_cast<WPARAM>(percent), 0);
}

int CCvUninstaller::ClearReg(const wchar_t* keyName)
{
    // An empty name, or one that starts at a backslash, would address the
    // Uninstall key itself rather than one product's key below it.
    if (!keyName || keyName[0] == L'\0' || keyName[0] == L'\\') return 1;
    wchar_t key[MAX_PATH];
    if (!CvStrCopy(key, kUninstallRoot) || !CvStrAppend(key, keyName)) return 1;
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, key);
    return 1;
}

void CCvUninstaller::DelShortcut()
{
    wchar_t path[MAX_PATH];
    // An empty folder name would make this the Programs folder itself.
    if (header.startMenuFolder[0] && GetProgramsPath(path) && CvStrAppend(path, L"\\") &&
        CvStrAppend(path, header.startMenuFolder) && CvStrAppend(path, L"\\"))
        DelDir(path);

    // The shortcut's name is the product name; a name with a path separator
    // or a drive colon is no file name and would lead out of the desktop.
    const wchar_t* name = header.productName;
    if (name[0] && !wcspbrk(name, L"\\/:") && GetDesktopPath(path)) {
        wchar_t lnk[MAX_PATH];
        int n = _snwprintf(lnk, MAX_PATH, L"%ls\\%ls.lnk", path, name);
        if (n > 0 && n < MAX_PATH) DeleteFileW(lnk);
    }

    for (const tagUninstallEntry& entry : shortcuts)
        if (entry.path[0]) DeleteFileW(entry.path);
}
