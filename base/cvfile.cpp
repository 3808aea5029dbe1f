#include "base/cvfile.h"

#include <objbase.h>
#include <oleauto.h>

#include <climits>
#include <cwchar>
#include <cwctype>

#include "base/cvhandle.h"
#include "base/cvstr.h"

// ---------------------------------------------------------------------------
// Files

int CvWriteFile(const wchar_t* path, const void* data, DWORD size)
{
    if (!path || (!data && size)) return 0;
    // OPEN_ALWAYS and a cut to zero rather than CREATE_ALWAYS: Windows refuses
    // to re-create a hidden or system file without those attributes, and
    // callers keep such files (desktop.ini) and rewrite them.
    CvFileHandle file(CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file || !SetEndOfFile(file.get())) return 0;
    if (size == 0) return 1;
    DWORD written = 0;
    return WriteFile(file.get(), data, size, &written, nullptr) && written == size ? 1 : 0;
}

int CvReadFile(const wchar_t* path, void* buffer, DWORD& size)
{
    if (!path || (!buffer && size)) return 0;
    CvFileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 0;
    auto* at = static_cast<unsigned char*>(buffer);
    DWORD total = 0;
    while (total < size) {
        DWORD got = 0;
        if (!ReadFile(file.get(), at + total, size - total, &got, nullptr)) return 0;
        if (got == 0) break;  // end of file
        total += got;
    }
    size = total;
    return 1;
}

int isDir(const wchar_t* path)
{
    if (!path) return 0;
    DWORD attr = GetFileAttributesW(path);
    return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
}

long long FileSize(const wchar_t* path)
{
    WIN32_FILE_ATTRIBUTE_DATA fa;
    if (!path || !GetFileAttributesExW(path, GetFileExInfoStandard, &fa)) return 0;
    if (fa.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return 0;
    return static_cast<long long>((static_cast<unsigned long long>(fa.nFileSizeHigh) << 32) | fa.nFileSizeLow);
}

static bool ToLocal(const FILETIME& ft, SYSTEMTIME* out)
{
    if (!out) return true;
    SYSTEMTIME utc;
    // The zone's rule for that date, so that a summer time shows as summer
    // time in winter too.
    return FileTimeToSystemTime(&ft, &utc) && SystemTimeToTzSpecificLocalTime(nullptr, &utc, out);
}

int FileTime(const wchar_t* path, SYSTEMTIME* created, SYSTEMTIME* modified, SYSTEMTIME* accessed)
{
    if (!path) return 0;
    CvFileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 0;
    FILETIME c, a, w;
    if (!GetFileTime(file.get(), &c, &a, &w)) return 0;
    return ToLocal(c, created) && ToLocal(w, modified) && ToLocal(a, accessed) ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Paths and folders

int CreateFolder(const wchar_t* path)
{
    if (!path) return 0;
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, FALSE};
    return CreateDirectoryW(path, &sa) ? 1 : 0;
}

static bool PathExists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

// Length of the part of `p` that names no directory to be created: "\\?\",
// "\\?\UNC\server\share\", "\\server\share\" or a leading "\".
static size_t RootPrefixLength(const wchar_t* p)
{
    auto skipPiece = [](const wchar_t* s, size_t i) {  // past one name and its backslash
        while (s[i] && s[i] != L'\\') ++i;
        return s[i] ? i + 1 : i;
    };
    if (wcsncmp(p, L"\\\\?\\UNC\\", 8) == 0) return skipPiece(p, skipPiece(p, 8));
    if (wcsncmp(p, L"\\\\?\\", 4) == 0) return 4;
    if (wcsncmp(p, L"\\\\", 2) == 0) return skipPiece(p, skipPiece(p, 2));
    if (p[0] == L'\\') return 1;
    return 0;
}

int CreateDirTree(const wchar_t* path)
{
    if (!path) return 0;
    const wchar_t* last = wcsrchr(path, L'\\');
    if (!last) return 1;  // a bare file name: no directory part
    if (PathExists(path)) return 1;

    const size_t dirLen = static_cast<size_t>(last - path);
    wchar_t dir[MAX_PATH];
    if (dirLen >= MAX_PATH) return 0;
    wmemcpy(dir, path, dirLen);
    dir[dirLen] = L'\0';

    // The prefix is kept as it stands: skipping its backslashes would turn
    // "\\server\share\x" into the relative "server\share\x" and create
    // folders in the current directory instead.
    size_t root = RootPrefixLength(dir);
    if (root > dirLen) root = dirLen;
    wchar_t built[MAX_PATH];
    wmemcpy(built, dir, root);
    built[root] = L'\0';

    for (size_t i = root; i < dirLen;) {
        size_t end = i;
        while (end < dirLen && dir[end] != L'\\') ++end;
        if (end > i) {  // empty pieces (doubled backslashes) are skipped
            size_t have = wcslen(built);
            wmemcpy(built + have, dir + i, end - i);  // fits: built never outgrows dir
            built[have + (end - i)] = L'\0';
            if (!PathExists(built)) CreateFolder(built);  // judged once at the end
            CvStrAppend(built, L"\\");
        }
        i = end + 1;
    }
    // Report what is there, not what was tried: a piece that is a file or a
    // share that does not answer leaves the tree missing.
    return dirLen == 0 || isDir(dir) ? 1 : 0;
}

void ExtractPath(wchar_t* path)
{
    if (!path) return;
    wchar_t* last = wcsrchr(path, L'\\');
    if (!last || last == path) return;
    last[1] = L'\0';
    wchar_t* out = path;
    for (const wchar_t* in = path; *in; ++in)
        if (*in != L'"') *out++ = *in;
    *out = L'\0';
}

// ---------------------------------------------------------------------------
// Sizes

namespace {

// {0D43FE01-F093-11CF-8940-00A0C9054228}: Scripting.FileSystemObject.
const CLSID kClsidFileSystemObject = {0x0D43FE01, 0xF093, 0x11CF, {0x89, 0x40, 0x00, 0xA0, 0xC9, 0x05, 0x42, 0x28}};

struct Variant {
    VARIANT v;
    Variant() { VariantInit(&v); }
    ~Variant() { VariantClear(&v); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
};

// Late binding through IDispatch: the script runtime's type library is not
// part of every SDK, and its dispatch names are stable.
HRESULT Invoke(IDispatch* object, const wchar_t* name, WORD kind, VARIANT* args, UINT argCount, VARIANT* result)
{
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) return hr;
    DISPPARAMS params = {args, nullptr, argCount, 0};
    EXCEPINFO error = {};
    hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &params, result, &error, nullptr);
    SysFreeString(error.bstrSource);
    SysFreeString(error.bstrDescription);
    SysFreeString(error.bstrHelpFile);
    return hr;
}

unsigned long long FolderSize(const wchar_t* path)
{
    CvComScope com;
    if (!com.usable()) return 0;
    CvComPtr<IDispatch> fso;
    if (FAILED(CoCreateInstance(kClsidFileSystemObject, nullptr, CLSCTX_ALL, IID_IDispatch,
                                reinterpret_cast<void**>(fso.put()))))
        return 0;
    Variant arg;
    arg.v.vt = VT_BSTR;
    arg.v.bstrVal = SysAllocString(path);
    if (!arg.v.bstrVal) return 0;
    Variant folder;
    if (FAILED(Invoke(fso.get(), L"GetFolder", DISPATCH_METHOD, &arg.v, 1, &folder.v)) ||
        folder.v.vt != VT_DISPATCH || !folder.v.pdispVal)
        return 0;
    Variant size;
    if (FAILED(Invoke(folder.v.pdispVal, L"Size", DISPATCH_PROPERTYGET, nullptr, 0, &size.v))) return 0;
    // Size comes as a 32-bit integer or a double, depending on its value;
    // a negative or otherwise unconvertible value gives 0.
    if (FAILED(VariantChangeType(&size.v, &size.v, 0, VT_UI8))) return 0;
    return size.v.ullVal;
}

}  // namespace

