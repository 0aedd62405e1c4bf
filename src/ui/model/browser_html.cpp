#include "ui/model/browser_html.h"

#include <regex>

namespace palvoro {

std::string withHashedColours(const std::string& html) {
  // The attribute name must start a word, so "bgcolor" is matched whole and never as the
  // "color" at its end; the value must end after six digits, so names like "beaded" or
  // longer numbers are left alone.
  static const std::regex bareHex(R"(((?:^|[^A-Za-z0-9_-])(?:bg)?color\s*=\s*['"]?)([0-9A-Fa-f]{6})(?![0-9A-Za-z]))",
                                  std::regex::icase);
  return std::regex_replace(html, bareHex, "$1#$2");
}

}  // namespace palvoro
