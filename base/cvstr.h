// Bounded wide-string helpers. Every fixed buffer in the library is filled
// through these: they never write past the capacity and always terminate.
#pragma once
#include <cstddef>
#include <cwchar>
#include <string>

// Copies src into dst (capacity cap, in characters). Returns true when all of
// src fit; otherwise dst holds as much as fits and the result is false.
bool CvStrCopy(wchar_t* dst, size_t cap, const wchar_t* src);

// Appends src to the string in dst. Returns false (leaving dst as it was)
// when the result would not fit.
bool CvStrAppend(wchar_t* dst, size_t cap, const wchar_t* src);

// The text in the calling thread's ANSI code page (characters it cannot hold
// become its default character), as the logger, the reports and the removal
// script write it.
std::string CvToThreadAnsi(const std::wstring& text);

// Length of a string kept in a fixed field that may lack its terminator.
inline size_t CvFieldLen(const wchar_t* field, size_t cap) { return wcsnlen(field, cap); }

template <size_t N> bool CvStrCopy(wchar_t (&dst)[N], const wchar_t* src) { return CvStrCopy(dst, N, src); }
template <size_t N> bool CvStrAppend(wchar_t (&dst)[N], const wchar_t* src) { return CvStrAppend(dst, N, src); }

// Forces the terminator into the last character of a fixed field, so that a
// field read from a file can never run on into the next one.
template <size_t N> void CvTerminateField(wchar_t (&field)[N]) { field[N - 1] = L'\0'; }
