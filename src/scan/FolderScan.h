#pragma once

#include <string>

#include "scan/FileRecord.h"

namespace norvane {

// Appends the image files of `folder` (and, with `recurse`, of every folder
// below it) to `list`. Returns false when a folder could not be listed.
bool ScanFolder(const std::string& folder, FileList& list, bool recurse, bool gifEnabled,
                bool pngEnabled);

}  // namespace norvane
