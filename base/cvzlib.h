// The compression codec: whole files to and from one zlib stream, and gzip
// or zlib memory buffers decoded.
#pragma once
#include <windows.h>

class CCvZlib {
public:
    static CCvZlib& Instance();

    // Makes the codec ready (process-wide, for good). The path is not used.
    HRESULT InitZlib(const wchar_t* path);
    // Does nothing: the codec stays ready.
    void UninitZlib();

    // Compresses the file `source` into `destination` (replaced) as one zlib
    // stream at `level` (-1 for zlib's default, 0..9).
    HRESULT EncodeFile(const wchar_t* source, const wchar_t* destination, int level);
    // Decompresses one zlib stream from `source` into `destination`.
    // `sizeHint` is the expected decoded size, or 0.
    HRESULT DecodeFile(const wchar_t* source, const wchar_t* destination, DWORD sizeHint);
    // Decodes a gzip member or a zlib stream. On S_OK, *out is a malloc'ed
    // buffer (the caller frees it) of *outLength bytes; on E_FAIL *out is
    // null and *outLength 0.
    HRESULT DecodeGZipBuffer(const BYTE* data, int length, BYTE** out, int* outLength);

private:
    CCvZlib() = default;
    HRESULT Transform(const wchar_t* source, const wchar_t* destination, bool encode, int level, DWORD sizeHint);
};
