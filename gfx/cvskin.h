// The skin service: where the toolkit's images come from (built-in
// resources, a themes folder of loose files, or a skin package), and the
// skin package file itself.
//
// A skin package is a plain sequence of entries, each immediately followed by
// the next, until the end of the file (integers little-endian):
//   offset 0   60 bytes  entry name, UTF-16LE, NUL-terminated, rest zero,
//                        at most 29 characters
//   offset 60   4 bytes  data size N, unsigned
//   offset 64   N bytes  data: the whole source file, unchanged
#pragma once
#include <windows.h>
#include <objidl.h>

#include <cstddef>
#include <vector>

#include "base/cvhandle.h"

// One cached package entry: the name it was found under and a stream over a
// private copy of its data. The cache holds one reference to the stream.
struct tagCvSkinRes {
    wchar_t name[30];
    CvComPtr<IStream> stream;
};

class CCvSkin {
public:
    // Resource modes (GetResType).
    static constexpr int kResBuiltIn = 0;  // the executable's "IMG" resources
    static constexpr int kResThemes = 1;   // loose files in the themes folder
    static constexpr int kResSkin = 2;     // entries of the loaded package

    // Entry header: 60-byte name field, then the 4-byte data size.
    static constexpr size_t kNameChars = 30;  // field width, terminator included
    static constexpr size_t kMaxName = kNameChars - 1;
    static constexpr size_t kHeaderSize = 64;
    // The package file that LoadSkin opens, inside the skin folder
    // ("<application folder>Skins\<name>\skin.dat").
    static constexpr const wchar_t* kPackageFile = L"skin.dat";
    // Larger package files are refused by LoadSkin; larger source files are
    // left out by MakeSkin.
    static constexpr DWORD kMaxPackageSize = 256u * 1024u * 1024u;

    static CCvSkin& Instance();

    CCvSkin();
    ~CCvSkin();
    // The package block and the cached streams are owned here: a copy would
    // free them a second time.
    CCvSkin(const CCvSkin&) = delete;
    CCvSkin& operator=(const CCvSkin&) = delete;

    void SetResType(int mode) { resType_ = mode; }
    int GetResType() const { return resType_; }

    // Themes path <- "%sThemes\%s\" (application folder, name); mode <- 1.
    // A path that would pass 259 characters leaves the themes path empty; a
    // null name counts as empty.
    void SetThemesName(const wchar_t* name);
    // Skin path <- "%sSkins\%s\" (application folder, name); mode <- 2.
    // Same limits as SetThemesName.
    void SetSkinName(const wchar_t* name);
    // Copies the themes path into `path` (260 characters).
    void GetThemesPath(wchar_t* path) const;
    // Copies the skin path into `path` (260 characters).
    void GetSkinPath(wchar_t* path) const;

    // Frees any loaded package, takes the name (when not null) through
    // SetSkinName, and loads the package file kPackageFile in the skin
    // folder whole into memory. False when the file cannot be opened or read
    // whole, is larger than kMaxPackageSize, or is damaged: its entries do not
    // fill it exactly (a truncated header, a size that runs past the end) or
    // a name field lacks its terminator. Nothing stays loaded after a false.
    bool LoadSkin(const wchar_t* name);
    // Frees the package and releases every cached stream.
    void FreeSkin();
    // Number of bytes in the loaded package (0 when none is loaded).
    int GetPackageSize() const { return packageSize_; }

    // The stream of the named entry (case-sensitive; the first of equal
    // names), positioned at its start. The cache keeps owning it: the caller
    // does not release it, and it is gone after FreeSkin or the next
    // LoadSkin. False and a null stream when there is no such entry; a name
    // longer than kMaxName characters names no entry.
    bool GetRes(const wchar_t* name, IStream*& stream);

    // Writes a package at `packFile` from every file directly in `folder`
    // (which ends with a backslash), in the order of enumeration. Entry names
    // are the file names up to their first "." (empty without a dot or for a
    // leading dot), cut to kMaxName characters. Files that cannot be read are
    // left out (the package file itself among them). False when the package
    // cannot be created, the folder cannot be enumerated (the package is then
    // left empty) or a write fails (the package is then deleted).
    bool MakeSkin(const wchar_t* folder, const wchar_t* packFile);

    // Number of records in the entry cache.
    size_t GetCacheCount() const { return cache_.size(); }

private:
    // Appends one entry; false only when writing to the package fails.
    bool WriteSkin(HANDLE file, const wchar_t* path);
    bool FindRes(const wchar_t* name, IStream*& stream);

    wchar_t skinPath_[MAX_PATH] = {};
    wchar_t themesPath_[MAX_PATH] = {};
    CvGlobalMem package_;
    int packageSize_ = 0;
    int resType_ = kResBuiltIn;
    std::vector<tagCvSkinRes> cache_;
};
