// /proc/self/mountinfo as any text: parsed line by line, then handed to the backend
// over the lab's SATA and USB disks, whose volumes only ever take the letters C to Z.

#include <cstdint>
#include <string>
#include <string_view>

#include "fake_sys_calls.h"
#include "fuzz_check.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/mountinfo.h"

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

  static real::test::FakeSysCalls* const sys = [] {
    auto* fake = new real::test::FakeSysCalls;
    fake->loadFixture("sata_ahci");
    fake->loadFixture("usb_storage");
    return fake;
  }();
  sys->addFile("/proc/self/mountinfo", text);
  real::LinuxPlatform platform(*sys, sys->root());
  const uint32_t mask = platform.logicalDrives();
  fuzz::check((mask & 0x3u) == 0 && (mask >> 26) == 0, "letters C to Z only");
  for (char letter = 'C'; letter <= 'Z'; ++letter) {
    if ((mask & (1u << (letter - 'A'))) == 0) continue;
    const std::string root = std::string(1, letter) + ":\\";
    fuzz::check(platform.driveType(root) != DRIVE_NO_ROOT_DIR, "a listed letter has a volume");
  }
  return 0;
}
