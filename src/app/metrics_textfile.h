#pragma once
// The metrics as a file for node_exporter's textfile collector, which reads every *.prom
// file of its folder at each scrape: the file must never be seen half written. It is
// written under a hidden temporary name the collector skips, flushed to the disk, and
// renamed over the old one; the folder is flushed so that the rename outlives a crash.
//
// The folder is node_exporter's, not the program's: WriteFolder's rule (a folder of the
// user's own) does not hold there. Nothing is followed through a link all the same: the
// temporary file is created new, relative to the opened folder, and the rename replaces
// whatever has the name.

#include <string>

namespace palvoro {

// How writing the textfile ended.
enum class TextfileWrite {
  Written = 0,        // the file holds the text, whole
  FolderMissing = 1,  // the folder does not exist or is not a folder
  NotCreated = 2,     // no file can be made in the folder (its rights, a read-only file system)
  NotWritten = 3,     // the text could not be written or flushed (disk full, I/O error)
  NotReplaced = 4,    // the finished file could not take the name (a folder of that name)
};

// The file name the collector reads.
inline constexpr const char* kTextfileName = "palvoro.prom";

struct TextfileResult {
  TextfileWrite status = TextfileWrite::Written;
  int error = 0;  // the errno of the call that failed
};

// Writes `text` as `folder`/kTextfileName.
[[nodiscard]] TextfileResult writeTextfile(const std::string& folder, const std::string& text);

// Why it failed, as a sentence naming the folder; "" when written.
std::string textfileRefusal(const TextfileResult& result, const std::string& folder);

}  // namespace palvoro
