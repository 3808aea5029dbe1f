// The uninstall manifest (cvUninstall.dat) and the settings record (resource
// "BIN" 8029), byte for byte as the product's installer writes them.
// Integers are little-endian, strings UTF-16LE, NUL-terminated and
// zero-padded inside their fields.
#pragma once
#include <cstddef>
#include <cstdint>

#define CV_MANIFEST_NAME L"cvUninstall.dat"
#define CV_SETTINGS_ID 8029
#define CV_SETTINGS_TYPE L"BIN"

#pragma pack(push, 4)

struct tagUninstallHeader {
    wchar_t uninstallKey[100];    // key under ...\CurrentVersion\Uninstall\ (HKLM)
    wchar_t productName[50];      // display name; base name of the desktop shortcut
    wchar_t startMenuFolder[30];  // folder directly under the Start-menu Programs folder
    wchar_t installDir[200];      // empty: a file list follows the header
};

struct tagUninstallEntry {
    int32_t isFile;      // non-zero: file; 0: directory (path ends in '\')
    wchar_t path[260];
};

struct tagUninstallSettings {
    uint8_t other[1060];               // not read by the uninstaller
    wchar_t farewellUrl[200];          // opened at the end; empty: none
    wchar_t secondaryUninstaller[260]; // relative to the uninstaller's folder
    int32_t removeWholeDir;            // non-zero: remove the whole folder
};

#pragma pack(pop)

static_assert(sizeof(wchar_t) == 2, "records hold UTF-16 text");
static_assert(sizeof(tagUninstallHeader) == 760, "header layout");
static_assert(sizeof(tagUninstallEntry) == 524, "entry layout");
static_assert(sizeof(tagUninstallSettings) == 1984, "settings layout");
static_assert(offsetof(tagUninstallHeader, productName) == 200, "header layout");
static_assert(offsetof(tagUninstallHeader, startMenuFolder) == 300, "header layout");
static_assert(offsetof(tagUninstallHeader, installDir) == 360, "header layout");
static_assert(offsetof(tagUninstallEntry, path) == 4, "entry layout");
static_assert(offsetof(tagUninstallSettings, farewellUrl) == 1060, "settings layout");
static_assert(offsetof(tagUninstallSettings, secondaryUninstaller) == 1460, "settings layout");
static_assert(offsetof(tagUninstallSettings, removeWholeDir) == 1980, "settings layout");
