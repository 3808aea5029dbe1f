// Helper program for the resource and shared-memory tests. A copy of it is
// the module whose resources the tests update; run, it reads resources of
// its own running executable, or a named shared-memory area, and prints what
// it found, one "key=value" line per fact, bytes as lower-case hex.
//
//   base_probe res ID TYPE SAVEPATH    its own resource ID of type TYPE
//   base_probe shm-read NAME           ReadShareMem
//   base_probe shm-write NAME TEXT INDEX
//   base_probe shm-read2 NAME SIZE OFFSET
//   base_probe shm-write2 NAME HEX OFFSET
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "base/cvhandle.h"
#include "base/cvres.h"
#include "base/cvsharemem.h"
#include "probe_hex.h"

namespace {

const DWORD kSettingsBytes = 1984;  // the uninstaller's settings record
const unsigned char kFill = 0xEE;   // "untouched" in the areas handed out
const unsigned char kCanary = 0xCD;
const size_t kCanaryBytes = 16;

using probe::Hex;

std::vector<unsigned char> Unhex(const wchar_t* hex)
{
    std::vector<unsigned char> out;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) {
        wchar_t pair[3] = {hex[i], hex[i + 1], 0};
        out.push_back(static_cast<unsigned char>(wcstoul(pair, nullptr, 16)));
    }
    return out;
}

std::string Utf8(const wchar_t* w)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
    std::string s(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, w, -1, &s[0], n, nullptr, nullptr);
    return s;
}

bool CanaryIntact(const std::vector<unsigned char>& area, size_t from)
{
    for (size_t i = from; i < area.size(); ++i)
        if (area[i] != kCanary) return false;
    return true;
}

// An area of `size` filled bytes followed by a canary.
std::vector<unsigned char> Area(size_t size)
{
    std::vector<unsigned char> area(size + kCanaryBytes, kCanary);
    memset(area.data(), kFill, size);
    return area;
}

int Res(int id, const wchar_t* type, const wchar_t* savePath)
{
    int size = CvResSize(id, type);
    printf("size=%d\n", size);

    // As callers do: sized by CvResSize.
    std::vector<unsigned char> whole = Area(static_cast<size_t>(size));
    int r = CvResGetBuff(id, type, whole.data());
    printf("buff=%d %s canary=%s\n", r, Hex(whole.data(), size).c_str(),
           CanaryIntact(whole, size) ? "ok" : "broken");

    // As the uninstall run does: a fixed 1984-byte record.
    std::vector<unsigned char> settings = Area(kSettingsBytes);
    r = CvResGetBuff(id, type, settings.data(), kSettingsBytes);
    printf("settings=%d %s canary=%s\n", r, Hex(settings.data(), kSettingsBytes).c_str(),
           CanaryIntact(settings, kSettingsBytes) ? "ok" : "broken");

    CvComPtr<IStream> stream(CvResGetStream(id, type));
    if (stream) {
        STATSTG st = {};
        stream.get()->Stat(&st, STATFLAG_NONAME);
        std::vector<unsigned char> bytes(static_cast<size_t>(st.cbSize.QuadPart) + 1);
        ULONG got = 0;
        stream.get()->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &got);
        printf("stream=%llu %s\n", static_cast<unsigned long long>(st.cbSize.QuadPart), Hex(bytes.data(), got).c_str());
    } else {
        printf("stream=null\n");
    }

    printf("save=%d\n", CvResSave(id, type, savePath));
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"res" && argc == 5) return Res(_wtoi(argv[2]), argv[3], argv[4]);
    if (mode == L"shm-read" && argc == 3) {
        std::vector<wchar_t> text(65536, L'#');
        int r = ReadShareMem(argv[2], text.data());
        printf("read=%d text=%s\n", r, r ? Utf8(text.data()).c_str() : "");
        return 0;
    }
    if (mode == L"shm-write" && argc == 5) {
        printf("write=%d\n", WriteShareMem(argv[2], argv[3], _wtoi(argv[4])));
        return 0;
    }
    if (mode == L"shm-read2" && argc == 5) {
        int size = _wtoi(argv[3]);
        std::vector<unsigned char> data(size > 0 ? size : 0, kFill);
        int r = ReadShareMem2(argv[2], data.data(), size, _wtoi(argv[4]));
        printf("read2=%d %s\n", r, Hex(data.data(), data.size()).c_str());
        return 0;
    }
    if (mode == L"shm-write2" && argc == 5) {
        std::vector<unsigned char> data = Unhex(argv[3]);
        printf("write2=%d\n", WriteShareMem2(argv[2], data.data(), static_cast<int>(data.size()), _wtoi(argv[4])));
        return 0;
    }
    fprintf(stderr, "base_probe: unknown command\n");
    return 2;
}
