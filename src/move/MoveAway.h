// Moving one image away, into the move folder or the desktop's trash: what
// the window's single and batch moves and the console's moves all do.
#pragma once

#include <functional>
#include <string>

namespace norvane {

struct MoveOutcome {
  bool ok = false;
  std::string errorText;    // the system's reason when not ok
  std::string destination;  // the image's new path after a move into a folder
};

// Moves one image away: into the desktop's trash when `toTrash` is set,
// otherwise into `moveFolder` under a free name. A file the trash refuses
// stays where it is; nothing is ever deleted instead.
MoveOutcome MoveAway(const std::string& path, bool toTrash, const std::string& moveFolder);

// Moves one image away; the caller binds the trash choice and the folder.
using Mover = std::function<MoveOutcome(const std::string& path)>;

}  // namespace norvane
