#include "gfx/cvskin.h"

#include <cstring>
#include <cwchar>

#include "base/cvstr.h"
#include "shell/folders.h"

namespace {

// Reads `size` bytes in as many reads as it takes; false when the file ends
// early or a read fails.
bool ReadAll(HANDLE file, BYTE* data, DWORD size)
{
    while (size > 0) {
        DWORD got = 0;
        if (!ReadFile(file, data, size, &got, nullptr) || got == 0) return false;
        data += got;
        size -= got;
    }
    return true;
}

bool WriteAll(HANDLE file, const BYTE* data, DWORD size)
{
    while (size > 0) {
        DWORD put = 0;
        if (!WriteFile(file, data, size, &put, nullptr) || put == 0) return false;
        data += put;
        size -= put;
    }
    return true;
}

// The size of an open file, when it fits in `limit` bytes.
bool SmallFileSize(HANDLE file, DWORD limit, DWORD& size)
{
    LARGE_INTEGER li;
    if (!GetFileSizeEx(file, &li) || li.QuadPart < 0 || li.QuadPart > static_cast<LONGLONG>(limit)) return false;
    size = static_cast<DWORD>(li.QuadPart);
    return true;
}

DWORD ReadSize(const BYTE* p)
{
    return static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8 | static_cast<DWORD>(p[2]) << 16 |
           static_cast<DWORD>(p[3]) << 24;
}

// The name field of the header at `p`, copied out (the header may lie at any
// byte offset). False when the field lacks its terminator.
bool ReadName(const BYTE* p, wchar_t (&name)[CCvSkin::kNameChars])
{
    for (size_t i = 0; i < CCvSkin::kNameChars; ++i)
        name[i] = static_cast<wchar_t>(p[2 * i] | p[2 * i + 1] << 8);
    return CvFieldLen(name, CCvSkin::kNameChars) < CCvSkin::kNameChars;
}

// True when the entries fill the package exactly, every name terminated.
bool PackageIsSound(const BYTE* data, size_t size)
{
    size_t offset = 0;
    while (offset < size) {
        if (size - offset < CCvSkin::kHeaderSize) return false;
        wchar_t name[CCvSkin::kNameChars];
        if (!ReadName(data + offset, name)) return false;
        const DWORD n = ReadSize(data + offset + 60);
        if (n > size - offset - CCvSkin::kHeaderSize) return false;
        offset += CCvSkin::kHeaderSize + n;
    }
    return true;
}

// path <- app folder + sub + name + "\"; empty when it would not fit.
void FormPath(wchar_t (&path)[MAX_PATH], const wchar_t* sub, const wchar_t* name)
{
    wchar_t app[MAX_PATH] = {};
    GetCurPath(app);
    if (!CvStrCopy(path, app) || !CvStrAppend(path, sub) || !CvStrAppend(path, name ? name : L"") ||
        !CvStrAppend(path, L"\\"))
        path[0] = L'\0';
}

}  // namespace

CCvSkin& CCvSkin::Instance()
{
    static CCvSkin skin;
    return skin;
}

CCvSkin::CCvSkin() = default;

CCvSkin::~CCvSkin() { FreeSkin(); }

void CCvSkin::SetThemesName(const wchar_t* name)
{
    FormPath(themesPath_, L"Themes\\", name);
    resType_ = kResThemes;
}

void CCvSkin::SetSkinName(const wchar_t* name)
{
    FormPath(skinPath_, L"Skins\\", name);
    resType_ = kResSkin;
}

void CCvSkin::GetThemesPath(wchar_t* path) const
{
    if (path) CvStrCopy(path, MAX_PATH, themesPath_);
}

void CCvSkin::GetSkinPath(wchar_t* path) const
{
    if (path) CvStrCopy(path, MAX_PATH, skinPath_);
}

