#include "platform/linux/mountinfo.h"

#include <charconv>

namespace palvoro::real {
namespace {

std::vector<std::string_view> splitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  fields.reserve(12);  // a line has ten fields and an optional one or two
  size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && line[at] == ' ') ++at;
    if (at >= line.size()) break;
    const size_t end = line.find(' ', at);
    const size_t stop = end == std::string_view::npos ? line.size() : end;
    fields.push_back(line.substr(at, stop - at));
    at = stop;
  }
  return fields;
}

template <typename T>
[[nodiscard]] bool number(std::string_view text, T& value) {
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

[[nodiscard]] bool isOctal(char c) { return c >= '0' && c <= '7'; }

}  // namespace

std::string unescapeMountField(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && isOctal(field[i + 1]) && isOctal(field[i + 2]) &&
        isOctal(field[i + 3])) {
      const int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
      if (value <= 0xFF) {
        out.push_back(static_cast<char>(value));
        i += 3;
        continue;
      }
    }
    out.push_back(field[i]);
  }
  return out;
}

std::optional<MountEntry> parseMountinfoLine(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  const std::vector<std::string_view> fields = splitFields(line);
  // Six fixed fields, any number of optional ones, the separator, then three more.
  size_t separator = 6;
  while (separator < fields.size() && fields[separator] != "-") ++separator;
  // The super options may be missing on old kernels; type and source may not.
  if (separator + 2 >= fields.size()) return std::nullopt;
  MountEntry e;
  const std::string_view devices = fields[2];
  const size_t colon = devices.find(':');
  if (!number(fields[0], e.id) || !number(fields[1], e.parent) || colon == std::string_view::npos ||
      !number(devices.substr(0, colon), e.major) || !number(devices.substr(colon + 1), e.minor)) {
    return std::nullopt;
  }
  e.root = unescapeMountField(fields[3]);
  e.mountPoint = unescapeMountField(fields[4]);
  e.options = std::string(fields[5]);
  e.fsType = unescapeMountField(fields[separator + 1]);
  e.source = unescapeMountField(fields[separator + 2]);
  if (separator + 3 < fields.size()) e.superOptions = std::string(fields[separator + 3]);
  return e;
}

std::vector<MountEntry> parseMountinfo(std::string_view text) {
  std::vector<MountEntry> entries;
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find('\n', at);
    const size_t stop = end == std::string_view::npos ? text.size() : end;
    if (auto e = parseMountinfoLine(text.substr(at, stop - at))) entries.push_back(std::move(*e));
    at = stop + 1;
  }
  return entries;
}

const MountEntry* mountHolding(std::string_view path, const std::vector<MountEntry>& mounts) {
  if (path.empty() || path[0] != '/') return nullptr;
  const MountEntry* found = nullptr;
  for (const MountEntry& m : mounts) {
    const std::string_view point = m.mountPoint;
    const bool under = point == "/" || path == point ||
                       (path.size() > point.size() && path.substr(0, point.size()) == point && path[point.size()] == '/');
    if (under && (found == nullptr || point.size() >= found->mountPoint.size())) found = &m;
  }
  return found;
}

std::vector<std::string> overlayFolders(std::string_view superOptions) {
  std::vector<std::string> folders;
  size_t at = 0;
  while (at <= superOptions.size()) {
    const size_t comma = superOptions.find(',', at);
    const std::string_view option = superOptions.substr(at, comma == std::string_view::npos ? std::string_view::npos : comma - at);
    const size_t eq = option.find('=');
    const std::string_view key = option.substr(0, eq);
    if (eq != std::string_view::npos &&
        (key == "lowerdir" || key == "lowerdir+" || key == "datadir+" || key == "upperdir" || key == "workdir")) {
      // Layers are separated by ':' ("::" before the data-only ones).
      const std::string_view list = option.substr(eq + 1);
      size_t from = 0;
      while (from <= list.size()) {
        const size_t colon = list.find(':', from);
        const std::string_view one = list.substr(from, colon == std::string_view::npos ? std::string_view::npos : colon - from);
        if (!one.empty()) folders.push_back(unescapeMountField(one));
        if (colon == std::string_view::npos) break;
        from = colon + 1;
      }
    }
    if (comma == std::string_view::npos) break;
    at = comma + 1;
  }
  return folders;
}

}  // namespace palvoro::real
