// The uninstall run: the fixed order of one uninstall on the worker thread.
#include <shlwapi.h>

#include <cstring>

#include "app/report.h"
#include "app/uninstaller.h"
#include "base/cvres.h"
#include "base/cvstr.h"
#include "sys/cvproc.h"
#include "ui/cvthread.h"

namespace {

const wchar_t kSilentParameters[] =
    L"/s /S /SILENT /silent /quiet /noreboot /verysilent /sp /norestart /q /qn /SilentInstall";

}  // namespace

void CCvUninstaller::StartUninstall(HWND window, int threaded)
{
    notifyWnd = window;
    if (threaded)
        CCvThread::Instance().StartThread(&CCvUninstaller::UninstallThread, this, 1);
    else
        UninstallFunc();
}

unsigned __stdcall CCvUninstaller::UninstallThread(void* param)
{
    CCvUninstaller* engine = static_cast<CCvUninstaller*>(param);
    Sleep(300);
    engine->UninstallFunc();
    PostMessageW(engine->notifyWnd, WM_UNINSTALL_PROGRESS, 100, 0);
    return 0;
}

bool CCvUninstaller::UninstallFunc()
{
    // 1. The settings record, read into its 1984 bytes and no further.
    memset(&settings, 0, sizeof(settings));
    settingsFound = CvResGetBuff(CV_SETTINGS_ID, CV_SETTINGS_TYPE, &settings, sizeof(settings));
    CvTerminateField(settings.farewellUrl);
    CvTerminateField(settings.secondaryUninstaller);

    // 2. The product's own uninstaller, hidden and silent, waited for.
    if (settingsFound && settings.secondaryUninstaller[0]) {
        wchar_t path[MAX_PATH];
        if (CvStrCopy(path, programDir) && CvStrAppend(path, settings.secondaryUninstaller) && PathFileExistsW(path))
            DoRun(path, kSilentParameters, 1, SW_HIDE);
    }

    // 3-6. The manifest; without it there is nothing to do.
    wchar_t manifest[MAX_PATH];
    if (!CvStrCopy(manifest, programDir) || !CvStrAppend(manifest, CV_MANIFEST_NAME) || !ReadManifest(manifest)) {
        PostMessageW(notifyWnd, WM_UNINSTALL_PROGRESS, 100, 0);
        return false;
    }

    // 7. The report.
    DoReport(CvReportEndpoint(), L"uninstall", header.productName);

    // 8. The whole folder, or the listed entries.
    if (header.installDir[0] || (settingsFound && settings.removeWholeDir)) {
        doneFiles = 0;
        totalFiles = CountFiles(programDir);
        DelDir(programDir);
    } else {
        for (const tagUninstallEntry& entry : files) {
            if (entry.isFile)
                DeleteFileW(entry.path);
            else
                DelDir(entry.path);
        }
    }

    // 9-10. The uninstall key, the Start-menu folder and the shortcuts.
    ClearReg(header.uninstallKey);
    DelShortcut();
    return true;
}
