// Scoped owners for platform handles, so that no return path leaks one.
#pragma once
#include <windows.h>
#include <winsvc.h>
#include <cstdio>

template <class Traits>
class CvScoped {
public:
    using T = typename Traits::type;
    CvScoped() noexcept : h_(Traits::invalid()) {}
    explicit CvScoped(T h) noexcept : h_(h) {}
    ~CvScoped() { reset(); }
    CvScoped(CvScoped&& o) noexcept : h_(o.release()) {}
    CvScoped& operator=(CvScoped&& o) noexcept
    {
        if (this != &o) reset(o.release());
        return *this;
    }
    CvScoped(const CvScoped&) = delete;
    CvScoped& operator=(const CvScoped&) = delete;

    T get() const noexcept { return h_; }
    bool valid() const noexcept { return h_ != Traits::invalid(); }
    explicit operator bool() const noexcept { return valid(); }
    T release() noexcept
    {
        T h = h_;
        h_ = Traits::invalid();
        return h;
    }
    // For out-parameters: releases what is held and hands out the slot.
    T* put() noexcept
    {
        reset();
        return &h_;
    }
    void reset(T h = Traits::invalid()) noexcept
    {
        if (h_ != Traits::invalid()) Traits::close(h_);
        h_ = h;
    }

private:
    T h_;
};

struct CvHandleTraits {  // thread, process, event, mapping: null when absent
    using type = HANDLE;
    static type invalid() { return nullptr; }
    static void close(type h) { ::CloseHandle(h); }
};
struct CvFileHandleTraits {  // CreateFileW: INVALID_HANDLE_VALUE when absent
    using type = HANDLE;
    static type invalid() { return INVALID_HANDLE_VALUE; }
    static void close(type h) { ::CloseHandle(h); }
};
struct CvFindTraits {
    using type = HANDLE;
    static type invalid() { return INVALID_HANDLE_VALUE; }
    static void close(type h) { ::FindClose(h); }
};
struct CvRegKeyTraits {
    using type = HKEY;
    static type invalid() { return nullptr; }
    static void close(type h) { ::RegCloseKey(h); }
};
struct CvStdFileTraits {
    using type = FILE*;
    static type invalid() { return nullptr; }
    static void close(type f) { ::fclose(f); }
};
struct CvModuleTraits {  // LoadLibraryExW, data-file loads included
    using type = HMODULE;
    static type invalid() { return nullptr; }
    static void close(type h) { ::FreeLibrary(h); }
};
struct CvMappedViewTraits {  // MapViewOfFile
    using type = void*;
    static type invalid() { return nullptr; }
    static void close(type p) { ::UnmapViewOfFile(p); }
};
template <class I>
struct CvComTraits {  // a COM interface pointer that we hold one reference of
    using type = I*;
    static type invalid() { return nullptr; }
    static void close(type p) { p->Release(); }
};
struct CvServiceTraits {  // OpenSCManagerW, CreateServiceW, OpenServiceW
    using type = SC_HANDLE;
    static type invalid() { return nullptr; }
    static void close(type h) { ::CloseServiceHandle(h); }
};

template <class H>
struct CvGdiTraits {  // fonts, bitmaps, brushes, pens, regions: DeleteObject
    using type = H;
    static type invalid() { return nullptr; }
    static void close(type h) { ::DeleteObject(h); }
};
struct CvMemDCTraits {  // CreateCompatibleDC, CreateDCW: DeleteDC
    using type = HDC;
    static type invalid() { return nullptr; }
    static void close(type h) { ::DeleteDC(h); }
};

using CvHandle = CvScoped<CvHandleTraits>;
using CvFileHandle = CvScoped<CvFileHandleTraits>;
using CvFindHandle = CvScoped<CvFindTraits>;
using CvRegKey = CvScoped<CvRegKeyTraits>;
using CvStdFile = CvScoped<CvStdFileTraits>;
using CvServiceHandle = CvScoped<CvServiceTraits>;
using CvModule = CvScoped<CvModuleTraits>;
using CvMappedView = CvScoped<CvMappedViewTraits>;
template <class I> using CvComPtr = CvScoped<CvComTraits<I>>;
template <class H> using CvGdiObject = CvScoped<CvGdiTraits<H>>;
using CvBitmap = CvGdiObject<HBITMAP>;
using CvMemDC = CvScoped<CvMemDCTraits>;

