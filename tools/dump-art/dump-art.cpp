// dump-art [OUTDIR [MODULE]]
//
// Writes every artwork resource of MODULE (default: this program, which
// carries the uninstaller's resources) into OUTDIR (default: "art"):
// each "IMG" resource as <id>.png or <NAME>.png, and each PNG image of the
// icons as icon-<group>-<size>.png. Prints one line per file.
// Exit codes: 0 done, 1 a file could not be written or the module has no
// artwork, 2 a wrong command line or a module that cannot be loaded.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

struct Context {
    HMODULE module = nullptr;
    std::wstring outDir;
    int written = 0;
    bool failed = false;
};

std::wstring ResName(LPCWSTR name)
{
    if (IS_INTRESOURCE(name)) return std::to_wstring(reinterpret_cast<ULONG_PTR>(name));
    return name;
}

bool ResBytes(HMODULE module, LPCWSTR name, LPCWSTR type, const BYTE*& data, DWORD& size)
{
    HRSRC found = FindResourceW(module, name, type);
    if (!found) return false;
    HGLOBAL loaded = LoadResource(module, found);
    size = SizeofResource(module, found);
    data = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    return data != nullptr;
}

void Save(Context& ctx, const std::wstring& file, const BYTE* data, DWORD size)
{
    std::wstring path = ctx.outDir + L"\\" + file;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD done = 0;
    bool ok = h != INVALID_HANDLE_VALUE && WriteFile(h, data, size, &done, nullptr) && done == size;
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    if (!ok) {
        fwprintf(stderr, L"dump-art: cannot write %ls\n", path.c_str());
        ctx.failed = true;
        return;
    }
    wprintf(L"%ls (%lu bytes)\n", path.c_str(), static_cast<unsigned long>(size));
    ++ctx.written;
}

BOOL CALLBACK OnImage(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param)
{
    Context& ctx = *reinterpret_cast<Context*>(param);
    const BYTE* data = nullptr;
    DWORD size = 0;
    if (ResBytes(module, name, type, data, size)) Save(ctx, ResName(name) + L".png", data, size);
    return TRUE;
}

#pragma pack(push, 2)
struct GroupEntry {
    BYTE width, height, colors, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

BOOL CALLBACK OnIconGroup(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param)
{
    Context& ctx = *reinterpret_cast<Context*>(param);
    const BYTE* data = nullptr;
    DWORD size = 0;
    if (!ResBytes(module, name, type, data, size) || size < 6) return TRUE;
    WORD count = 0;
    std::memcpy(&count, data + 4, 2);
    for (WORD i = 0; i < count && 6 + (i + 1) * sizeof(GroupEntry) <= size; ++i) {
        GroupEntry e;
        std::memcpy(&e, data + 6 + i * sizeof(GroupEntry), sizeof e);
        const BYTE* icon = nullptr;
        DWORD iconSize = 0;
        if (!ResBytes(module, MAKEINTRESOURCEW(e.id), MAKEINTRESOURCEW(3) /* RT_ICON */, icon, iconSize))
            continue;
        if (iconSize < 8 || std::memcmp(icon, kPngSignature, 8) != 0) continue;  // DIB entries are skipped
        int px = e.width ? e.width : 256;
        Save(ctx, L"icon-" + ResName(name) + L"-" + std::to_wstring(px) + L".png", icon, iconSize);
    }
    return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc > 3 || (argc > 1 && (!wcscmp(argv[1], L"--help") || !wcscmp(argv[1], L"/?")))) {
        fwprintf(stderr, L"usage: dump-art [OUTDIR [MODULE]]\n");
        return 2;
    }
    Context ctx;
    ctx.outDir = argc > 1 ? argv[1] : L"art";
    while (ctx.outDir.size() > 1 && (ctx.outDir.back() == L'\\' || ctx.outDir.back() == L'/'))
        ctx.outDir.pop_back();
    if (argc > 2) {
        ctx.module = LoadLibraryExW(argv[2], nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        if (!ctx.module) {
            fwprintf(stderr, L"dump-art: cannot load %ls\n", argv[2]);
            return 2;
        }
    } else {
        ctx.module = GetModuleHandleW(nullptr);
    }
    CreateDirectoryW(ctx.outDir.c_str(), nullptr);

    EnumResourceNamesW(ctx.module, L"IMG", OnImage, reinterpret_cast<LONG_PTR>(&ctx));
    EnumResourceNamesW(ctx.module, MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */, OnIconGroup,
                       reinterpret_cast<LONG_PTR>(&ctx));
    if (argc > 2) FreeLibrary(ctx.module);

    if (ctx.written == 0) {
        fwprintf(stderr, L"dump-art: no artwork found\n");
        return 1;
    }
    return ctx.failed ? 1 : 0;
}
