// Usage reports: one small URL-encoded form POSTed to the report endpoint on
// a thread of its own, never waited for.
#pragma once
#include <windows.h>

#include <cstddef>

// The maker's report endpoint (a build setting: CV_REPORT_SERVER, followed
// by the fixed path "/api/report.asp"). Builds made with CV_BENCH_HOOKS take
// the server from the environment variable CV_REPORT_SERVER when it is set.
const wchar_t* CvReportEndpoint();
// The maker's home page (a build setting: CV_HOME_PAGE; with CV_BENCH_HOOKS,
// the environment variable of that name when set).
const wchar_t* CvHomePage();

// Sends "type=<type>&value=<value, URL-encoded>&uuid=<user id>&sign=<ticks>"
// to `endpoint` in the background and returns at once. Nothing is sent for
// a null endpoint or type, a type of 30 characters or more, or an endpoint
// of 200 or more; a value of 100 characters or more is sent empty.
void DoReport(const wchar_t* endpoint, const wchar_t* type, const wchar_t* value);

// The report thread: takes the 660-byte request block and frees it.
DWORD WINAPI ReportThread(LPVOID block);

// A user id "CV%08d%05d%05d" into `buffer` (at least 24 characters). With
// `persist`, the id kept under HKCU\SOFTWARE\Corvane "UID" when it has the
// form this function writes ("CV", an optional sign and digits, 20 to 23
// characters), else a fresh one that is stored there.
void CreateUID(wchar_t* buffer, int persist);

// Percent-encodes the UTF-8 bytes of `text` in place, leaving letters,
// digits, ! ' ( ) * - . / : _ ~ and % as they are. Returns 0, leaving the
// text unchanged, when the result and its terminator would need more than
// 1024 characters. The buffer must hold the result.
int URLEncode(wchar_t* text);
// The same for a buffer of `capacity` characters: 0, text unchanged, when
// the result would not fit it.
int URLEncode(wchar_t* text, size_t capacity);
