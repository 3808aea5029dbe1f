#include "sys/cvos.h"

#include <cstdio>
#include <cstring>

#if defined(_MSC_VER)
#include <intrin.h>
#else
#include <cpuid.h>
#endif

#include "base/cvhandle.h"
#include "base/cvstr.h"

namespace {

// A function of kernel32 looked up at run time, so that the library still
// loads on systems that lack it. Null when kernel32 or the function is absent.
template <class Fn>
Fn Kernel32Function(const char* name)
{
    HMODULE kernel32 = GetModuleHandleW(L"kernel32");
    if (!kernel32) return nullptr;
    // Through void*: a direct cast between unrelated function types is what
    // compilers warn about, and this one is deliberate.
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(kernel32, name)));
}

bool ReadVersion(OSVERSIONINFOW* info)
{
    memset(info, 0, sizeof(*info));
    info->dwOSVersionInfoSize = sizeof(*info);
#if defined(_MSC_VER)
#pragma warning(suppress : 4996)  // the manifest-dependent answer is the point
#endif
    return GetVersionExW(info) != FALSE;
}

bool IsNt(const OSVERSIONINFOW& v) { return v.dwPlatformId == VER_PLATFORM_WIN32_NT; }

void Cpuid(unsigned leaf, unsigned regs[4])  // EAX, EBX, ECX, EDX
{
#if defined(_MSC_VER)
    int r[4];
    __cpuid(r, static_cast<int>(leaf));
    for (int i = 0; i < 4; ++i) regs[i] = static_cast<unsigned>(r[i]);
#else
    __cpuid(leaf, regs[0], regs[1], regs[2], regs[3]);
#endif
}

}  // namespace

int isDigital(const char* text)
{
    if (!text) return 0;
    for (; *text; ++text)
        if (*text < '0' || *text > '9') return 0;
    return 1;
}

void GetCPUID(char* out)
{
    if (!out) return;
    out[0] = '\0';
    unsigned regs[4];
    Cpuid(0, regs);
    char vendor[13];
    memcpy(vendor, &regs[1], 4);      // EBX
    memcpy(vendor + 4, &regs[3], 4);  // EDX
    memcpy(vendor + 8, &regs[2], 4);  // ECX
    vendor[12] = '\0';
    Cpuid(1, regs);
    // 12 vendor bytes, at most 11 for the number, and the terminator.
    snprintf(out, 24, "%s%d", vendor, static_cast<int>(regs[3]));
}

int isTraditional() { return GetACP() == 950 ? 1 : 0; }
int isSimplified() { return GetACP() == 936 ? 1 : 0; }
int isEnglish() { return GetACP() == 1252 ? 1 : 0; }

int isNotebook()
{
    // A failed call leaves nothing worth reading: no battery is the neutral
    // answer then.
    SYSTEM_POWER_STATUS status = {};
    if (!GetSystemPowerStatus(&status)) return 0;
    return status.BatteryLifePercent <= 100 ? 1 : 0;
}

int isEnableUAC()
{
    OSVERSIONINFOW v;
    if (!ReadVersion(&v) || v.dwMajorVersion <= 5) return 0;
    CvRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System\\", 0,
                      KEY_READ, key.put()) != ERROR_SUCCESS)
        return 0;
    DWORD value = 0, size = sizeof(value);
    if (RegQueryValueExW(key.get(), L"EnableLUA", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) !=
        ERROR_SUCCESS)
        return 0;
    return size == sizeof(value) && value == 1 ? 1 : 0;
}

int GetOsName(wchar_t* name)
{
    if (!name) return 1;
    const wchar_t* result = L"XP";
    OSVERSIONINFOW v;
    if (ReadVersion(&v)) {
        if (IsNt(v)) {
            if (v.dwMajorVersion == 5)
                result = v.dwMinorVersion == 0 ? L"Win2000" : L"XP";
            else if (v.dwMajorVersion == 6)
                result = v.dwMinorVersion == 0 ? L"Vista" : v.dwMinorVersion == 1 ? L"Win7" : L"Win8";
            else if (v.dwMajorVersion == 10)
                result = L"Win10";
        } else if (v.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS && v.dwMajorVersion == 4) {
            result = v.dwMinorVersion < 90 ? L"9x" : L"Me";
        }
    }
    CvStrCopy(name, 8, result);  // the caller's buffer holds 8 characters
    return 1;
}

int isWin8()
{
    // Windows 8 or any later version: 6.2, 6.3 and 10.0 alike.
    OSVERSIONINFOW v;
    if (!ReadVersion(&v) || !IsNt(v)) return 0;
    return v.dwMajorVersion > 6 || (v.dwMajorVersion == 6 && v.dwMinorVersion >= 2) ? 1 : 0;
}

int isWin7()
{
    OSVERSIONINFOW v;
    if (!ReadVersion(&v) || !IsNt(v)) return 0;
    return v.dwMajorVersion >= 6 ? 1 : 0;
}

int isWow64()
{
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    auto isWow64Process = Kernel32Function<IsWow64ProcessFn>("IsWow64Process");
    if (!isWow64Process) return 0;
    BOOL wow64 = FALSE;
    if (!isWow64Process(GetCurrentProcess(), &wow64)) return 0;
    return wow64 ? 1 : 0;
}

void DisableFsRedirection(void** oldValue)
{
    if (!oldValue || !isWow64()) return;
    using DisableFn = BOOL(WINAPI*)(PVOID*);
    auto disable = Kernel32Function<DisableFn>("Wow64DisableWow64FsRedirection");
    if (disable) disable(oldValue);
}

void RevertFsRedirection(void** oldValue)
{
    if (!oldValue || !isWow64()) return;
    using RevertFn = BOOL(WINAPI*)(PVOID);
    auto revert = Kernel32Function<RevertFn>("Wow64RevertWow64FsRedirection");
    if (revert) revert(*oldValue);
}
