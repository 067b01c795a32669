// Moving one image file into the move folder without ever losing or
// replacing a file.
#pragma once

#include <string>
#include <string_view>

namespace norvane {

// Outcome of a move: error 0 on success, otherwise the errno value of the
// call that failed. `destination` is the full path the file now has.
struct MoveResult {
  int error = 0;
  std::string destination;
  bool ok() const { return error == 0; }
};

// Highest number tried for a free name before the move gives up with EEXIST.
inline constexpr int kMaxFreeNameNumber = 9999;

// The name used for the n-th attempt (n >= 2): "stem (n).ext", where ext is
// the part from the last dot on. A name without a dot (or with its only dot
// at the start) gets " (n)" at the end. n < 2 gives the name unchanged.
std::string NumberedName(std::string_view name, int n);

// The part of `path` after its last '/'.
std::string_view FileNameOf(std::string_view path);

// Moves the file `source` into `folder` under its own name, or under the
// first free NumberedName when the folder already holds that name; an
// existing file is never replaced. Within one file system the file is
// renamed (atomically, RENAME_NOREPLACE); across file systems it is copied,
// flushed to disk, checked for its size and only then deleted. A copy that
// fails is removed and the source kept; a source that cannot be deleted after
// the copy makes the move fail and the copy is removed again.
// Refused: an empty folder (ENOENT), a folder that is the source's own
// folder (EEXIST: the file is already there).
MoveResult MoveFileToFolder(const std::string& source, const std::string& folder);

// The system's message for an errno value.
std::string ErrorText(int error);

}  // namespace norvane
