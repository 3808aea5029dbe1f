// cvpack: the installer side of the uninstaller, for product teams and tests.
//
//   cvpack manifest --out FILE [--key K] [--name N] [--startmenu S]
//                   [--installdir D] [--file PATH]... [--dir PATH]...
//                   [--shortcut PATH]...
//   cvpack show FILE
//   cvpack shortcut LNK TARGET [--args A] [--workdir W]
//
// Exit codes: 0 done; 1 the command failed (a damaged manifest, a file that
// cannot be read or written, a shortcut the shell would not make); 2 the
// command line is wrong (unknown command or option, missing value, a value
// that does not fit its field, options that exclude each other).
//
// A command is one entry in kCommands: its name, its syntax line and the
// function that runs it with the arguments after its name.
#include <windows.h>

#include <shlobj.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "app/uninstall_types.h"
#include "base/cvhandle.h"
#include "base/cvres.h"
#include "base/cvstr.h"
#include "shell/folders.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// ---------------------------------------------------------------------------
// Output. Text goes to a console as UTF-16; to a file or pipe as UTF-8.

std::string Utf8(const std::wstring& text)
{
    if (text.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

void WriteLine(DWORD stdHandle, const std::wstring& line)
{
    HANDLE h = GetStdHandle(stdHandle);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return;
    // Lines end in CR LF, as elsewhere on Windows.
    std::wstring text;
    for (wchar_t c : line) {
        if (c == L'\n') text += L'\r';
        text += c;
    }
    text += L"\r\n";
    DWORD mode = 0, done = 0;
    if (GetConsoleMode(h, &mode)) {
        WriteConsoleW(h, text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
    } else {
        std::string bytes = Utf8(text);
        WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
    }
}

void Out(const std::wstring& line) { WriteLine(STD_OUTPUT_HANDLE, line); }
void Err(const std::wstring& line) { WriteLine(STD_ERROR_HANDLE, line); }

// The system's text for an error code, on one line.
std::wstring SystemMessage(DWORD code)
{
    wchar_t buf[512] = {};
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buf,
                             ARRAYSIZE(buf), nullptr);
    std::wstring text(buf, n < ARRAYSIZE(buf) ? n : 0);
    while (!text.empty() &&
           (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ' || text.back() == L'.'))
        text.pop_back();
    if (text.empty()) text = L"error " + std::to_wstring(code);
    return text;
}

// `value` as `digits` upper-case hexadecimal digits.
std::wstring Hex(uint32_t value, int digits)
{
    std::wstring out(static_cast<size_t>(digits), L'0');
    for (int i = digits - 1; i >= 0; --i, value >>= 4) out[static_cast<size_t>(i)] = L"0123456789ABCDEF"[value & 0xF];
    return out;
}

// A string from a manifest field, quoted; control characters are shown as
// \uXXXX so that a field can never break the listing's lines.
std::wstring Quoted(const wchar_t* text, size_t len)
{
    std::wstring out = L"\"";
    for (size_t i = 0; i < len; ++i) {
        wchar_t c = text[i];
        if (c < 0x20 || c == 0x7F) {
            out += L"\\u" + Hex(c, 4);
        } else {
            out += c;
        }
    }
    return out + L"\"";
}

std::wstring FullPath(const std::wstring& path)
{
    DWORD need = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (need == 0) return path;
    std::wstring full(need, L'\0');
    DWORD got = GetFullPathNameW(path.c_str(), need, &full[0], nullptr);
    if (got == 0 || got >= need) return path;
    full.resize(got);
    return full;
}

// "C:\..." or "\\server\share\...": the only paths a manifest may hold, since
// the uninstaller runs in a folder of its own and must not resolve a path
// against it.
const wchar_t kProtectedRule[] =
    L" names a folder the uninstaller never removes as a whole (a drive root, a system, program or profile "
    L"folder, or one that holds such a folder)";
const wchar_t kFullPathRule[] = L" must be a full path (C:\\... or \\\\server\\share\\...)";
bool IsFullPath(const std::wstring& p)
{
    bool drive = p.size() >= 3 && ((p[0] >= L'A' && p[0] <= L'Z') || (p[0] >= L'a' && p[0] <= L'z')) && p[1] == L':' &&
                 p[2] == L'\\';
    bool unc = p.size() >= 3 && p[0] == L'\\' && p[1] == L'\\' && p[2] != L'\\';
    return drive || unc;
}

// ---------------------------------------------------------------------------
// Command-line parsing. Options are "--name value"; the value is the next
// argument, taken as it is (so "--args --verbose" works). Every other
// argument is positional.

struct OptionSpec {
    const wchar_t* name;  // with its dashes: L"--key"
    bool repeatable;
    bool flag = false;    // takes no value
};

struct Option {
    std::wstring name;
    std::wstring value;
};

class ParsedArgs {
public:
    // Returns false with a one-line reason in *error.
    bool Parse(int argc, wchar_t** argv, const std::vector<OptionSpec>& specs, std::wstring* error)
    {
        for (int i = 0; i < argc; ++i) {
            std::wstring arg = argv[i];
            if (arg.size() < 2 || arg[0] != L'-') {
                positional_.push_back(arg);
                continue;
            }
            const OptionSpec* rule = nullptr;
            for (const OptionSpec& s : specs)
                if (arg == s.name) rule = &s;
            if (!rule) {
                *error = L"unknown option " + arg;
                return false;
            }
            if (!rule->flag && i + 1 >= argc) {
                *error = arg + L" needs a value";
                return false;
            }
            if (!rule->repeatable && Has(arg)) {
                *error = arg + L" is given more than once";
                return false;
            }
            options_.push_back({arg, rule->flag ? std::wstring() : std::wstring(argv[++i])});
        }
        return true;
    }

    bool Has(const std::wstring& name) const
    {
        for (const Option& o : options_)
            if (o.name == name) return true;
        return false;
    }
    std::wstring Value(const std::wstring& name) const
    {
        for (const Option& o : options_)
            if (o.name == name) return o.value;
        return std::wstring();
    }
    const std::vector<Option>& options() const { return options_; }  // in command-line order
    const std::vector<std::wstring>& positional() const { return positional_; }

private:
    std::vector<Option> options_;
    std::vector<std::wstring> positional_;
};

// ---------------------------------------------------------------------------
// Commands.

struct Command {
    const wchar_t* name;
    const wchar_t* syntax;  // the arguments after the command's name
    int (*run)(const Command& self, int argc, wchar_t** argv);
};

// A command's one-line complaint about its command line.
int UsageError(const Command& cmd, const std::wstring& what)
{
    Err(std::wstring(L"cvpack ") + cmd.name + L": " + what);
    return kExitUsage;
}

int Failure(const Command& cmd, const std::wstring& what)
{
    Err(std::wstring(L"cvpack ") + cmd.name + L": " + what);
    return kExitFailed;
}

// --- manifest ---------------------------------------------------------------

// Appends the raw bytes of a record. Windows is little-endian throughout, so
// the in-memory layout of the records is the file's layout.
template <class T> void AppendRecord(std::string* bytes, const T& record)
{
    bytes->append(reinterpret_cast<const char*>(&record), sizeof(record));
}

void AppendCount(std::string* bytes, size_t n)
{
    int32_t count = static_cast<int32_t>(n);
    AppendRecord(bytes, count);
}

// Writes the file through a temporary file beside it, renamed over the
// target at the end: a failure leaves the target as it was and no
// half-written manifest behind.
bool WriteFileAtomically(const std::wstring& path, const std::string& bytes, std::wstring* error)
{
    std::wstring target = FullPath(path);
    std::wstring temp = target + L"." + std::to_wstring(GetCurrentProcessId()) + L".cvpack-tmp";
    CvFileHandle file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        *error = L"cannot write " + target + L": " + SystemMessage(GetLastError());
        return false;
    }
    DWORD written = 0;
    bool ok = WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size() && FlushFileBuffers(file.get());
    DWORD code = GetLastError();
    file.reset();
    if (ok && !MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ok = false;
        code = GetLastError();
    }
    if (!ok) {
        DeleteFileW(temp.c_str());
        *error = L"cannot write " + target + L": " + SystemMessage(code);
    }
    return ok;
}

// "--key is 120 characters long; the field holds at most 99"
std::wstring TooLong(const std::wstring& option, size_t len, size_t cap, const wchar_t* note = L"")
{
    return option + L" is " + std::to_wstring(len) + L" characters long" + note + L"; the field holds at most " +
           std::to_wstring(cap - 1);
}

int RunManifest(const Command& cmd, int argc, wchar_t** argv)
{
    ParsedArgs args;
    std::wstring error;
    if (!args.Parse(argc, argv,
                    {{L"--out", false},
                     {L"--key", false},
                     {L"--name", false},
                     {L"--startmenu", false},
                     {L"--installdir", false},
                     {L"--file", true},
                     {L"--dir", true},
                     {L"--shortcut", true}},
                    &error))
        return UsageError(cmd, error);
    if (!args.positional().empty()) return UsageError(cmd, L"unexpected argument " + args.positional()[0]);
    if (!args.Has(L"--out")) return UsageError(cmd, L"--out FILE is required");
    std::wstring out = args.Value(L"--out");
    if (out.empty()) return UsageError(cmd, L"--out needs a file name");

    tagUninstallHeader header = {};
    struct HeaderField {
        const wchar_t* option;
        wchar_t* field;
        size_t cap;
    } const fields[] = {
        {L"--key", header.uninstallKey, ARRAYSIZE(header.uninstallKey)},
        {L"--name", header.productName, ARRAYSIZE(header.productName)},
        {L"--startmenu", header.startMenuFolder, ARRAYSIZE(header.startMenuFolder)},
        {L"--installdir", header.installDir, ARRAYSIZE(header.installDir)},
    };
    for (const HeaderField& f : fields) {
        std::wstring value = args.Value(f.option);
        if (!CvStrCopy(f.field, f.cap, value.c_str())) return UsageError(cmd, TooLong(f.option, value.size(), f.cap));
    }
    if (header.installDir[0] && !IsFullPath(header.installDir))
        return UsageError(cmd, std::wstring(L"--installdir") + kFullPathRule + L": " + header.installDir);
    if (header.installDir[0] && CvIsProtectedTree(header.installDir))
        return UsageError(cmd, std::wstring(L"--installdir") + kProtectedRule + L": " + header.installDir);

    // The file list and the shortcut list, in command-line order.
    std::vector<tagUninstallEntry> files, shortcuts;
    for (const Option& o : args.options()) {
        bool isDir = o.name == L"--dir", isShortcut = o.name == L"--shortcut";
        if (!isDir && !isShortcut && o.name != L"--file") continue;
        if (!isShortcut && header.installDir[0])
            return UsageError(cmd, o.name +
                                       L" cannot go with --installdir: with an installation folder the whole "
                                       L"folder is removed and no file list is written");
        std::wstring path = o.value;
        if (!IsFullPath(path)) return UsageError(cmd, o.name + kFullPathRule + L": " + path);
        if (isDir && CvIsProtectedTree(path.c_str())) return UsageError(cmd, o.name + kProtectedRule + L": " + path);
        const wchar_t* note = L"";
        if (isDir && path.back() != L'\\') {
            path += L'\\';
            note = L" with its trailing backslash";
        }
        // The uninstaller does not read isFile of a shortcut; a shortcut is a
        // file, so it says 1.
        tagUninstallEntry entry = {};
        entry.isFile = isDir ? 0 : 1;
        if (!CvStrCopy(entry.path, path.c_str()))
            return UsageError(cmd, TooLong(o.name, path.size(), ARRAYSIZE(entry.path), note));
        (isShortcut ? shortcuts : files).push_back(entry);
    }

    std::string bytes;
    AppendRecord(&bytes, header);
    if (header.installDir[0] == L'\0') {
        AppendCount(&bytes, files.size());
        for (const tagUninstallEntry& e : files) AppendRecord(&bytes, e);
    }
    AppendCount(&bytes, shortcuts.size());
    for (const tagUninstallEntry& e : shortcuts) AppendRecord(&bytes, e);

    if (!WriteFileAtomically(out, bytes, &error)) return Failure(cmd, error);
    Out(L"wrote " + FullPath(out) + L" (" + std::to_wstring(bytes.size()) + L" bytes)");
    return kExitOk;
}

// --- show -------------------------------------------------------------------

// Reads a file front to back, knowing how much of it is left.
class FileCursor {
public:
    bool Open(const std::wstring& path, std::wstring* error)
    {
        file_.reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER size = {};
        if (!file_ || !GetFileSizeEx(file_.get(), &size)) {
            *error = L"cannot open " + path + L": " + SystemMessage(GetLastError());
            return false;
        }
        left_ = static_cast<uint64_t>(size.QuadPart);
        size_ = left_;
        return true;
    }
    uint64_t size() const { return size_; }
    uint64_t left() const { return left_; }
    uint64_t offset() const { return size_ - left_; }
    // A Windows executable or DLL starts with "MZ"; a manifest with its
    // uninstall key, which is no such pair of characters.
    bool IsExecutable()
    {
        char magic[2] = {};
        DWORD got = 0;
        bool mz = ReadFile(file_.get(), magic, 2, &got, nullptr) && got == 2 && magic[0] == 'M' && magic[1] == 'Z';
        SetFilePointer(file_.get(), 0, nullptr, FILE_BEGIN);
        return mz;
    }
    // Reads exactly n bytes; the caller has checked that they are there.
    bool Read(void* buf, DWORD n)
    {
        DWORD got = 0;
        if (!ReadFile(file_.get(), buf, n, &got, nullptr) || got != n) return false;
        left_ -= n;
        return true;
    }

private:
    CvFileHandle file_;
    uint64_t size_ = 0;
    uint64_t left_ = 0;
};

class ManifestPrinter {
public:
    explicit ManifestPrinter(FileCursor* in) : in_(in) {}

    // Prints the manifest up to the first damage; returns false with the
    // damage described in damage().
    bool Print()
    {
        if (in_->left() < sizeof(tagUninstallHeader))
            return Fail(L"the file is " + std::to_wstring(in_->size()) + L" bytes, shorter than the " +
                        std::to_wstring(sizeof(tagUninstallHeader)) + L"-byte header");
        tagUninstallHeader header;
        if (!in_->Read(&header, sizeof(header))) return Fail(L"the header cannot be read");
        struct Field {
            const wchar_t* label;
            const wchar_t* text;
            size_t cap;
            size_t offset;
        } const fields[] = {
            {L"key", header.uninstallKey, ARRAYSIZE(header.uninstallKey), offsetof(tagUninstallHeader, uninstallKey)},
            {L"product", header.productName, ARRAYSIZE(header.productName), offsetof(tagUninstallHeader, productName)},
            {L"start menu", header.startMenuFolder, ARRAYSIZE(header.startMenuFolder),
             offsetof(tagUninstallHeader, startMenuFolder)},
            {L"install dir", header.installDir, ARRAYSIZE(header.installDir), offsetof(tagUninstallHeader, installDir)},
        };
        for (const Field& f : fields) {
            size_t len = CvFieldLen(f.text, f.cap);
            if (len == f.cap)
                return Fail(std::wstring(L"the ") + f.label + L" field (offset " + std::to_wstring(f.offset) + L", " +
                            std::to_wstring(f.cap) + L" characters) has no terminator");
            Out(Label(f.label) + Quoted(f.text, len));
        }

        if (header.installDir[0] == L'\0') {
            if (!PrintList(L"files", true)) return false;
        } else {
            Out(Label(L"files") + L"none: the whole install dir is removed");
        }

        if (in_->left() == 0) {
            Out(Label(L"shortcuts") + L"none (the list is absent)");
            return true;
        }
        if (!PrintList(L"shortcuts", false)) return false;
        if (in_->left() != 0)
            return Fail(std::to_wstring(in_->left()) + L" bytes are left over after the shortcut list (at offset " +
                        std::to_wstring(in_->offset()) + L")");
        return true;
    }

    const std::wstring& damage() const { return damage_; }

private:
    static std::wstring Label(const wchar_t* label)
    {
        std::wstring s = label;
        s += L':';
        s.resize(14, L' ');
        return s;
    }

    bool Fail(const std::wstring& what)
    {
        damage_ = what;
        return false;
    }

    // A count and its entries. The count is checked against what the rest
    // of the file can hold before any entry is read; a last entry that the
    // file cuts short is reported as such.
    bool PrintList(const wchar_t* label, bool withKind)
    {
        std::wstring list = std::wstring(L"the ") + (withKind ? L"file" : L"shortcut") + L" list";
        int32_t count = 0;
        if (in_->left() == 0) return Fail(L"the file ends before the count of " + list);
        if (in_->left() < sizeof(count))
            return Fail(L"the file ends inside the count of " + list + L" (" + std::to_wstring(in_->left()) +
                        L" of 4 bytes)");
        uint64_t at = in_->offset();
        if (!in_->Read(&count, sizeof(count))) return Fail(L"the count of " + list + L" cannot be read");
        // A count of 0 or less means no entries: the uninstaller reads none
        // and goes on with what follows.
        if (count <= 0) {
            Out(Label(label) + L"no entries (count " + std::to_wstring(count) + L")");
            return true;
        }
        const uint64_t entrySize = sizeof(tagUninstallEntry);
        uint64_t whole = in_->left() / entrySize;
        bool lastCut = whole + 1 == static_cast<uint64_t>(count) && in_->left() % entrySize != 0;
        if (static_cast<uint64_t>(count) > whole && !lastCut)
            return Fail(L"the count of " + list + L" is " + std::to_wstring(count) + L" (at offset " +
                        std::to_wstring(at) + L") but the rest of the file holds at most " + std::to_wstring(whole) +
                        L" entries");

        Out(Label(label) + std::to_wstring(count));
        for (int32_t i = 0; i < count; ++i) {
            std::wstring which = L"entry " + std::to_wstring(i + 1) + L" of " + std::to_wstring(count) + L" in " + list;
            if (in_->left() < entrySize)
                return Fail(which + L" is cut short: " + std::to_wstring(in_->left()) + L" of " +
                            std::to_wstring(entrySize) + L" bytes are in the file");
            tagUninstallEntry entry;
            if (!in_->Read(&entry, sizeof(entry))) return Fail(which + L" cannot be read");
            size_t len = CvFieldLen(entry.path, ARRAYSIZE(entry.path));
            if (len == ARRAYSIZE(entry.path)) return Fail(which + L" has a path without terminator");
            std::wstring line = L"  " + std::to_wstring(i + 1) + L". ";
            if (withKind) line += entry.isFile ? L"file " : L"dir  ";
            line += Quoted(entry.path, len);
            if (withKind && len == 0) line += L" (empty: skipped)";
            Out(line);
        }
        return true;
    }

    FileCursor* in_;
    std::wstring damage_;
};

int ShowSettings(const Command& cmd, const std::wstring& path);

int RunShow(const Command& cmd, int argc, wchar_t** argv)
{
    ParsedArgs args;
    std::wstring error;
    if (!args.Parse(argc, argv, {}, &error)) return UsageError(cmd, error);
    if (args.positional().size() != 1) return UsageError(cmd, L"give exactly one manifest file");

    const std::wstring& path = args.positional()[0];
    FileCursor in;
    if (!in.Open(path, &error)) return Failure(cmd, error);
    if (in.IsExecutable()) return ShowSettings(cmd, path);
    Out(L"manifest:     " + FullPath(path) + L" (" + std::to_wstring(in.size()) + L" bytes)");
    ManifestPrinter printer(&in);
    if (!printer.Print()) return Failure(cmd, L"damaged manifest " + path + L": " + printer.damage());
    return kExitOk;
}

// --- settings ---------------------------------------------------------------

// A secondary uninstaller is run from the uninstaller's own folder: its name
// must stay inside that folder.
bool StaysInFolder(const std::wstring& name)
{
    if (name.empty() || name[0] == L'\\' || name[0] == L'/' || name.find(L':') != std::wstring::npos) return false;
    size_t start = 0;
    for (;;) {
        size_t end = name.find_first_of(L"\\/", start);
        std::wstring part = name.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        if (part == L"..") return false;
        if (end == std::wstring::npos) return true;
        start = end + 1;
    }
}

int RunSettings(const Command& cmd, int argc, wchar_t** argv)
{
    ParsedArgs args;
    std::wstring error;
    if (!args.Parse(argc, argv,
                    {{L"--out", false}, {L"--farewell", false}, {L"--secondary", false}, {L"--whole-dir", false, true}},
                    &error))
        return UsageError(cmd, error);
    if (args.positional().size() != 1) return UsageError(cmd, L"give exactly one executable");

    tagUninstallSettings settings;
    memset(&settings, 0, sizeof(settings));  // the other settings stay zero
    std::wstring farewell = args.Value(L"--farewell"), secondary = args.Value(L"--secondary");
    if (!CvStrCopy(settings.farewellUrl, farewell.c_str()))
        return UsageError(cmd, TooLong(L"--farewell", farewell.size(), ARRAYSIZE(settings.farewellUrl)));
    if (!CvStrCopy(settings.secondaryUninstaller, secondary.c_str()))
        return UsageError(cmd, TooLong(L"--secondary", secondary.size(), ARRAYSIZE(settings.secondaryUninstaller)));
    if (!secondary.empty() && !StaysInFolder(secondary))
        return UsageError(cmd, L"--secondary must name a file in the uninstaller's folder (no drive, no leading "
                               L"backslash, no ..): " + secondary);
    settings.removeWholeDir = args.Has(L"--whole-dir") ? 1 : 0;

    std::wstring source = FullPath(args.positional()[0]);
    {
        FileCursor probe;  // closed again before the update, which needs the file to itself
        if (!probe.Open(source, &error)) return Failure(cmd, error);
        if (!probe.IsExecutable()) return Failure(cmd, source + L" is not a Windows executable");
    }
    std::wstring target = source;
    if (args.Has(L"--out")) {
        target = FullPath(args.Value(L"--out"));
        if (!CopyFileW(source.c_str(), target.c_str(), FALSE))
            return Failure(cmd, L"cannot copy " + source + L" to " + target + L": " + SystemMessage(GetLastError()));
    }
    if (!CvResUpdate2(target.c_str(), CV_SETTINGS_ID, CV_SETTINGS_TYPE, &settings, sizeof(settings))) {
        if (target != source) DeleteFileW(target.c_str());
        return Failure(cmd, L"cannot write the settings record into " + target);
    }
    Out(L"wrote the settings record (" + std::to_wstring(sizeof(settings)) + L" bytes, resource BIN " +
        std::to_wstring(CV_SETTINGS_ID) + L") into " + target);
    return kExitOk;
}

int ShowSettings(const Command& cmd, const std::wstring& path)
{
    std::wstring full = FullPath(path);
    Out(L"executable:   " + full);
    int size = CvResSizeEx(full.c_str(), CV_SETTINGS_ID, CV_SETTINGS_TYPE);
    if (size <= 0) {
        Out(L"settings:     none: the uninstaller opens the maker's home page at the end, runs no secondary "
            L"uninstaller and removes the listed entries");
        return kExitOk;
    }
    if (size != static_cast<int>(sizeof(tagUninstallSettings)))
        return Failure(cmd, L"damaged settings record in " + full + L": it is " + std::to_wstring(size) +
                                L" bytes, not " + std::to_wstring(sizeof(tagUninstallSettings)));
    tagUninstallSettings settings;
    memset(&settings, 0, sizeof(settings));
    if (!CvResGetBuffEx(full.c_str(), CV_SETTINGS_ID, CV_SETTINGS_TYPE, &settings, sizeof(settings)))
        return Failure(cmd, L"cannot read the settings record of " + full);
    Out(L"settings:     " + std::to_wstring(size) + L" bytes (resource BIN " + std::to_wstring(CV_SETTINGS_ID) + L")");
    struct Field {
        const wchar_t* label;
        const wchar_t* text;
        size_t cap;
        const wchar_t* whenEmpty;
    } const fields[] = {
        {L"farewell", settings.farewellUrl, ARRAYSIZE(settings.farewellUrl), L" (none: no page is opened)"},
        {L"secondary", settings.secondaryUninstaller, ARRAYSIZE(settings.secondaryUninstaller), L" (none)"},
    };
    for (const Field& f : fields) {
        size_t len = CvFieldLen(f.text, f.cap);
        if (len == f.cap)
            return Failure(cmd, std::wstring(L"damaged settings record in ") + full + L": the " + f.label +
                                    L" field has no terminator");
        std::wstring label = std::wstring(f.label) + L":";
        label.resize(14, L' ');
        Out(label + Quoted(f.text, len) + (len ? L"" : f.whenEmpty));
    }
    Out(std::wstring(L"whole dir:    ") + (settings.removeWholeDir ? L"yes" : L"no"));
    return kExitOk;
}

// --- shortcut ---------------------------------------------------------------

std::wstring HresultText(const wchar_t* step, HRESULT hr)
{
    return std::wstring(step) + L" failed (0x" + Hex(static_cast<uint32_t>(hr), 8) + L")";
}

bool EndsWithLnk(const std::wstring& path)
{
    return path.size() > 4 && CompareStringOrdinal(path.c_str() + path.size() - 4, 4, L".lnk", 4, TRUE) == CSTR_EQUAL;
}

int RunShortcut(const Command& cmd, int argc, wchar_t** argv)
{
    ParsedArgs args;
    std::wstring error;
    if (!args.Parse(argc, argv, {{L"--args", false}, {L"--workdir", false}}, &error)) return UsageError(cmd, error);
    if (args.positional().size() != 2) return UsageError(cmd, L"give the shortcut file and its target");
    std::wstring lnk = FullPath(args.positional()[0]);
    std::wstring target = FullPath(args.positional()[1]);
    if (!EndsWithLnk(lnk)) return UsageError(cmd, L"the shortcut file must end in .lnk: " + lnk);

    // The shortcut's folder is made when missing (a new Start-menu folder).
    std::wstring folder = lnk.substr(0, lnk.rfind(L'\\'));
    int made = SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS && made != ERROR_FILE_EXISTS)
        return Failure(cmd, L"cannot create the folder " + folder + L": " + SystemMessage(made));

    CvComScope com;
    if (!com.usable()) return Failure(cmd, L"COM cannot be used on this thread");
    CvComPtr<IShellLinkW> link;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(link.put()));
    if (FAILED(hr)) return Failure(cmd, HresultText(L"creating the ShellLink object", hr));
    if (FAILED(hr = link.get()->SetPath(target.c_str()))) return Failure(cmd, HresultText(L"SetPath", hr));
    if (args.Has(L"--args") && FAILED(hr = link.get()->SetArguments(args.Value(L"--args").c_str())))
        return Failure(cmd, HresultText(L"SetArguments", hr));
    if (args.Has(L"--workdir") && FAILED(hr = link.get()->SetWorkingDirectory(args.Value(L"--workdir").c_str())))
        return Failure(cmd, HresultText(L"SetWorkingDirectory", hr));

    CvComPtr<IPersistFile> file;
    hr = link.get()->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.put()));
    if (FAILED(hr)) return Failure(cmd, HresultText(L"IPersistFile", hr));
    if (FAILED(hr = file.get()->Save(lnk.c_str(), TRUE)))
        return Failure(cmd, HresultText((L"saving " + lnk).c_str(), hr));
    Out(L"created " + lnk + L" -> " + target);
    return kExitOk;
}

