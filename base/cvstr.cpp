#include "base/cvstr.h"

#include <windows.h>

#include <cstring>

bool CvStrCopy(wchar_t* dst, size_t cap, const wchar_t* src)
{
    if (!dst || cap == 0) return false;
    if (!src) src = L"";
    size_t n = wcsnlen(src, cap);
    bool fits = n < cap;
    if (!fits) n = cap - 1;
    memcpy(dst, src, n * sizeof(wchar_t));
    dst[n] = L'\0';
    return fits;
}

bool CvStrAppend(wchar_t* dst, size_t cap, const wchar_t* src)
{
    if (!dst || cap == 0) return false;
    if (!src) return true;
    size_t have = wcsnlen(dst, cap);
    if (have == cap) return false;  // dst itself is not terminated
    size_t add = wcslen(src);
    if (add >= cap - have) return false;
    memcpy(dst + have, src, (add + 1) * sizeof(wchar_t));
    return true;
}

std::string CvToThreadAnsi(const std::wstring& text)
{
    if (text.empty()) return std::string();
    int n = WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                nullptr);
    if (n <= 0) return std::string();
    std::string bytes(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), &bytes[0], n, nullptr, nullptr);
    return bytes;
}
