// Resources: reading those of the running executable or of a module file,
// and writing resources into a module file.
//
// A resource is named by an integer id (1 to 65535, used as an integer
// resource name; other ids give 0) and a type (a string such as L"BIN", or an
// integer type made with MAKEINTRESOURCEW). Reading uses the system's default
// language lookup; writing stores the language-neutral (0) entry.
//
// Module files are loaded as image resources only: none of their code runs,
// and they are released again before the call returns, so the file can be
// updated or deleted afterwards. A module that cannot be loaded gives 0; the
// running executable is never read in its place.
#pragma once
#include <windows.h>
#include <objidl.h>

// Copies the whole resource of the running executable into `buffer`, which
// must hold CvResSize(id, type) bytes. 0, writing nothing, when there is no
// such resource or it cannot be loaded.
int CvResGetBuff(int id, const wchar_t* type, void* buffer);

// Bounded form: copies at most `capacity` bytes. A larger resource gives its
// first `capacity` bytes; a smaller one is copied whole and the rest of the
// area is left untouched (callers zero it first when they want zeros). The
// result is 1 whenever the resource was found and copied, cut or not.
int CvResGetBuff(int id, const wchar_t* type, void* buffer, DWORD capacity);

// The same for a module file (an .exe or .dll path, or a module name found on
// the usual library search path).
int CvResGetBuffEx(const wchar_t* module, int id, const wchar_t* type, void* buffer);
int CvResGetBuffEx(const wchar_t* module, int id, const wchar_t* type, void* buffer, DWORD capacity);

// The resource's size in bytes; 0 when it is absent.
int CvResSize(int id, const wchar_t* type);
int CvResSizeEx(const wchar_t* module, int id, const wchar_t* type);

// Writes the resource to the file `path` with CvWriteFile. 1 when the
// resource was found and all of it was written, else 0.
int CvResSave(int id, const wchar_t* type, const wchar_t* path);
int CvResSaveEx(const wchar_t* module, int id, const wchar_t* type, const wchar_t* path);

// A new memory stream, positioned at its start, holding a copy of the
// resource of the running executable; the caller releases it, and the stream
// frees its memory then. Null when the resource is absent or memory is short.
IStream* CvResGetStream(int id, const wchar_t* type);

// Stores the whole content of the file `source` as the resource in the
// module file `target`, keeping its other resources and replacing an
// existing entry of the same type, id and language. 1 when the update was
// written; 0 when the source cannot be read, the target cannot be opened for
// updating, the resource cannot be added, or the commit fails (the target is
// then left as it was).
int CvResUpdate(const wchar_t* target, int id, const wchar_t* type, const wchar_t* source);

// The same with `size` bytes from memory; `data` must not be null and
// `size` must not be negative (an empty resource needs a non-null `data`).
int CvResUpdate2(const wchar_t* target, int id, const wchar_t* type, const void* data, int size);
