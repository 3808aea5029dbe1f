// Reaches the engine's private tree operations from the tests.
#pragma once
#include "app/uninstaller.h"

struct CCvUninstallerTestAccess {
    static int CountFiles(CCvUninstaller& u, const wchar_t* dir) { return u.CountFiles(dir); }
    static bool DelDir(CCvUninstaller& u, const wchar_t* dir) { return u.DelDir(dir); }
};
