// Named shared-memory areas: file mappings backed by the paging file, shared
// between processes by name. An area lives while some process holds a handle
// to it; CreateShareMem returns the creator's handle.
//
// Every access below opens the area by name, maps it, copies and closes it
// again; no handle is kept between calls. Positions are checked against the
// committed, accessible part of the mapped view (asked of the system for each
// call), so a position or length beyond the area's end gives 0 and copies
// nothing, as does an area whose pages cannot be reached. The system maps
// whole pages: an area created with a size that is not a multiple of the page
// size (4096 bytes) can be used up to the end of its last page, whose unused
// tail reads as zeros.
//
// Text in an area is UTF-16; text positions count characters, block
// positions count bytes. Concurrent writers are not coordinated here.
#pragma once
#include <windows.h>

#include <cstddef>

// Creates the named area of `size` bytes, or opens it when it exists already
// (its size is then the one it was created with). The handle, or null on
// failure (a null or empty name, size 0, a name used by another kind of
// object).
HANDLE CreateShareMem(const wchar_t* name, DWORD size);

// 1 when an area of that name exists and can be opened with full access.
int isExistsShareMem(const wchar_t* name);

// Copies `text` with its terminating NUL into the area, starting at character
// `index`. 0 when the area cannot be opened or mapped, or the text and its
// NUL do not fit in the area from there (nothing is written then).
int WriteShareMem(const wchar_t* name, const wchar_t* text, int index);

// Copies the NUL-terminated text at the start of the area into `text`, which
// must hold it: an area's text is never longer than the area. 0, writing
// nothing, when the area cannot be opened or mapped or holds no NUL.
int ReadShareMem(const wchar_t* name, wchar_t* text);

// Bounded form: `text` holds `capacity` characters. A longer text is cut to
// capacity - 1 characters and terminated, and the result is 0, as with
// CvStrCopy; 1 when the whole text fit.
int ReadShareMem(const wchar_t* name, wchar_t* text, size_t capacity);

// Copies `size` bytes between the caller's `data` and the area at byte
// `offset`. 0, copying nothing, when the area cannot be opened or mapped,
// `size` or `offset` is negative, or the range passes the area's end.
int WriteShareMem2(const wchar_t* name, const void* data, int size, int offset);
int ReadShareMem2(const wchar_t* name, void* data, int size, int offset);
