// Helpers shared by the test programs. They run under Wine and work on the
// prefix's real drive, registry and processes.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace cvtest {

// The folder of the running test program (where every built .exe lies),
// with a trailing backslash.
std::wstring BinDir();

// A fresh scratch folder C:\cvtest\<program>-<pid>\<name>\ (trailing
// backslash); removed with everything in it when the object goes.
class ScratchDir {
public:
    explicit ScratchDir(const std::wstring& name);
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& rel) const { return path_ + rel; }

private:
    std::wstring path_;
};

// Creates the file (and its missing parent folders) with the given bytes.
void WriteFile(const std::wstring& path, const std::string& bytes = "x");
void MakeDirs(const std::wstring& path);
bool Exists(const std::wstring& path);
// Removes a tree with the test's own code (not the code under test).
void RemoveTree(const std::wstring& path);

// Runs a program, waits for it, and returns its exit code and its standard
// output and error together, with line ends as "\n".
struct RunResult {
    DWORD exitCode = 0xFFFFFFFF;
    std::string output;
};
RunResult Run(const std::wstring& program, const std::wstring& args, DWORD timeoutMs = 60000);

// Runs one test of a test program, `test` as "Suite.DISABLED_Name", in a
// child process: a fresh run of this program, or of `program` (a copy of it
// placed elsewhere). Such tests are disabled so that the program's own run
// passes them by; they need a process of their own (a fresh singleton, a
// file beside the executable, a token changed for good).
RunResult RunDisabledTest(const std::wstring& test, const std::wstring& program = std::wstring());
// Success when the run ended with 0 and its one test passed; otherwise a
// failure that carries the run's output.
::testing::AssertionResult PassedOneTest(const RunResult& r);

// One command-line argument quoted the way the C runtime splits command
// lines (backslashes before a quote, or before the closing quote, doubled),
// followed by a blank, so that arguments can be strung together.
std::wstring Arg(const std::wstring& s);

// Polls `done` until it holds, for what has no event to wait on (a state
// another process or thread changes without signalling); false once
// `timeoutMs` has passed.
template <class Pred> bool WaitUntil(Pred done, DWORD timeoutMs = 10000)
{
    for (DWORD start = GetTickCount(); !done(); Sleep(5))
        if (GetTickCount() - start > timeoutMs) return done();
    return true;
}

// True under Wine, whose ntdll exports its version; for the few places where
// Wine allows less than Windows and a test asserts what each does.
bool OnWine();

// A shell folder (CSIDL), as the shell names it; an environment variable.
std::wstring SpecialFolder(int csidl);
std::wstring EnvVar(const wchar_t* name);

// The whole content of a file; empty when it cannot be read. The file may be
// open for writing elsewhere (a child appending to it) while it is read.
std::string ReadFileBytes(const std::wstring& path);

// `data` as one gzip member.
std::string Gzip(const std::string& data);

std::string Narrow(const std::wstring& w);  // UTF-8
std::wstring Widen(const std::string& s);   // from UTF-8

// Dispatches the messages waiting in this thread's queue.
void PumpPending();
// Dispatches this thread's messages until `done` holds, waking as each one
// arrives; false once `timeoutMs` has passed.
template <class Pred> bool PumpUntil(Pred done, DWORD timeoutMs = 10000)
{
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        PumpPending();
    }
    PumpPending();
    return true;
}

// A message-only window on the creating thread that records the wParam of
// every message `msg` it receives.
class MessageRecorder {
public:
    explicit MessageRecorder(UINT msg);
    ~MessageRecorder();
    HWND hwnd() const { return hwnd_; }
    const std::vector<WPARAM>& values() const { return values_; }
    // Pumps messages until `done` returns true or the time runs out.
    template <class Pred> bool PumpUntil(Pred done, DWORD timeoutMs = 30000)
    {
        return cvtest::PumpUntil(done, timeoutMs);
    }
    void PumpPending() { cvtest::PumpPending(); }

private:
    static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
    UINT msg_;
    HWND hwnd_ = nullptr;
    std::vector<WPARAM> values_;
};

}  // namespace cvtest
