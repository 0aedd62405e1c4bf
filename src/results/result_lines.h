#pragma once
// The result blocks of the program run: HTML lines kept in memory, oldest first, and
// written out as the result page when the user asks for it.

#include <algorithm>
#include <string>
#include <vector>

namespace palvoro {

inline constexpr size_t kResultLineSlots = 200;
inline constexpr size_t kResultLineMax = 511;  // characters of one line

class ResultLines {
 public:
  const std::vector<std::string>& lines() const { return m_lines; }
  size_t count() const { return m_lines.size(); }
  // Appends a whole block, or nothing when it does not fit in the slots left: a page
  // never shows part of a block. Returns whether it was stored.
  [[nodiscard]] bool appendBlock(const std::vector<std::string>& block);
  // Room for `lineCount` lines instead of kResultLineSlots (never less): a bench of many
  // drives keeps every drive's block, as each drive run alone would have kept its own.
  void widen(size_t lineCount) { m_room = std::max(m_room, lineCount); }
  size_t room() const { return m_room; }
  void clear() { m_lines.clear(); }

 private:
  std::vector<std::string> m_lines;
  size_t m_room = kResultLineSlots;
};

}  // namespace palvoro
