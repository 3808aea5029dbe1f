#include "app/manifest.h"

#include <cstdio>
#include <cstring>

#include "app/manifest_io.h"
#include "base/cvhandle.h"

void CvTerminateHeader(tagUninstallHeader* header)
{
    CvTerminateField(header->uninstallKey);
    CvTerminateField(header->productName);
    CvTerminateField(header->startMenuFolder);
    CvTerminateField(header->installDir);
}

size_t CvReadEntry(FILE* file, tagUninstallEntry* entry)
{
    memset(entry, 0, sizeof(*entry));
    size_t got = fread(entry, 1, sizeof(*entry), file);
    CvTerminateField(entry->path);
    return got;
}

int CvReadUninstallHeader(const wchar_t* path, tagUninstallHeader* header)
{
    memset(header, 0, sizeof(*header));
    CvStdFile file(_wfopen(path, L"rb"));
    if (!file) return 0;
    fread(header, 1, sizeof(*header), file.get());
    CvTerminateHeader(header);
    return 1;
}
