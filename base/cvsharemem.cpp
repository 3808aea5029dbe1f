#include "base/cvsharemem.h"

#include <cstring>
#include <cwchar>

#include "base/cvhandle.h"
#include "base/cvstr.h"

namespace {

// One mapping of a named area for one copy. `size` is the number of bytes
// from the view's start that can be touched with the wanted access: the
// first run of committed pages, asked of the system, since the area's
// creator decided its size and a position past it would fault.
class AreaView {
public:
    AreaView(const wchar_t* name, bool write)
    {
        if (!name || !*name) return;
        mapping_.reset(OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, name));
        if (!mapping_) return;
        view_.reset(MapViewOfFile(mapping_.get(), write ? FILE_MAP_WRITE : FILE_MAP_READ, 0, 0, 0));
        if (!view_) return;
        MEMORY_BASIC_INFORMATION mbi;
        if (VirtualQuery(view_.get(), &mbi, sizeof(mbi)) != sizeof(mbi) || mbi.State != MEM_COMMIT) return;
        if (!Allows(mbi.Protect, write)) return;
        size_t skipped = static_cast<size_t>(static_cast<char*>(view_.get()) - static_cast<char*>(mbi.BaseAddress));
        size_ = mbi.RegionSize > skipped ? mbi.RegionSize - skipped : 0;
    }

    unsigned char* data() const { return static_cast<unsigned char*>(view_.get()); }
    size_t size() const { return size_; }
    bool usable() const { return size_ != 0; }
    // [offset, offset + length) lies inside the usable part.
    bool Holds(unsigned long long offset, unsigned long long length) const
    {
        return usable() && offset <= size_ && length <= size_ - offset;
    }

private:
    static bool Allows(DWORD protect, bool write)
    {
        if (protect & (PAGE_GUARD | PAGE_NOACCESS)) return false;
        const DWORD base = protect & 0xFF;
        const DWORD writable = PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
        const DWORD readable = writable | PAGE_READONLY | PAGE_EXECUTE_READ;
        return (base & (write ? writable : readable)) != 0;
    }

    CvHandle mapping_;
    CvMappedView view_;
    size_t size_ = 0;
};

// Length in characters of the text at the area's start, or -1 when the area
// holds no terminator.
long long TextLength(const AreaView& area)
{
    const size_t chars = area.size() / sizeof(wchar_t);
    const size_t n = wcsnlen(reinterpret_cast<const wchar_t*>(area.data()), chars);
    return n < chars ? static_cast<long long>(n) : -1;
}

}  // namespace

HANDLE CreateShareMem(const wchar_t* name, DWORD size)
{
    // An unnamed mapping would be out of every other function's reach.
    if (!name || !*name || size == 0) return nullptr;
    return CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name);
}

int isExistsShareMem(const wchar_t* name)
{
    if (!name || !*name) return 0;
    CvHandle mapping(OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, name));
    return mapping ? 1 : 0;
}

int WriteShareMem(const wchar_t* name, const wchar_t* text, int index)
{
    if (!text || index < 0) return 0;
    AreaView area(name, true);
    const unsigned long long bytes = (wcslen(text) + 1ULL) * sizeof(wchar_t);
    const unsigned long long offset = static_cast<unsigned long long>(index) * sizeof(wchar_t);
    if (!area.Holds(offset, bytes)) return 0;
    memcpy(area.data() + offset, text, static_cast<size_t>(bytes));
    return 1;
}

int ReadShareMem(const wchar_t* name, wchar_t* text)
{
    if (!text) return 0;
    AreaView area(name, false);
    if (!area.usable()) return 0;
    const long long n = TextLength(area);
    if (n < 0) return 0;
    memcpy(text, area.data(), static_cast<size_t>(n + 1) * sizeof(wchar_t));
    return 1;
}

int ReadShareMem(const wchar_t* name, wchar_t* text, size_t capacity)
{
    if (!text || capacity == 0) return 0;
    AreaView area(name, false);
    if (!area.usable()) return 0;
    const long long n = TextLength(area);
    if (n < 0) return 0;
    return CvStrCopy(text, capacity, reinterpret_cast<const wchar_t*>(area.data())) ? 1 : 0;
}

int WriteShareMem2(const wchar_t* name, const void* data, int size, int offset)
{
    if (!data || size < 0 || offset < 0) return 0;
    AreaView area(name, true);
    if (!area.Holds(static_cast<unsigned>(offset), static_cast<unsigned>(size))) return 0;
    memcpy(area.data() + offset, data, static_cast<size_t>(size));
    return 1;
}

int ReadShareMem2(const wchar_t* name, void* data, int size, int offset)
{
    if (!data || size < 0 || offset < 0) return 0;
    AreaView area(name, false);
    if (!area.Holds(static_cast<unsigned>(offset), static_cast<unsigned>(size))) return 0;
    memcpy(data, area.data() + offset, static_cast<size_t>(size));
    return 1;
}
