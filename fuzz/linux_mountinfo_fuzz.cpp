// /proc/self/mountinfo as any text: parsed line by line, then handed to the backend
// over the lab's SATA and USB disks, whose volumes only ever take the letters C to Z.
//
// The backend's own work is all that runs per input. One platform serves every input, as
// one serves the running program while file systems come and go: the disks are scanned
// once, and each input is the mount table of a moment. The fake sysfs, which no input
// changes, answers each path as it did the first time, and the mount table comes straight
// from the input. A platform of its own
// per input spent nearly all its time walking the same fake tree (150 inputs a second).
// Letters are the process's, so what an input gets can depend on the volumes earlier
// inputs showed; only the fixture's five block devices ever take one, so that memory is
// small and soon the same for every input.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fake_sys_calls.h"
#include "fuzz_check.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/mountinfo.h"

namespace {

using palvoro::real::test::FakeSysCalls;

class SysfsOnce : public FakeSysCalls {
 public:
  std::string mountinfo;

  std::optional<std::string> readText(const std::string& path) override {
    if (path == m_mountinfoPath) return mountinfo;
    return once(m_texts, path, [this](const std::string& p) { return FakeSysCalls::readText(p); });
  }
  std::optional<std::string> readlink(const std::string& path) override {
    return once(m_links, path, [this](const std::string& p) { return FakeSysCalls::readlink(p); });
  }
  std::optional<std::string> realPath(const std::string& path) override {
    return once(m_real, path, [this](const std::string& p) { return FakeSysCalls::realPath(p); });
  }
  std::optional<std::vector<std::string>> listDirectory(const std::string& path) override {
    return once(m_lists, path, [this](const std::string& p) { return FakeSysCalls::listDirectory(p); });
  }

 private:
  template <typename T, typename Read>
  T once(std::map<std::string, T>& kept, const std::string& path, Read read) {
    if (path.compare(0, root().size() + 5, root() + "/sys/") != 0) return read(path);
    auto it = kept.find(path);
    if (it == kept.end()) it = kept.emplace(path, read(path)).first;
    return it->second;
  }
  const std::string m_mountinfoPath = root() + "/proc/self/mountinfo";
  std::map<std::string, std::optional<std::string>> m_texts, m_links, m_real;
  std::map<std::string, std::optional<std::vector<std::string>>> m_lists;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace palvoro;
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto entries = real::parseMountinfo(text);
  size_t lines = 1;
  for (char c : text) lines += c == '\n' ? 1 : 0;
  fuzz::check(entries.size() <= lines, "at most one entry a line");
  for (const auto& e : entries) {
    fuzz::check(e.mountPoint.size() <= size && e.source.size() <= size, "unescaping never grows a field");
  }

  static SysfsOnce* const sys = [] {
    auto* fake = new SysfsOnce;
    fake->loadFixture("sata_ahci");
    fake->loadFixture("usb_storage");
    return fake;
  }();
  static real::LinuxPlatform* const platform = new real::LinuxPlatform(*sys, sys->root());
  sys->mountinfo = text;
  const uint32_t mask = platform->logicalDrives();
  fuzz::check((mask & 0x3u) == 0 && (mask >> 26) == 0, "letters C to Z only");
  for (char letter = 'C'; letter <= 'Z'; ++letter) {
    if ((mask & (1u << (letter - 'A'))) == 0) continue;
    const std::string root = std::string(1, letter) + ":\\";
    fuzz::check(platform->driveType(root) != DRIVE_NO_ROOT_DIR, "a listed letter has a volume");
  }
  return 0;
}
