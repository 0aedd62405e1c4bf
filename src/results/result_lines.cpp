#include "results/result_lines.h"

namespace palvoro {

bool ResultLines::appendBlock(const std::vector<std::string>& block) {
  if (block.size() > m_room - m_lines.size()) return false;
  for (const std::string& line : block) m_lines.push_back(line.substr(0, kResultLineMax));
  return true;
}

}  // namespace palvoro
