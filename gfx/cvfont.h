// The font cache: one GDI font per distinct request, owned by the cache for
// the life of the process.
#pragma once
#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

// A cache record and its lookup key.
struct tagFontInfo {
    wchar_t faceName[50];
    int size;       // height of the logical font, used unchanged
    int bold;       // non-zero: FW_BOLD
    int underline;  // 0 or 1
    int italic;     // 0 or 1
    HFONT font;     // the handle created for this key
};

class CCvFont {
public:
    // The longest face name a logical font holds (LF_FACESIZE less the
    // terminator). Longer names are refused, never cut.
    static constexpr size_t kMaxFace = LF_FACESIZE - 1;

    static CCvFont& Instance();

    CCvFont();
    ~CCvFont();
    // The cache owns its handles: a copy would delete them a second time.
    CCvFont(const CCvFont&) = delete;
    CCvFont& operator=(const CCvFont&) = delete;

    // Sets the default size, face and character set (-1 keeps the stock GUI
    // font's). Cached fonts stay. A null face, or one longer than kMaxFace,
    // leaves the default face as it was.
    void SetDefaultFont(int size, const wchar_t* face, int charSet);
    int GetDefaultSize() const { return defaultSize_; }
    const wchar_t* GetDefaultFace() const { return defaultFace_.c_str(); }
    int GetCharSet() const { return charSet_; }
    int isSupportYaHei() const { return yaHei_; }
    // 1 when face is "微软雅黑" and msyh.ttf or msyh.ttc lies in the Fonts
    // folder; 0 for every other face.
    int CheckFont(const wchar_t* face);

    // The cached font for the request, created on first use. Size 0 means the
    // default size, a null face the default face (an empty face stays empty).
    // Null when the face is longer than kMaxFace or the font cannot be made;
    // such a request leaves no record behind.
    HFONT GetFont(int size, const wchar_t* face, int bold, int underline, int italic);

    // Number of records in the cache (one per distinct request).
    size_t GetCacheCount() const { return cache_.size(); }

private:
    HFONT GetFont(const tagFontInfo& key);
    HFONT CreateNewFont(const tagFontInfo& key);

    std::wstring defaultFace_;
    int yaHei_ = 0;
    std::vector<tagFontInfo> cache_;
    int defaultSize_ = 0;
    int charSet_ = -1;
};
