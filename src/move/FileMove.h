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
// renamed (atomically, RENAME_NOREPLACE); across file systems MoveByCopy
// takes over.
// Refused: an empty folder (ENOENT), a folder that is the source's own
// folder (EEXIST: the file is already there).
MoveResult MoveFileToFolder(const std::string& source, const std::string& folder);

// Where MoveByCopy builds the copy before it gets its name: an unnamed file
// of the folder (O_TMPFILE; where the file system has none, a hidden name is
// used instead), or straight away a hidden temporary name.
enum class CopyStaging { kUnnamedFile, kHiddenName };

// The move between file systems (it works within one just as well): the file
// is copied into `folder` where no one sees it, flushed to disk and checked
// for its size, then given its own name or the first free NumberedName
// without ever replacing a file, and only then the source is deleted. A copy
// that fails or is cut off never appears under a name a user would take for
// the image, and the source stays; a source that cannot be deleted makes the
// move fail and the copy goes again. The caller has made the checks of
// MoveFileToFolder.
MoveResult MoveByCopy(const std::string& source, const std::string& folder,
                      CopyStaging staging = CopyStaging::kUnnamedFile);

// The system's message for an errno value.
std::string ErrorText(int error);

}  // namespace norvane
