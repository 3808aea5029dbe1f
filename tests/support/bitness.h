// What the build under test is: the answers a 32-bit process and a 64-bit
// process get from the same 64-bit Windows differ, and each suite asserts its
// own.
#pragma once
#include <windows.h>

namespace cvtest {

constexpr bool kIs64BitProcess = sizeof(void*) == 8;

// The registry view a process of this build opens when it names none: the
// 32-bit view (WOW6432Node) for a 32-bit process on 64-bit Windows, the
// 64-bit view for a 64-bit process.
constexpr REGSAM kDefaultView = kIs64BitProcess ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
// The other one.
constexpr REGSAM kOtherView = kIs64BitProcess ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

}  // namespace cvtest
