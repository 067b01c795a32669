#include "move/MoveAway.h"

#include <utility>

#include "move/FileMove.h"
#include "move/Trash.h"

namespace norvane {

MoveOutcome MoveAway(const std::string& path, bool toTrash, const std::string& moveFolder) {
  MoveOutcome outcome;
  if (!toTrash) {
    const MoveResult result = MoveFileToFolder(path, moveFolder);
    outcome.ok = result.ok();
    if (!outcome.ok) outcome.errorText = ErrorText(result.error);
    outcome.destination = result.destination;
    return outcome;
  }
  TrashResult trashed = MoveToTrash(path);
  outcome.ok = trashed.ok;
  if (!outcome.ok) outcome.errorText = std::move(trashed.message);
  return outcome;
}

}  // namespace norvane
