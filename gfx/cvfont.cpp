#include "gfx/cvfont.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <cstring>

#include "base/cvstr.h"

namespace {

const wchar_t kYaHei[] = L"\x5FAE\x8F6F\x96C5\x9ED1";  // 微软雅黑
const wchar_t kSimSun[] = L"\x5B8B\x4F53";             // 宋体

bool FaceFits(const wchar_t* face) { return wcsnlen(face, CCvFont::kMaxFace + 1) <= CCvFont::kMaxFace; }

}  // namespace

CCvFont& CCvFont::Instance()
{
    static CCvFont font;
    return font;
}

CCvFont::CCvFont()
{
    charSet_ = -1;
    yaHei_ = CheckFont(kYaHei);
    if (yaHei_) {
        defaultFace_ = kYaHei;
        defaultSize_ = 18;
    } else {
        defaultFace_ = kSimSun;
        defaultSize_ = 12;
    }
}

CCvFont::~CCvFont()
{
    for (tagFontInfo& info : cache_) {
        if (info.font) DeleteObject(info.font);
        info.font = nullptr;
    }
}

void CCvFont::SetDefaultFont(int size, const wchar_t* face, int charSet)
{
    defaultSize_ = size;
    if (face && FaceFits(face)) defaultFace_ = face;
    charSet_ = charSet;
}

int CCvFont::CheckFont(const wchar_t* face)
{
    wchar_t folder[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathW(nullptr, folder, CSIDL_FONTS, FALSE)) folder[0] = L'\0';
    if (!face || lstrcmpW(face, kYaHei) != 0) return 0;
    // Without the folder there is nothing to test: "\msyh.ttf" alone would
    // name a file in the root of the current drive.
    if (!folder[0]) return 0;
    for (const wchar_t* file : {L"\\msyh.ttf", L"\\msyh.ttc"}) {
        wchar_t path[MAX_PATH];
        if (!CvStrCopy(path, folder) || !CvStrAppend(path, file)) continue;
        if (PathFileExistsW(path)) return 1;
    }
    return 0;
}

HFONT CCvFont::GetFont(int size, const wchar_t* face, int bold, int underline, int italic)
{
    tagFontInfo key;
    memset(&key, 0, sizeof key);
    key.size = size ? size : defaultSize_;
    key.bold = bold;
    key.underline = underline;
    key.italic = italic;
    const wchar_t* name = face ? face : defaultFace_.c_str();
    if (!FaceFits(name)) return nullptr;
    CvStrCopy(key.faceName, name);

    if (HFONT found = GetFont(key)) return found;
    key.font = CreateNewFont(key);
    // A failed creation leaves no record: a retried request would otherwise
    // add one more null record each time.
    if (key.font) cache_.push_back(key);
    return key.font;
}

HFONT CCvFont::GetFont(const tagFontInfo& key)
{
    for (const tagFontInfo& info : cache_) {
        if (info.size == key.size && info.bold == key.bold && info.underline == key.underline &&
            info.italic == key.italic && lstrcmpW(info.faceName, key.faceName) == 0)
            return info.font;
    }
    return nullptr;
}

HFONT CCvFont::CreateNewFont(const tagFontInfo& key)
{
    LOGFONTW lf;
    memset(&lf, 0, sizeof lf);
    GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf);
    CvStrCopy(lf.lfFaceName, key.faceName);
    lf.lfHeight = key.size;
    lf.lfWeight = key.bold ? FW_BOLD : FW_NORMAL;
    lf.lfUnderline = static_cast<BYTE>(key.underline);
    lf.lfItalic = static_cast<BYTE>(key.italic);
    lf.lfQuality = PROOF_QUALITY;
    // -1 keeps the stock font's set; a value no logical font can hold is not
    // cut down to some other set either.
    if (charSet_ >= 0 && charSet_ <= 255) lf.lfCharSet = static_cast<BYTE>(charSet_);
    return CreateFontIndirectW(&lf);
}
