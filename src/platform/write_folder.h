#pragma once
// The one way the program writes its own files (the result page, the logo, the help
// pages): into a folder opened once and checked, by name relative to that folder, never
// through a path a symbolic link could turn elsewhere. A run as root must never let a
// user's link or folder make it overwrite another file, or leave root's files where a user
// can change them.

#include <cstddef>
#include <cstdint>
#include <string>

namespace palvoro {

// Who the program runs as, for judging the folders it writes in.
struct FileUser {
  uint32_t uid = 0;
  uint32_t gid = 0;
  bool root() const { return uid == 0; }
  // The effective user and group of this process.
  static FileUser current();
};

// Whether a folder may be written in; every refusal has its sentence (WriteFolder::refusal).
enum class FolderCheck : int {
  Usable = 0,        // it belongs to the user and nobody else can change what is in it
  Missing = 1,       // the folder, or one above it, does not exist or cannot be opened
  NotAFolder = 2,    // the path names something that is not a folder
  NotOwned = 3,      // the folder belongs to another user
  OpenToOthers = 4,  // others may create, replace or remove names in it
  NotRootsPath = 5,  // as root: a folder on the way to it belongs to another user or is open to others
  LinkOnPath = 6,    // as root: the path goes through a symbolic link
};

// How writing one file ended.
enum class FileWrite : int {
  Written = 0,        // the file holds the bytes, whole
  FolderRefused = 1,  // nothing written: the folder did not pass its check
  NotCreated = 2,     // the temporary file could not be made in the folder
  NotWritten = 3,     // the bytes could not be written (disk full, I/O error)
  NotReplaced = 4,    // the finished file could not take the name (a folder of that name)
};

// A folder the program writes in. Opening it resolves the path, opens the folder and
// checks it: it must belong to the effective user, and nobody else may change its names
// (writable by others only with the sticky bit; writable by its group only when that group
// is the user's own). For root, every folder from "/" down must belong to root and pass
// the same rule, and no symbolic link may lie on the way: root's results never go into a
// folder a user can change, nor into one a user's link points at.
class WriteFolder {
 public:
  [[nodiscard]] static WriteFolder open(const std::string& path, const FileUser& user = FileUser::current());
  WriteFolder(WriteFolder&& other) noexcept;
  WriteFolder& operator=(WriteFolder&& other) noexcept;
  WriteFolder(const WriteFolder&) = delete;
  WriteFolder& operator=(const WriteFolder&) = delete;
  ~WriteFolder();

  FolderCheck check() const { return m_check; }
  bool usable() const { return m_check == FolderCheck::Usable; }
  // Why the folder is refused, as a sentence naming it; empty when it is usable.
  const std::string& refusal() const { return m_refusal; }

  // Writes `bytes` as the file `name` (a plain name, no '/') of this folder: into a new
  // temporary file of the folder (created exclusively, never through a link), which then
  // takes the name whole. A link, or any file, already at `name` is replaced, never
  // written through; a reader sees the old file or the new one, never half of one.
  [[nodiscard]] FileWrite writeFile(const std::string& name, const void* bytes, size_t size) const;

 private:
  WriteFolder() = default;
  int m_fd = -1;
  FolderCheck m_check = FolderCheck::Missing;
  std::string m_refusal;
};

}  // namespace palvoro