// ---------------------------------------------------------------------------

const Command kCommands[] = {
    {L"manifest",
     L"--out FILE [--key K] [--name N] [--startmenu S] [--installdir D]\n"
     L"                  [--file PATH]... [--dir PATH]... [--shortcut PATH]...",
     RunManifest},
    {L"show", L"FILE", RunShow},
    {L"settings", L"EXE [--out COPY] [--farewell URL] [--secondary FILE] [--whole-dir]", RunSettings},
    {L"shortcut", L"LNK TARGET [--args A] [--workdir W]", RunShortcut},
};

int Usage()
{
    std::wstring text = L"usage:";
    for (const Command& c : kCommands) text += std::wstring(L"\n  cvpack ") + c.name + L" " + c.syntax;
    text +=
        L"\n"
        L"manifest writes an uninstall manifest: --installdir removes that whole folder;\n"
        L"  without it --file and --dir entries (in the order given) form the file list.\n"
        L"show prints a manifest, or the settings record of an executable, or reports\n"
        L"  where it is damaged.\n"
        L"settings writes the settings record (resource BIN 8029) into EXE, or into a\n"
        L"  copy of it made at --out.\n"
        L"shortcut creates a shell shortcut (.lnk), making its folder when missing.\n"
        L"exit codes: 0 done, 1 failed or damaged manifest, 2 bad command line";
    Err(text);
    return kExitUsage;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) return Usage();
    for (const Command& c : kCommands)
        if (wcscmp(argv[1], c.name) == 0) return c.run(c, argc - 2, argv + 2);
    Err(std::wstring(L"cvpack: unknown command ") + argv[1]);
    return Usage();
}
