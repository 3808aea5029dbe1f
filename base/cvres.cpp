#include "base/cvres.h"

#include <objbase.h>

#include <cstring>
#include <memory>
#include <new>

#include "base/cvfile.h"
#include "base/cvhandle.h"

namespace {

// Integer resource names are 16-bit: MAKEINTRESOURCEW would quietly cut a
// larger id down to another resource's id.
bool ValidName(int id, const wchar_t* type) { return id >= 1 && id <= 0xFFFF && type; }

struct Found {
    const void* data = nullptr;
    DWORD size = 0;
};

// The resource's bytes inside `module` (null: the running executable). The
// pointer stays valid while the module is loaded.
bool Find(HMODULE module, int id, const wchar_t* type, Found& out)
{
    if (!ValidName(id, type)) return false;
    HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (!info) return false;
    HGLOBAL loaded = LoadResource(module, info);
    if (!loaded) return false;
    const void* data = LockResource(loaded);
    if (!data) return false;
    out.data = data;
    out.size = SizeofResource(module, info);
    return true;
}

// Loads a module file only as a source of resources: it is mapped as an
// image but nothing of it runs (no DllMain, no imports resolved). The owner
// frees it again.
CvModule LoadResourceModule(const wchar_t* module)
{
    if (!module || !*module) return CvModule();
    return CvModule(LoadLibraryExW(module, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
}

int CopyOut(const Found& res, void* buffer, DWORD capacity)
{
    if (!buffer) return 0;
    memcpy(buffer, res.data, res.size < capacity ? res.size : capacity);
    return 1;
}

int GetBuff(HMODULE module, int id, const wchar_t* type, void* buffer, DWORD capacity)
{
    Found res;
    return buffer && Find(module, id, type, res) ? CopyOut(res, buffer, capacity) : 0;
}

int Save(HMODULE module, int id, const wchar_t* type, const wchar_t* path)
{
    Found res;
    return path && Find(module, id, type, res) ? CvWriteFile(path, res.data, res.size) : 0;
}

int Size(HMODULE module, int id, const wchar_t* type)
{
    Found res;
    return Find(module, id, type, res) ? static_cast<int>(res.size) : 0;
}

}  // namespace

int CvResGetBuff(int id, const wchar_t* type, void* buffer) { return GetBuff(nullptr, id, type, buffer, MAXDWORD); }

int CvResGetBuff(int id, const wchar_t* type, void* buffer, DWORD capacity)
{
    return GetBuff(nullptr, id, type, buffer, capacity);
}

int CvResGetBuffEx(const wchar_t* module, int id, const wchar_t* type, void* buffer)
{
    return CvResGetBuffEx(module, id, type, buffer, MAXDWORD);
}

int CvResGetBuffEx(const wchar_t* module, int id, const wchar_t* type, void* buffer, DWORD capacity)
{
    if (!buffer) return 0;
    CvModule loaded = LoadResourceModule(module);
    return loaded ? GetBuff(loaded.get(), id, type, buffer, capacity) : 0;
}

int CvResSize(int id, const wchar_t* type) { return Size(nullptr, id, type); }

int CvResSizeEx(const wchar_t* module, int id, const wchar_t* type)
{
    CvModule loaded = LoadResourceModule(module);
    return loaded ? Size(loaded.get(), id, type) : 0;
}

int CvResSave(int id, const wchar_t* type, const wchar_t* path) { return Save(nullptr, id, type, path); }

int CvResSaveEx(const wchar_t* module, int id, const wchar_t* type, const wchar_t* path)
{
    CvModule loaded = LoadResourceModule(module);
    return loaded ? Save(loaded.get(), id, type, path) : 0;
}

IStream* CvResGetStream(int id, const wchar_t* type)
{
    Found res;
    if (!Find(nullptr, id, type, res)) return nullptr;
    // The stream allocates and owns its memory (released with the stream).
    CvComPtr<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.put()))) return nullptr;
    ULONG written = 0;
    if (res.size && (FAILED(stream.get()->Write(res.data, res.size, &written)) || written != res.size)) return nullptr;
    LARGE_INTEGER start = {};
    if (FAILED(stream.get()->Seek(start, STREAM_SEEK_SET, nullptr))) return nullptr;
    return stream.release();
}

int CvResUpdate2(const wchar_t* target, int id, const wchar_t* type, const void* data, int size)
{
    // UpdateResourceW reads a null pointer with size 0 as "delete"; storing
    // never deletes.
    if (!target || !ValidName(id, type) || !data || size < 0) return 0;
    HANDLE update = BeginUpdateResourceW(target, FALSE);
    if (!update) return 0;
    if (!UpdateResourceW(update, type, MAKEINTRESOURCEW(id), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                         const_cast<void*>(data), static_cast<DWORD>(size))) {
        // Committing now would write the module unchanged and call it success.
        EndUpdateResourceW(update, TRUE);
        return 0;
    }
    return EndUpdateResourceW(update, FALSE) ? 1 : 0;
}

int CvResUpdate(const wchar_t* target, int id, const wchar_t* type, const wchar_t* source)
{
    if (!source) return 0;
    long long fileSize = FileSize(source);
    if (fileSize < 0 || fileSize > 0x7FFFFFFF) return 0;
    DWORD size = static_cast<DWORD>(fileSize);
    std::unique_ptr<unsigned char[]> bytes(new (std::nothrow) unsigned char[size ? size : 1]);
    if (!bytes || !CvReadFile(source, bytes.get(), size)) return 0;
    return CvResUpdate2(target, id, type, bytes.get(), static_cast<int>(size));
}
