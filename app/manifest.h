// Readers of the uninstall manifest.
#pragma once
#include "app/uninstall_types.h"

// The window's read at start-up: zeroes the header and fills it from the
// first 760 bytes of the manifest at `path` (missing bytes stay zero).
// Returns 1 when the file could be opened, 0 otherwise. Every string field
// comes back terminated inside its field.
int CvReadUninstallHeader(const wchar_t* path, tagUninstallHeader* header);
