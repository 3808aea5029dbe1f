// Starting programs and library functions, kernel drivers, "at" jobs,
// token privileges and the single-instance check.
#pragma once
#include <windows.h>

// Starts `file` (a program or a document: its default action) through the
// shell with `params` and the show command `show`. With `wait` non-zero it
// waits without a time limit for the started process to end; when nothing was
// started it returns at once. The shell shows no error dialog. Returns 1
// whatever happened: callers that need to know check for the effects.
int DoRun(const wchar_t* file, const wchar_t* params, int wait, int show);

// Loads `library`, calls its export `function` (no arguments, int result,
// looked up by its name in the ANSI code page) and returns that int; 0 when
// the library cannot be loaded or has no such export. The library is
// released again before returning.
int DoFunc(const wchar_t* library, const wchar_t* function);

// Registers `driverPath` as the on-demand kernel driver service
// `serviceName` (or takes the service of that name that exists already) and
// starts it. 1 when it started or was running; 0 otherwise, and without
// administrator rights. A service created here stays registered when it
// cannot be started.
int LoadDrv(const wchar_t* serviceName, const wchar_t* driverPath);

// Stops and deletes the service `serviceName`. 1 when it could be opened
// (whatever stopping and deleting gave), else 0.
int UnLoadDrv(const wchar_t* serviceName);

// Enables the privilege `name` in the process token (enable non-zero), or
// removes it from the token for good (enable 0). 0 when the token cannot be
// opened or the name is unknown; otherwise 1, whatever the adjustment gave,
// so also when the token does not hold the privilege.
int SetPrivilege(const wchar_t* name, int enable);

// 1 when this is the first instance: the named mutex `name` is new, and it
// stays open for the life of the process to mark the running instance. When
// it existed already, the top-level window titled `name` is shown, restored
// and brought to the front, `message` (when it has more than one character)
// is sent to it as WM_COPYDATA (dwData 0, the UTF-16 text with its
// terminator), and the result is 0; with no such window the result is 1.
// The message is sent synchronously, but a first instance that does not
// answer cannot hold the caller: the send gives up after a few seconds.
// A null name finds nothing and gives 1.
int CheckOneInstance(const wchar_t* name, const wchar_t* message);

// Schedules `program` at `time` with the system's at.exe ("/every:" all
// days of the week when everyDay is non-zero), hidden and without waiting.
// 0 when at.exe is missing; 0 too, and nothing is run, when the program or
// the time is null or holds a quotation mark (the program could not be
// passed as one argument) or the command would pass 1023 characters; else 1.
int CvAddJob(const wchar_t* program, const wchar_t* time, int everyDay);

// Deletes every at.exe job ("/delete /yes"). 0 when at.exe is missing, else 1.
int CvDelJob();
