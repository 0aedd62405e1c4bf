#pragma once
// The mounted file systems, as /proc/self/mountinfo lists them.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace palvoro::real {

struct MountEntry {
  int id = 0;
  int parent = 0;
  unsigned major = 0;  // the device the file system lives on (st_dev)
  unsigned minor = 0;
  std::string root;        // the folder of the file system mounted here (bind mounts, subvolumes)
  std::string mountPoint;  // where it is mounted, unescaped
  std::string options;
  std::string fsType;
  std::string source;  // "/dev/sda1", or whatever the file system calls its source
  std::string superOptions;
};

// One line; nothing when it is not a well-formed mountinfo line.
[[nodiscard]] std::optional<MountEntry> parseMountinfoLine(std::string_view line);
// Every well-formed line of the file; malformed ones are skipped.
std::vector<MountEntry> parseMountinfo(std::string_view text);
// The mount a path lies under: the one with the longest mount point that is a folder of
// the path, the last mounted of equals (it covers the others). Nothing for a relative path.
const MountEntry* mountHolding(std::string_view path, const std::vector<MountEntry>& mounts);
// The folders an overlay mount is made of, from its super options: every lower layer
// (lowerdir, lowerdir+, datadir+), the upper layer and the work folder.
std::vector<std::string> overlayFolders(std::string_view superOptions);
// The kernel writes space, tab, newline and backslash in paths as \ooo octal escapes.
std::string unescapeMountField(std::string_view field);

}  // namespace palvoro::real
