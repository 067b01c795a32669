#include "move/Trash.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>  // renameat2
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <optional>
#include <vector>

#include <gio/gio.h>

#include "base/FileDescriptor.h"
#include "move/FileMove.h"

namespace norvane {

namespace {

struct ObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
struct ErrorFree {
  void operator()(GError* error) const { g_error_free(error); }
};
struct Free {
  void operator()(gpointer memory) const { g_free(memory); }
};
struct DirClose {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

std::string ParentOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

// Where the trash keeps a file of device `device`, as GIO chooses it: the
// home trash for the home's file system, otherwise the trash folders at the
// top of the file's own file system. Also the path the note records: full,
// or relative to the top of the file system.
struct TrashPlace {
  std::vector<std::string> folders;
  std::string notedPath;
};

TrashPlace PlaceFor(const std::string& path, dev_t device) {
  TrashPlace place;
  struct stat home{};
  if (::stat(g_get_home_dir(), &home) == 0 && home.st_dev == device) {
    place.folders.push_back(std::string(g_get_user_data_dir()) + "/Trash");
    place.notedPath = path;
    return place;
  }
  std::string top = ParentOf(path);
  for (;;) {
    const std::string parent = ParentOf(top);
    struct stat st{};
    if (top == "/" || ::stat(parent.c_str(), &st) != 0 || st.st_dev != device) break;
    top = parent;
  }
  const std::string uid = std::to_string(::getuid());
  const std::string prefix = top == "/" ? "" : top;
  place.folders.push_back(prefix + "/.Trash/" + uid);
  place.folders.push_back(prefix + "/.Trash-" + uid);
  place.notedPath = path.compare(0, prefix.size() + 1, prefix + "/") == 0 ? path.substr(prefix.size() + 1) : path;
  return place;
}

bool IsFile(const std::string& path, const struct stat& file) {
  struct stat st{};
  return ::lstat(path.c_str(), &st) == 0 && st.st_dev == file.st_dev && st.st_ino == file.st_ino;
}

// The n-th name the trash tries for `name`: the name itself, then a number
// after its first part ("a.2.jpg", "a.3.jpg"; "notes.2" without a dot).
std::string NumberedTrashName(const std::string& name, int n) {
  if (n == 1) return name;
  const std::size_t dot = name.find('.');
  if (dot == std::string::npos) return name + "." + std::to_string(n);
  return name.substr(0, dot) + "." + std::to_string(n) + name.substr(dot);
}

// The name under which `folder`/files holds the file (device, inode). The
// trash gives a file the first of its names whose note does not exist yet,
// so those names are tried in turn; only when that fails is the whole
// folder listed (a trash with thousands of files would make every move of
// a batch list it otherwise).
std::optional<std::string> NameInTrash(const std::string& folder, const std::string& baseName,
                                       const struct stat& file) {
  for (int n = 1; n <= 100000; ++n) {
    const std::string name = NumberedTrashName(baseName, n);
    if (IsFile(folder + "/files/" + name, file)) return name;
    struct stat note{};
    if (::lstat((folder + "/info/" + name + ".trashinfo").c_str(), &note) != 0) break;
  }
  const std::string files = folder + "/files";
  const std::unique_ptr<DIR, DirClose> dir(::opendir(files.c_str()));
  if (dir == nullptr) return std::nullopt;
  while (const dirent* entry = ::readdir(dir.get())) {
    struct stat st{};
    if (::fstatat(::dirfd(dir.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        st.st_dev == file.st_dev && st.st_ino == file.st_ino) {
      return std::string(entry->d_name);
    }
  }
  return std::nullopt;
}

std::string ReadSmallFile(const std::string& path) {
  std::string content;
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.get() < 0) return content;
  char buffer[4096];
  for (ssize_t got; (got = ::read(fd.get(), buffer, sizeof buffer)) > 0 && content.size() < 65536;) {
    content.append(buffer, static_cast<std::size_t>(got));
  }
  return content;
}

// Writes the whole note and flushes it; an errno value on failure.
int WriteNote(const std::string& path, const std::string& content) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC));
  if (fd.get() < 0) return errno;
  int error = WriteAll(fd.get(), content.data(), content.size());
  if (error == 0 && ::fsync(fd.get()) != 0) error = errno;
  const int closeError = fd.Close();
  return error != 0 ? error : closeError;
}

// Makes sure the trash can give the file back: a note that does not name
// where the file came from is written again; when that fails too, the file
// goes back where it was. Returns 0 or the errno value of the failed write.
int EnsureNote(const std::string& originalPath, const std::string& canonicalPath,
               const struct stat& file) {
  const TrashPlace place = PlaceFor(canonicalPath, file.st_dev);
  for (const std::string& folder : place.folders) {
    const std::optional<std::string> name = NameInTrash(folder, std::string(FileNameOf(canonicalPath)), file);
    if (!name) continue;
    const std::unique_ptr<char, Free> escaped(g_uri_escape_string(place.notedPath.c_str(), "/", FALSE));
    const std::string notePath = folder + "/info/" + *name + ".trashinfo";
    const std::string note = ReadSmallFile(notePath);
    const std::string pathLine = std::string("Path=") + escaped.get() + "\n";
    if (note.rfind("[Trash Info]\n", 0) == 0 && note.find(pathLine) != std::string::npos &&
        note.find("DeletionDate=") != std::string::npos && note.back() == '\n') {
      return 0;
    }
    const std::unique_ptr<GDateTime, void (*)(GDateTime*)> now(g_date_time_new_now_local(),
                                                               g_date_time_unref);
    const std::unique_ptr<char, Free> date(g_date_time_format(now.get(), "%Y-%m-%dT%H:%M:%S"));
    const int error = WriteNote(notePath, "[Trash Info]\n" + pathLine + "DeletionDate=" + date.get() + "\n");
    if (error == 0) return 0;
    const std::string trashed = folder + "/files/" + *name;
    if (::renameat2(AT_FDCWD, trashed.c_str(), AT_FDCWD, originalPath.c_str(), RENAME_NOREPLACE) == 0) {
      ::unlink(notePath.c_str());
    }
    return error;
  }
  // Not where the trash keeps files of this device: nothing to check.
  return 0;
}

}  // namespace

TrashResult MoveToTrash(const std::string& path) {
  TrashResult result;
  // GIO words a missing file in its own terms; the system's reason reads the
  // same as that of a failed move.
  struct stat st{};
  if (::lstat(path.c_str(), &st) != 0) {
    result.message = ErrorText(errno);
    return result;
  }
  // GIO takes file names as bytes, so a name that is not valid UTF-8 still
  // reaches exactly this file.
  const std::unique_ptr<GFile, ObjectUnref> file(g_file_new_for_path(path.c_str()));
  const std::unique_ptr<char, Free> canonical(g_file_get_path(file.get()));
  GError* raw = nullptr;
  result.ok = g_file_trash(file.get(), nullptr, &raw) != FALSE;
  const std::unique_ptr<GError, ErrorFree> error(raw);
  if (!result.ok) {
    result.message = error != nullptr && error->message != nullptr ? error->message : ErrorText(EIO);
    return result;
  }
  // GIO reports success even when it could not write the note that tells
  // the trash where the file came from (a full disk leaves it empty), and
  // such a file can never be restored.
  if (const int noteError = EnsureNote(path, canonical != nullptr ? canonical.get() : path, st);
      noteError != 0) {
    result.ok = false;
    result.message = ErrorText(noteError);
  }
  return result;
}

}  // namespace norvane