// COM on the calling thread for one scope. The scope uninitialises COM only
// when its own initialisation succeeded, so a thread that already runs COM in
// another apartment model keeps it. The body lives in cvhandle.cpp, so that
// this header does not pull in the COM headers.
class CvComScope {
public:
    CvComScope() noexcept;  // single-threaded apartment
    ~CvComScope();
    CvComScope(const CvComScope&) = delete;
    CvComScope& operator=(const CvComScope&) = delete;
    // COM can be used: initialised here, or already running on this thread.
    bool usable() const noexcept;

private:
    HRESULT hr_;
};

// Holds a critical section for one scope.
class CvLocked {
public:
    explicit CvLocked(CRITICAL_SECTION& cs) noexcept : cs_(cs) { EnterCriticalSection(&cs_); }
    ~CvLocked() { LeaveCriticalSection(&cs_); }
    CvLocked(const CvLocked&) = delete;
    CvLocked& operator=(const CvLocked&) = delete;

private:
    CRITICAL_SECTION& cs_;
};

// Movable global memory (GlobalAlloc with GMEM_MOVEABLE): GlobalFree.
struct CvGlobalTraits {
    using type = HGLOBAL;
    static type invalid() { return nullptr; }
    static void close(type h) { ::GlobalFree(h); }
};
using CvGlobalMem = CvScoped<CvGlobalTraits>;

// Locks a movable global memory block for one scope. get() is null when the
// block could not be locked (a null handle included).
class CvGlobalLock {
public:
    explicit CvGlobalLock(HGLOBAL h) noexcept : h_(h), p_(h ? ::GlobalLock(h) : nullptr) {}
    ~CvGlobalLock()
    {
        if (p_) ::GlobalUnlock(h_);
    }
    CvGlobalLock(const CvGlobalLock&) = delete;
    CvGlobalLock& operator=(const CvGlobalLock&) = delete;
    void* get() const noexcept { return p_; }

private:
    HGLOBAL h_;
    void* p_;
};

// An owner whose release is one plain function of the handle, for handle
// families that have no traits of their own above (for example GDI+ objects:
// CvOwned<GpImage*, &GdipDisposeImage>). The function's result is ignored.
template <class T, auto Close>
struct CvFnTraits {
    using type = T;
    static type invalid() { return nullptr; }
    static void close(type h) { Close(h); }
};
template <class T, auto Close> using CvOwned = CvScoped<CvFnTraits<T, Close>>;

// A window's device context (GetDC) for one scope: ReleaseDC.
class CvWindowDC {
public:
    explicit CvWindowDC(HWND wnd) noexcept : wnd_(wnd), dc_(::GetDC(wnd)) {}
    ~CvWindowDC()
    {
        if (dc_) ::ReleaseDC(wnd_, dc_);
    }
    CvWindowDC(const CvWindowDC&) = delete;
    CvWindowDC& operator=(const CvWindowDC&) = delete;
    HDC get() const noexcept { return dc_; }

private:
    HWND wnd_;
    HDC dc_;
};

// An object selected into a device context for one scope; the previous one
// is selected back when the scope ends or on restore().
class CvSelected {
public:
    CvSelected(HDC dc, HGDIOBJ obj) noexcept : dc_(dc), old_(::SelectObject(dc, obj)) {}
    ~CvSelected() { restore(); }
    CvSelected(const CvSelected&) = delete;
    CvSelected& operator=(const CvSelected&) = delete;
    // Whether the selection succeeded.
    bool ok() const noexcept { return old_ != nullptr && old_ != HGDI_ERROR; }
    void restore() noexcept
    {
        if (ok()) ::SelectObject(dc_, old_);
        old_ = nullptr;
    }

private:
    HDC dc_;
    HGDIOBJ old_;
};
