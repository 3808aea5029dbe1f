// Started by the engine tests from wherever they copy it: reports what the
// engine makes of the folder it runs from, and tries to remove that folder
// as a whole tree when it counted nothing there (which is what a protected
// place must give) or when --allow-delete is given.
#include <cstdio>
#include <cwchar>

#include "app/uninstaller.h"
#include "engine_access.h"
#include "shell/folders.h"

int wmain(int argc, wchar_t** argv)
{
    bool allowDelete = argc > 1 && wcscmp(argv[1], L"--allow-delete") == 0;
    CCvUninstaller engine;
    int count = CCvUninstallerTestAccess::CountFiles(engine, engine.programDir);
    printf("protected=%d\ncount=%d\n", CvIsProtectedTree(engine.programDir) ? 1 : 0, count);
    if (count == 0 || allowDelete) {
        engine.totalFiles = count;
        bool removed = CCvUninstallerTestAccess::DelDir(engine, engine.programDir);
        printf("deldir=%d\ndone=%d\n", removed ? 1 : 0, engine.doneFiles);
    }
    return 0;
}
