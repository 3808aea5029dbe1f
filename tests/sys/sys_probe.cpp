// Started by the system-services tests, so that a question is answered by a
// process of its own: one whose executable name Wine reports another Windows
// version for, one that is a second instance, one whose token may lose a
// privilege for good.
//   sys_probe os                     the version answers, on one line
//   sys_probe instance NAME [TEXT]   exit code = CheckOneInstance(NAME, TEXT or null)
//   sys_probe privilege NAME         removes the privilege, then asks to enable it
#include <cstdio>
#include <cwchar>
#include <vector>

#include "base/cvhandle.h"
#include "sys/cvos.h"
#include "sys/cvproc.h"

namespace {

// Whether the process token lists the privilege at all, and with which
// attributes (-1 when it does not).
long PrivilegeAttributes(const wchar_t* name)
{
    LUID luid;
    if (!LookupPrivilegeValueW(nullptr, name, &luid)) return -1;
    CvHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return -1;
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenPrivileges, nullptr, 0, &size);
    std::vector<BYTE> buffer(size ? size : 1);
    if (!GetTokenInformation(token.get(), TokenPrivileges, buffer.data(), size, &size)) return -1;
    auto* list = reinterpret_cast<TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < list->PrivilegeCount; ++i) {
        const LUID& l = list->Privileges[i].Luid;
        if (l.LowPart == luid.LowPart && l.HighPart == luid.HighPart)
            return static_cast<long>(list->Privileges[i].Attributes);
    }
    return -1;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) return 100;
    if (wcscmp(argv[1], L"os") == 0) {
        OSVERSIONINFOW v = {};
        v.dwOSVersionInfoSize = sizeof(v);
        GetVersionExW(&v);
        wchar_t name[8];
        int result = GetOsName(name);
        printf("name=%ls result=%d win7=%d win8=%d uac=%d version=%lu.%lu platform=%lu\n", name, result, isWin7(),
               isWin8(), isEnableUAC(), v.dwMajorVersion, v.dwMinorVersion, v.dwPlatformId);
        return 0;
    }
    if (wcscmp(argv[1], L"instance") == 0 && argc > 2) return CheckOneInstance(argv[2], argc > 3 ? argv[3] : nullptr);
    if (wcscmp(argv[1], L"privilege") == 0 && argc > 2) {
        long before = PrivilegeAttributes(argv[2]);
        int removed = SetPrivilege(argv[2], 0);
        long afterRemove = PrivilegeAttributes(argv[2]);
        int enabled = SetPrivilege(argv[2], 1);
        long afterEnable = PrivilegeAttributes(argv[2]);
        printf("before=%ld remove=%d after=%ld enable=%d after=%ld\n", before, removed, afterRemove, enabled,
               afterEnable);
        return 0;
    }
    return 101;
}