bool CCvSkin::LoadSkin(const wchar_t* name)
{
    FreeSkin();
    if (name) SetSkinName(name);
    if (!skinPath_[0]) return false;

    wchar_t file[MAX_PATH];
    if (!CvStrCopy(file, skinPath_) || !CvStrAppend(file, kPackageFile)) return false;
    CvFileHandle in(CreateFileW(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!in) return false;
    DWORD size = 0;
    if (!SmallFileSize(in.get(), kMaxPackageSize, size)) return false;

    CvGlobalMem block(GlobalAlloc(GMEM_MOVEABLE, size ? size : 1));
    if (!block) return false;
    {
        CvGlobalLock lock(block.get());
        BYTE* data = static_cast<BYTE*>(lock.get());
        if (!data || !ReadAll(in.get(), data, size) || !PackageIsSound(data, size)) return false;
    }
    package_ = std::move(block);
    packageSize_ = static_cast<int>(size);
    return true;
}

void CCvSkin::FreeSkin()
{
    package_.reset();
    packageSize_ = 0;
    cache_.clear();  // each record releases its stream
}

bool CCvSkin::GetRes(const wchar_t* name, IStream*& stream)
{
    stream = nullptr;
    if (!name || wcsnlen(name, kNameChars) > kMaxName) return false;
    for (const tagCvSkinRes& res : cache_) {
        if (wcscmp(res.name, name) == 0) {
            stream = res.stream.get();
            break;
        }
    }
    if (!stream && !FindRes(name, stream)) return false;
    LARGE_INTEGER start = {};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    return true;
}

bool CCvSkin::FindRes(const wchar_t* name, IStream*& stream)
{
    stream = nullptr;
    if (!package_) return false;
    CvGlobalLock lock(package_.get());
    const BYTE* data = static_cast<const BYTE*>(lock.get());
    if (!data) return false;
    const size_t size = static_cast<size_t>(packageSize_);

    size_t offset = 0;
    while (offset < size && size - offset >= kHeaderSize) {
        wchar_t entry[kNameChars];
        const bool named = ReadName(data + offset, entry);
        const DWORD n = ReadSize(data + offset + 60);
        if (n > size - offset - kHeaderSize) return false;  // runs past the end
        if (named && wcscmp(entry, name) == 0) {
            CvGlobalMem copy(GlobalAlloc(GMEM_MOVEABLE, n ? n : 1));
            if (!copy) return false;
            {
                CvGlobalLock to(copy.get());
                if (!to.get()) return false;
                if (n) memcpy(to.get(), data + offset + kHeaderSize, n);
            }
            tagCvSkinRes res = {};
            if (FAILED(CreateStreamOnHGlobal(copy.get(), TRUE, res.stream.put())) || !res.stream) return false;
            copy.release();  // the stream frees it on its final release
            // The stream starts as large as the block, which may be rounded up.
            ULARGE_INTEGER exact;
            exact.QuadPart = n;
            if (FAILED(res.stream.get()->SetSize(exact))) return false;
            CvStrCopy(res.name, name);
            cache_.push_back(std::move(res));
            stream = cache_.back().stream.get();
            return true;
        }
        offset += kHeaderSize + n;
    }
    return false;
}

bool CCvSkin::MakeSkin(const wchar_t* folder, const wchar_t* packFile)
{
    if (!folder || !packFile) return false;
    // No sharing: the package never reads itself when it lies in the folder.
    CvFileHandle out(CreateFileW(packFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) return false;

    wchar_t pattern[MAX_PATH];
    if (!CvStrCopy(pattern, folder) || !CvStrAppend(pattern, L"*.*")) return false;
    WIN32_FIND_DATAW fd;
    CvFindHandle find(FindFirstFileW(pattern, &fd));
    if (!find) return false;
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        wchar_t path[MAX_PATH];
        if (!CvStrCopy(path, folder) || !CvStrAppend(path, fd.cFileName)) continue;
        if (!WriteSkin(out.get(), path)) {
            out.reset();
            DeleteFileW(packFile);
            return false;
        }
    } while (FindNextFileW(find.get(), &fd));
    return true;
}

bool CCvSkin::WriteSkin(HANDLE file, const wchar_t* path)
{
    CvFileHandle in(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!in) return true;

    // The name: after the last backslash, up to the first "." after it.
    const wchar_t* base = wcsrchr(path, L'\\');
    base = base ? base + 1 : path;
    const wchar_t* dot = wcschr(base, L'.');
    size_t len = (dot && dot != base) ? static_cast<size_t>(dot - base) : 0;
    if (len > kMaxName) len = kMaxName;

    DWORD size = 0;
    if (!SmallFileSize(in.get(), kMaxPackageSize, size)) return true;
    std::vector<BYTE> entry(kHeaderSize + size, 0);
    if (size && !ReadAll(in.get(), entry.data() + kHeaderSize, size)) return true;
    in.reset();

    for (size_t i = 0; i < len; ++i) {
        entry[2 * i] = static_cast<BYTE>(base[i] & 0xFF);
        entry[2 * i + 1] = static_cast<BYTE>(base[i] >> 8);
    }
    for (int i = 0; i < 4; ++i) entry[60 + i] = static_cast<BYTE>(size >> (8 * i));
    return WriteAll(file, entry.data(), static_cast<DWORD>(entry.size()));
}
