// Which folders may never be removed as a whole tree, whatever a manifest or
// the uninstaller's own location says.
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/cvhandle.h"
#include "shell/folders.h"

namespace {

using std::wstring;

// Full, long, upper-case form without a trailing backslash ("C:" for a drive
// root). Empty when the path is not a full path.
wstring Normalize(const wchar_t* in)
{
    if (!in || !in[0]) return {};
    wstring s(in);
    std::replace(s.begin(), s.end(), L'/', L'\\');
    // Device-namespace forms name the same places as their plain paths.
    if (s.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        s = L"\\\\" + s.substr(8);
    else if (s.compare(0, 4, L"\\\\?\\") == 0 || s.compare(0, 4, L"\\\\.\\") == 0)
        s = s.substr(4);
    bool drive = s.size() >= 3 && iswalpha(s[0]) && s[1] == L':' && s[2] == L'\\';
    bool unc = s.size() >= 3 && s[0] == L'\\' && s[1] == L'\\' && s[2] != L'\\';
    if (!drive && !unc) return {};  // relative, or drive-relative like "C:x"

    DWORD n = GetFullPathNameW(s.c_str(), 0, nullptr, nullptr);
    if (n == 0) return {};
    wstring full(n, L'\0');
    n = GetFullPathNameW(s.c_str(), n, &full[0], nullptr);
    full.resize(n);
    // Short (8.3) names of existing folders are expanded, so that
    // C:\PROGRA~1 is recognised as C:\Program Files.
    DWORD m = GetLongPathNameW(full.c_str(), nullptr, 0);
    if (m) {
        wstring longer(m, L'\0');
        m = GetLongPathNameW(full.c_str(), &longer[0], m);
        if (m && m < longer.size()) {
            longer.resize(m);
            full.swap(longer);
        }
    }
    while (full.size() > 2 && full.back() == L'\\') full.pop_back();
    if (!full.empty()) CharUpperBuffW(&full[0], static_cast<DWORD>(full.size()));
    return full;
}

wstring ParentOf(const wstring& p)
{
    size_t slash = p.rfind(L'\\');
    return slash == wstring::npos ? wstring() : p.substr(0, slash);
}

// A root: "C:", or "\\server\share" (and "\\server").
bool IsRoot(const wstring& p)
{
    if (p.size() == 2 && p[1] == L':') return true;
    if (p.compare(0, 2, L"\\\\") == 0) return std::count(p.begin() + 2, p.end(), L'\\') <= 1;
    return false;
}

struct Places {
    std::vector<wstring> exact;    // protected themselves, and so is every ancestor
    std::vector<wstring> parents;  // their direct children are protected too
};

void AddPath(std::vector<wstring>& list, const wchar_t* p)
{
    wstring n = Normalize(p);
    if (!n.empty() && std::find(list.begin(), list.end(), n) == list.end()) list.push_back(n);
}

void AddEnv(std::vector<wstring>& list, const wchar_t* name)
{
    wchar_t buf[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(name, buf, MAX_PATH);
    if (n > 0 && n < MAX_PATH) AddPath(list, buf);
}

Places Collect()
{
    Places places;
    static const int kFolders[] = {
        CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_PERSONAL, CSIDL_COMMON_DOCUMENTS,
        CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS, CSIDL_STARTMENU, CSIDL_COMMON_STARTMENU, CSIDL_STARTUP,
        CSIDL_COMMON_STARTUP, CSIDL_APPDATA, CSIDL_LOCAL_APPDATA, CSIDL_COMMON_APPDATA, CSIDL_PROFILE,
        CSIDL_WINDOWS, CSIDL_SYSTEM, CSIDL_SYSTEMX86, CSIDL_FONTS, CSIDL_PROGRAM_FILES,
        CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROGRAM_FILES_COMMONX86,
        CSIDL_FAVORITES, CSIDL_COMMON_FAVORITES, CSIDL_RECENT, CSIDL_SENDTO, CSIDL_TEMPLATES,
        CSIDL_COMMON_TEMPLATES, CSIDL_MYMUSIC, CSIDL_MYPICTURES, CSIDL_MYVIDEO, CSIDL_COMMON_MUSIC,
        CSIDL_COMMON_PICTURES, CSIDL_COMMON_VIDEO, CSIDL_NETHOOD, CSIDL_PRINTHOOD, CSIDL_INTERNET_CACHE,
        CSIDL_COOKIES, CSIDL_HISTORY, CSIDL_ADMINTOOLS, CSIDL_COMMON_ADMINTOOLS, CSIDL_RESOURCES,
        CSIDL_CDBURN_AREA,
    };
    wchar_t buf[MAX_PATH];
    for (int csidl : kFolders) {
        buf[0] = L'\0';
        if (SUCCEEDED(SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_DONT_VERIFY, nullptr, 0, buf)))
            AddPath(places.exact, buf);
    }
    // The 64-bit Program Files folders are only named in the environment of a
    // 32-bit process; the 32-bit ones appear there as well.
    for (const wchar_t* name : {L"ProgramFiles", L"ProgramFiles(x86)", L"ProgramW6432", L"CommonProgramFiles",
                                L"CommonProgramFiles(x86)", L"CommonProgramW6432", L"ProgramData",
                                L"ALLUSERSPROFILE", L"PUBLIC", L"USERPROFILE", L"SystemRoot", L"windir"})
        AddEnv(places.exact, name);
    UINT n = GetWindowsDirectoryW(buf, MAX_PATH);
    if (n && n < MAX_PATH) AddPath(places.exact, buf);
    n = GetSystemWindowsDirectoryW(buf, MAX_PATH);
    if (n && n < MAX_PATH) AddPath(places.exact, buf);
    n = GetSystemDirectoryW(buf, MAX_PATH);
    if (n && n < MAX_PATH) AddPath(places.exact, buf);
    n = GetSystemWow64DirectoryW(buf, MAX_PATH);
    if (n && n < MAX_PATH) AddPath(places.exact, buf);
    DWORD t = GetTempPathW(MAX_PATH, buf);
    if (t && t < MAX_PATH) AddPath(places.exact, buf);

    // The Users folder holds the profiles: it and each profile in it (other
    // users', Public, Default) are protected.
    std::vector<wstring> users;
    {
        CvRegKey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", 0,
                          KEY_QUERY_VALUE, key.put()) == ERROR_SUCCESS) {
            wchar_t raw[MAX_PATH] = {};
            DWORD size = sizeof(raw) - sizeof(wchar_t);
            if (RegQueryValueExW(key.get(), L"ProfilesDirectory", nullptr, nullptr, reinterpret_cast<BYTE*>(raw),
                                 &size) == ERROR_SUCCESS) {
                wchar_t expanded[MAX_PATH];
                DWORD e = ExpandEnvironmentStringsW(raw, expanded, MAX_PATH);
                if (e && e <= MAX_PATH) AddPath(users, expanded);
            }
        }
    }
    wchar_t profile[MAX_PATH] = {};
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_PROFILE | CSIDL_FLAG_DONT_VERIFY, nullptr, 0, profile)))
        AddPath(users, ParentOf(Normalize(profile)).c_str());
    DWORD pn = GetEnvironmentVariableW(L"PUBLIC", profile, MAX_PATH);
    if (pn > 0 && pn < MAX_PATH) AddPath(users, ParentOf(Normalize(profile)).c_str());
    for (const wstring& u : users) {
        if (u.empty()) continue;
        places.exact.push_back(u);
        places.parents.push_back(u);
    }
    // The Windows folder's own folders (System32, SysWOW64, Fonts, WinSxS...).
    wchar_t win[MAX_PATH];
    n = GetSystemWindowsDirectoryW(win, MAX_PATH);
    if (n && n < MAX_PATH) places.parents.push_back(Normalize(win));
    return places;
}

const Places& ProtectedPlaces()
{
    static const Places places = Collect();
    return places;
}

// True when `p` is `ancestor` itself or lies below it.
bool IsAtOrBelow(const wstring& p, const wstring& ancestor)
{
    if (p.size() < ancestor.size() || p.compare(0, ancestor.size(), ancestor) != 0) return false;
    return p.size() == ancestor.size() || p[ancestor.size()] == L'\\' || IsRoot(ancestor);
}

}  // namespace

bool CvIsProtectedTree(const wchar_t* dir)
{
    wstring p = Normalize(dir);
    if (p.empty() || IsRoot(p)) return true;
    const Places& places = ProtectedPlaces();
    for (const wstring& place : places.exact)
        if (IsAtOrBelow(place, p)) return true;  // p is the place or contains it
    wstring parent = ParentOf(p);
    for (const wstring& place : places.parents)
        if (parent == place) return true;
    return false;
}
