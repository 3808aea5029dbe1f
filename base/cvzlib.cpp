#include "base/cvzlib.h"

#include <zlib.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/cvhandle.h"

namespace {

std::atomic<bool> g_ready{false};

constexpr DWORD kLargestInput = 1000000000;
constexpr DWORD kSmallestFirstOutput = 1000000;
constexpr DWORD kLargestOutput = 1000000000;
constexpr unsigned kChunk = 4096;

HRESULT LastError() { return HRESULT_FROM_WIN32(GetLastError()); }

struct FreeDeleter {
    void operator()(void* p) const { free(p); }
};

}  // namespace

CCvZlib& CCvZlib::Instance()
{
    static CCvZlib codec;
    return codec;
}

HRESULT CCvZlib::InitZlib(const wchar_t*)
{
    g_ready = true;
    return S_OK;
}

void CCvZlib::UninitZlib() {}

HRESULT CCvZlib::EncodeFile(const wchar_t* source, const wchar_t* destination, int level)
{
    return Transform(source, destination, true, level, 0);
}

HRESULT CCvZlib::DecodeFile(const wchar_t* source, const wchar_t* destination, DWORD sizeHint)
{
    return Transform(source, destination, false, 0, sizeHint);
}

HRESULT CCvZlib::Transform(const wchar_t* source, const wchar_t* destination, bool encode, int level, DWORD sizeHint)
{
    if (!g_ready) return E_NOINTERFACE;
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_DELETE;
    CvFileHandle in(CreateFileW(source, GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!in) return LastError();
    // From here on a failure leaves the destination empty.
    CvFileHandle out(
        CreateFileW(destination, GENERIC_WRITE, share, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) return LastError();

    LARGE_INTEGER size;
    if (!GetFileSizeEx(in.get(), &size)) return LastError();
    if (size.QuadPart == 0) return S_OK;
    if (size.QuadPart > kLargestInput) return E_FAIL;
    const DWORD inSize = static_cast<DWORD>(size.QuadPart);

    std::unique_ptr<Bytef, FreeDeleter> input(static_cast<Bytef*>(malloc(inSize)));
    if (!input) return E_OUTOFMEMORY;
    DWORD got = 0;
    if (!ReadFile(in.get(), input.get(), inSize, &got, nullptr)) return LastError();
    if (got != inSize) return HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);

    // The decoded size is not stored: start from the hint or a guess and
    // double until the result fits. Only one output buffer is held at a time.
    uint64_t capacity = (!encode && sizeHint) ? sizeHint : (inSize > kSmallestFirstOutput ? inSize : kSmallestFirstOutput);
    std::unique_ptr<Bytef, FreeDeleter> output;
    uLongf produced = 0;
    for (;; capacity *= 2) {
        if (capacity > kLargestOutput) return E_FAIL;
        output.reset();
        output.reset(static_cast<Bytef*>(malloc(static_cast<size_t>(capacity))));
        if (!output) return E_OUTOFMEMORY;
        produced = static_cast<uLongf>(capacity);
        int z = encode ? compress2(output.get(), &produced, input.get(), inSize, level)
                       : uncompress(output.get(), &produced, input.get(), inSize);
        if (z == Z_OK) break;
        if (z != Z_BUF_ERROR) return E_FAIL;
    }

    DWORD written = 0;
    if (!WriteFile(out.get(), output.get(), static_cast<DWORD>(produced), &written, nullptr)) return LastError();
    if (written != produced) return HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
    return S_OK;
}

HRESULT CCvZlib::DecodeGZipBuffer(const BYTE* data, int length, BYTE** out, int* outLength)
{
    if (!g_ready || !out || !outLength) return E_FAIL;
    if (!data || length < 0) return E_FAIL;
    z_stream zs;
    memset(&zs, 0, sizeof(zs));
    if (inflateInit2(&zs, 15 + 32) != Z_OK) return E_FAIL;  // 32 KiB window, gzip or zlib header

    zs.next_in = const_cast<Bytef*>(data);
    zs.avail_in = static_cast<uInt>(length);
    BYTE* result = static_cast<BYTE*>(malloc(1));  // never null on success, even when empty
    size_t total = 0;
    int z = result ? Z_OK : Z_MEM_ERROR;
    while (z == Z_OK) {
        Bytef chunk[kChunk];
        zs.next_out = chunk;
        zs.avail_out = kChunk;
        z = inflate(&zs, Z_NO_FLUSH);
        if (z == Z_NEED_DICT) z = Z_DATA_ERROR;
        if (z != Z_OK && z != Z_STREAM_END) break;
        size_t n = kChunk - zs.avail_out;
        if (n) {
            BYTE* bigger = static_cast<BYTE*>(realloc(result, total + n));
            if (!bigger) {
                z = Z_MEM_ERROR;
                break;
            }
            result = bigger;
            memcpy(result + total, chunk, n);
            total += n;
        }
        if (zs.avail_out != 0) break;  // the chunk was not filled: nothing more for now
    }
    inflateEnd(&zs);
    if (z != Z_STREAM_END || total > 0x7FFFFFFF) {
        free(result);
        *out = nullptr;
        *outLength = 0;
        return E_FAIL;
    }
    *out = result;
    *outLength = static_cast<int>(total);
    return S_OK;
}
