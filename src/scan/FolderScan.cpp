#include "scan/FolderScan.h"

namespace norvane {

bool ScanFolder(const std::string&, FileList&, bool, bool, bool) { return false; }

}  // namespace norvane
