// Small file chores: whole-buffer file reading and writing, folder creation,
// file facts, folder and volume sizes, and size texts ("1.50 KB").
// All paths are wide strings. Results are 1 for success and 0 for failure.
#pragma once
#include <windows.h>

#include <cstddef>

// Creates the file, or empties an existing one (its attributes, hidden or
// system included, are kept), and writes `size` bytes from `data` in one
// write. 1 only when every byte was written; 0 when the file cannot be
// opened or the write fails or falls short. A null `data` is allowed only
// with size 0 (the file is then left empty).
int CvWriteFile(const wchar_t* path, const void* data, DWORD size);

// Reads up to `size` bytes from the start of the file into `buffer` and sets
// `size` to the number of bytes read. 0, with `size` unchanged, when the file
// cannot be opened (a directory cannot) or the read fails.
int CvReadFile(const wchar_t* path, void* buffer, DWORD& size);

// 1 when the path exists and is a directory; 0 otherwise, null included.
int isDir(const wchar_t* path);

// The file's size in bytes; 0 when it cannot be queried (and for folders).
long long FileSize(const wchar_t* path);

// Creation, last-write and last-access times of a file, in local time, into
// each record whose pointer is not null. 0 for a null path or a file that
// cannot be opened for reading (directories cannot).
int FileTime(const wchar_t* path, SYSTEMTIME* created, SYSTEMTIME* modified, SYSTEMTIME* accessed);

// Creates one directory. 0 when it exists already or its parent is missing.
int CreateFolder(const wchar_t* path);

// Creates every missing directory of the directory part of `path`, which is
// everything before its last backslash: the last component names a file and
// is never created, so a folder path must end with a backslash to be created
// whole. A path without a backslash has nothing to create and gives 1.
// Otherwise 1 when the directory part exists as a directory at the end, 0
// when it does not (a piece blocked by a file, a missing drive or share, a
// directory part of 260 characters or more). A leading "\" (root of the
// current drive), a UNC "\\server\share\" and the "\\?\" forms are kept as
// they are; server and share are never created.
int CreateDirTree(const wchar_t* path);

// In place: when the text has a backslash after its first character, keeps
// everything up to and including the last backslash and then removes every
// double quote; otherwise leaves the text unchanged.
// "\"C:\App\app.exe\" -x" becomes "C:\App\".
void ExtractPath(wchar_t* path);

// A text of exactly three characters is taken as a volume root ("C:\"): its
// total size minus the bytes available to the caller. Any other text is a
// folder, measured by the Windows Script Runtime's FileSystemObject (its
// Folder.Size). 0 for an empty or null path and on any failure (no such
// folder, a file, an unreadable tree, no FileSystemObject). The calling
// thread's COM state is left as it was found.
unsigned long long GetPathUseSpace(const wchar_t* path);

// Size texts: "%4.2f GB" above 1 GB, "%4.2f MB" above 1 MB, "%4.2f KB" above
// 1 KB, else "%d B" (the boundaries belong to the smaller unit: 1024 is
// "1024 B"). The longest text has 16 characters; kCvSizeTextChars always
// suffices. The bounded form cuts the text to fit and always terminates.
constexpr size_t kCvSizeTextChars = 32;
void IntToStrSize(long long size, wchar_t* text);
void IntToStrSize(long long size, wchar_t* text, size_t capacity);

// Reads a size text back: the whole number before the first space (any
// fraction dropped) times the unit found in the rest of the upper-cased text
// after its first character, G before M before K before B. "1.50 GB" gives
// 1073741824 and "512 B" gives 512. 0 for a text without a space, without a
// unit, or whose value does not fit in 64 bits.
long long StrToIntSize(const wchar_t* text);
