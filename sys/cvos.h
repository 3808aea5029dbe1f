// Questions about the machine and the system the program runs on: the
// processor, the ANSI code page, the power source, the Windows version, UAC
// and WOW64. Nothing here keeps state or reports an error: a platform call
// that fails gives the neutral answer (0, "XP", an empty string).
#pragma once
#include <windows.h>

// 1 when every character of `text` is an ASCII digit (the empty string
// included); 0 otherwise and for a null pointer.
int isDigital(const char* text);

// The processor's vendor text (CPUID leaf 0: EBX, EDX, ECX) followed by the
// feature flags of leaf 1 (EDX) as a signed decimal number, for example
// "GenuineIntel-1075053569". `out` holds at least 24 bytes.
void GetCPUID(char* out);

// The system's ANSI code page (GetACP) is 950, 936 or 1252.
int isTraditional();
int isSimplified();
int isEnglish();

// 1 when the power status names a battery charge (0 to 100 %); 0 when it is
// unknown (no battery) or the status cannot be read.
int isNotebook();

// 1 on Vista or later when the value "EnableLUA" of
// HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Policies\System is the number 1.
int isEnableUAC();

// A short name of the version that GetVersionExW reports: "Win2000", "XP",
// "Vista", "Win7", "Win8", "Win10", "9x" or "Me"; "XP" when the version
// cannot be read or matches no row. `name` holds at least 8 characters.
// Always returns 1. A program without a compatibility manifest is told 6.2
// on later systems, and so reads "Win8" there.
int GetOsName(wchar_t* name);

// NT family, version 6.2 or later (Windows 8 and every later version).
int isWin8();
// NT family, major version 6 or later (so Vista counts too).
int isWin7();

// 1 when this process is a 32-bit process on 64-bit Windows.
int isWow64();

// Under WOW64, switch the calling thread's file-system redirection off
// (storing the old state in *oldValue) and back on again. Both do nothing
// outside WOW64 or when the platform lacks the functions; call them on the
// same thread with the same value.
void DisableFsRedirection(void** oldValue);
void RevertFsRedirection(void** oldValue);
