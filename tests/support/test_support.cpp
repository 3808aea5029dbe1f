#include "support/test_support.h"

#include <shlobj.h>
#include <zlib.h>

#include <algorithm>

#include "base/cvhandle.h"

namespace cvtest {

static std::wstring ProgramPath()
{
    wchar_t buf[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, buf, MAX_PATH);
    return buf;
}

std::wstring BinDir()
{
    std::wstring p = ProgramPath();
    return p.substr(0, p.rfind(L'\\') + 1);
}

static std::wstring ProgramName()
{
    std::wstring p = ProgramPath();
    p = p.substr(p.rfind(L'\\') + 1);
    return p.substr(0, p.rfind(L'.'));
}

ScratchDir::ScratchDir(const std::wstring& name)
{
    path_ = L"C:\\cvtest\\" + ProgramName() + L"-" + std::to_wstring(GetCurrentProcessId()) + L"\\" + name + L"\\";
    RemoveTree(path_);
    MakeDirs(path_);
}

ScratchDir::~ScratchDir()
{
    RemoveTree(path_);
    // The per-program folder goes once its last scratch folder has gone.
    std::wstring parent = path_.substr(0, path_.size() - 1);
    parent = parent.substr(0, parent.rfind(L'\\'));
    RemoveDirectoryW(parent.c_str());
    RemoveDirectoryW(L"C:\\cvtest");
}

void MakeDirs(const std::wstring& path)
{
    std::wstring p = path;
    while (!p.empty() && p.back() == L'\\') p.pop_back();
    SHCreateDirectoryExW(nullptr, p.c_str(), nullptr);
}

void WriteFile(const std::wstring& path, const std::string& bytes)
{
    size_t slash = path.rfind(L'\\');
    if (slash != std::wstring::npos) MakeDirs(path.substr(0, slash));
    CvFileHandle h(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (h) ::WriteFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

bool Exists(const std::wstring& path)
{
    std::wstring p = path;
    while (p.size() > 3 && p.back() == L'\\') p.pop_back();
    return GetFileAttributesW(p.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void RemoveTree(const std::wstring& path)
{
    std::wstring dir = path;
    while (!dir.empty() && dir.back() == L'\\') dir.pop_back();
    if (dir.size() < 4) return;  // never a drive root
    WIN32_FIND_DATAW fd;
    CvFindHandle h(FindFirstFileW((dir + L"\\*").c_str(), &fd));
    if (h) {
        do {
            std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring full = dir + L"\\" + name;
            SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(full);
            else
                DeleteFileW(full.c_str());
        } while (FindNextFileW(h.get(), &fd));
    }
    h.reset();
    RemoveDirectoryW(dir.c_str());
}

RunResult Run(const std::wstring& program, const std::wstring& args, DWORD timeoutMs)
{
    RunResult result;
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return result;
    CvHandle reader(readEnd), writer(writeEnd);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    std::wstring cmd = L"\"" + program + L"\" " + args;
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(program.c_str(), &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
        return result;
    CvHandle process(pi.hProcess), thread(pi.hThread);
    writer.reset();  // the child holds the only write end now

    // Read while the child runs, and stop once it has ended and the pipe is
    // drained: processes it started (Wine's desktop process among them) may
    // hold the write end open for much longer.
    auto drain = [&] {
        DWORD avail = 0;
        char buf[4096];
        while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &avail, nullptr) && avail) {
            DWORD got = 0;
            if (!ReadFile(readEnd, buf, avail < sizeof(buf) ? avail : sizeof(buf), &got, nullptr) || !got) break;
            result.output.append(buf, got);
        }
    };
    DWORD start = GetTickCount();
    for (;;) {
        DWORD w = WaitForSingleObject(pi.hProcess, 10);
        drain();
        if (w == WAIT_OBJECT_0) break;
        if (GetTickCount() - start > timeoutMs) {
            TerminateProcess(pi.hProcess, 0xDEAD);
            return result;
        }
    }
    GetExitCodeProcess(pi.hProcess, &result.exitCode);
    result.output.erase(std::remove(result.output.begin(), result.output.end(), '\r'), result.output.end());
    return result;
}

RunResult RunDisabledTest(const std::wstring& test, const std::wstring& program)
{
    return Run(program.empty() ? ProgramPath() : program,
               L"--gtest_also_run_disabled_tests --gtest_filter=" + test);
}

::testing::AssertionResult PassedOneTest(const RunResult& r)
{
    if (r.exitCode == 0 && r.output.find("[  PASSED  ] 1 test.") != std::string::npos)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "exit code " << r.exitCode << "\n" << r.output;
}

std::wstring Arg(const std::wstring& s)
{
    std::wstring out = L"\"";
    size_t slashes = 0;
    for (wchar_t c : s) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
        slashes = 0;
        out += c;
    }
    out.append(slashes * 2, L'\\');
    return out + L"\" ";
}

bool OnWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

std::wstring SpecialFolder(int csidl)
{
    wchar_t buf[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_DONT_VERIFY, nullptr, 0, buf);
    return buf;
}

std::wstring EnvVar(const wchar_t* name)
{
    wchar_t buf[MAX_PATH] = {};
    DWORD n = GetEnvironmentVariableW(name, buf, MAX_PATH);
    return n < MAX_PATH ? buf : L"";
}

std::string ReadFileBytes(const std::wstring& path)
{
    std::string bytes;
    CvFileHandle f(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f) return bytes;
    char buf[65536];
    DWORD got = 0;
    while (::ReadFile(f.get(), buf, sizeof(buf), &got, nullptr) && got) bytes.append(buf, got);
    return bytes;
}

std::string Gzip(const std::string& data)
{
    z_stream zs = {};
    deflateInit2(&zs, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);  // 16: a gzip header and trailer
    std::string out(compressBound(static_cast<uLong>(data.size())) + 64, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(&out[0]);
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

std::string Narrow(const std::wstring& w)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), &s[0], n, nullptr, nullptr);
    return s;
}

std::wstring Widen(const std::string& s)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.c_str(), static_cast<int>(s.size()), &w[0], n);
    return w;
}

MessageRecorder::MessageRecorder(UINT msg) : msg_(msg)
{
    static const wchar_t kClass[] = L"cvtest.MessageRecorder";
    WNDCLASSW wc = {};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClass;
    RegisterClassW(&wc);  // fails harmlessly when already registered
    hwnd_ = CreateWindowExW(0, kClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, this);
}

MessageRecorder::~MessageRecorder()
{
    if (hwnd_) DestroyWindow(hwnd_);
}

void PumpPending()
{
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
}

LRESULT CALLBACK MessageRecorder::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* self = reinterpret_cast<MessageRecorder*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self && msg == self->msg_) {
        self->values_.push_back(wp);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace cvtest
