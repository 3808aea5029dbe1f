// Shared pieces of the manifest readers.
#pragma once
#include <cstdio>

#include "app/uninstall_types.h"
#include "base/cvstr.h"

// Terminates every string field of a header read from a file: a field that
// fills its width without a terminator would otherwise run on into the next.
void CvTerminateHeader(tagUninstallHeader* header);

// Zeroes the entry, reads up to 524 bytes of it, terminates its path and
// returns how many bytes were read.
size_t CvReadEntry(FILE* file, tagUninstallEntry* entry);