unsigned long long GetPathUseSpace(const wchar_t* path)
{
    if (!path || !*path) return 0;
    if (wcslen(path) == 3) {
        ULARGE_INTEGER avail, total;
        if (!GetDiskFreeSpaceExW(path, &avail, &total, nullptr)) return 0;
        return total.QuadPart >= avail.QuadPart ? total.QuadPart - avail.QuadPart : 0;
    }
    return FolderSize(path);
}

void IntToStrSize(long long size, wchar_t* text, size_t capacity)
{
    if (!text || capacity == 0) return;
    wchar_t buf[kCvSizeTextChars];
    if (size > 1073741824LL)
        swprintf(buf, kCvSizeTextChars, L"%4.2f GB", static_cast<double>(size) / 1073741824.0);
    else if (size > 1048576LL)
        swprintf(buf, kCvSizeTextChars, L"%4.2f MB", static_cast<double>(size) / 1048576.0);
    else if (size > 1024LL)
        swprintf(buf, kCvSizeTextChars, L"%4.2f KB", static_cast<double>(size) / 1024.0);
    else
        swprintf(buf, kCvSizeTextChars, L"%d B", static_cast<int>(size));
    CvStrCopy(text, capacity, buf);
}

void IntToStrSize(long long size, wchar_t* text) { IntToStrSize(size, text, kCvSizeTextChars); }

long long StrToIntSize(const wchar_t* text)
{
    if (!text) return 0;
    const wchar_t* space = wcschr(text, L' ');
    if (!space) return 0;

    // The number: what _wtoi64 would read from the text before the space,
    // with an overflow refused instead of clamped.
    const wchar_t* p = text;
    while (p < space && iswspace(*p)) ++p;
    bool negative = false;
    if (p < space && (*p == L'-' || *p == L'+')) negative = *p++ == L'-';
    unsigned long long magnitude = 0;
    const unsigned long long limit = negative ? 9223372036854775808ULL : 9223372036854775807ULL;
    for (; p < space && *p >= L'0' && *p <= L'9'; ++p) {
        unsigned digit = static_cast<unsigned>(*p - L'0');
        if (magnitude > (limit - digit) / 10) return 0;
        magnitude = magnitude * 10 + digit;
    }

    long long factor = 0;
    auto hasUnit = [text](wchar_t unit) {
        for (const wchar_t* q = text + 1; *q; ++q)  // after the first character
            if (towupper(*q) == unit) return true;
        return false;
    };
    if (hasUnit(L'G'))
        factor = 1073741824LL;
    else if (hasUnit(L'M'))
        factor = 1048576LL;
    else if (hasUnit(L'K'))
        factor = 1024LL;
    else if (hasUnit(L'B'))
        factor = 1;  // "512 B", as IntToStrSize writes sizes up to 1 KB
    if (factor == 0 || magnitude == 0) return 0;
    if (magnitude > limit / static_cast<unsigned long long>(factor)) return 0;  // would not fit
    unsigned long long product = magnitude * static_cast<unsigned long long>(factor);
    if (!negative) return static_cast<long long>(product);
    return product == 9223372036854775808ULL ? LLONG_MIN : -static_cast<long long>(product);
}
