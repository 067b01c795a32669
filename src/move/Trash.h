// Sending one image to the desktop's trash, where the user can restore it.
#pragma once

#include <string>

namespace norvane {

// Outcome of a trash request: on failure `message` holds the reason as the
// system or the trash implementation words it.
struct TrashResult {
  bool ok = false;
  std::string message;
};

// Moves the file named by the bytes `path` into the trash the desktop uses
// for it: the home trash (created when missing) for files on the home's file
// system, the volume's own trash folder for others. The trash records where
// the file came from so it can be restored; when that record cannot be
// written, or the trash cannot take the file, nothing changes and the call
// fails. The file is never deleted instead and never put anywhere else.
TrashResult MoveToTrash(const std::string& path);

}  // namespace norvane
