#pragma once
// Machines, drive records and fakes shared by the device-layer tests. Everything here
// describes the simulated machine or reads its log; nothing builds a request record,
// so the expected bytes in the tests stay written out by hand.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "device/drive_handle.h"
#include "device/drive_requests.h"
#include "discovery/drive_record.h"
#include "discovery/drive_record.h"
#include "platform/ioctl_codes.h"
#include "platform/prompter.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_platform.h"

namespace palvoro::devtest {

using Bytes = std::vector<uint8_t>;
using sim::SimRequest;

inline constexpr const char* kDrive0 = "\\\\.\\PhysicalDrive0";
inline constexpr uint32_t kReadWrite = GENERIC_READ | GENERIC_WRITE;
inline constexpr uint32_t kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;
inline constexpr uint32_t kWriteThroughNoBuffering = FILE_FLAG_WRITE_THROUGH | FILE_FLAG_NO_BUFFERING;

// What a simulated drive offers.
struct DriveOptions {
  int number = 0;
  uint64_t sectors = 1'000'000;
  bool trim = true;
  bool sanitize = true;
  bool dsmXl = false;
  bool sctVendorSwitch = false;
  bool bridgeSignature = false;
  std::string model = "VHT TEST DRIVE";
};

inline sim::SimUnit makeUnit(const std::string& model, uint64_t sectors, bool trim, bool sanitize) {
  sim::IdentityDescription id;
  id.model = model;
  id.serial = "SN" + model.substr(model.size() - 2);
  id.firmware = "FW01";
  id.sectors = sectors;
  id.trim = trim;
  id.sanitize = sanitize;
  sim::SimUnit unit;
  unit.identify = sim::makeIdentify(id);
  unit.media = sim::SimMedia(sectors, 512);
  // One healthy pre-failure attribute and one advisory one.
  unit.smart.attributes = {{0x05, 0x0033, 100, 100, 0, 36}, {0x09, 0x0032, 98, 98, 1234, 0}};
  return unit;
}

inline sim::SimDrive makeDrive(const DriveOptions& options) {
  sim::SimDrive d;
  d.number = options.number;
  d.ata.units[0] = makeUnit(options.model, options.sectors, options.trim, options.sanitize);
  d.ata.dsmXl = options.dsmXl;
  d.ata.sctVendorSwitch = options.sctVendorSwitch;
  d.ata.bridgeSignature = options.bridgeSignature;
  return d;
}

// The maker's dual-unit drive: unit 0 and unit 2, each with its own identity and media.
inline sim::SimDrive makeDualUnitDrive(int number, uint64_t sectors0, uint64_t sectors2) {
  sim::SimDrive d;
  d.number = number;
  d.ata.units[0] = makeUnit("VHT DUAL UNIT A0", sectors0, true, true);
  d.ata.units[2] = makeUnit("VHT DUAL UNIT B2", sectors2, true, true);
  d.ata.sctVendorSwitch = true;
  d.ata.dsmXl = true;
  return d;
}

inline sim::SimVolume makeVolume(char letter, int drive, uint32_t partition, uint64_t start, uint64_t count,
                                 uint32_t type = DRIVE_FIXED) {
  sim::SimVolume v;
  v.letter = letter;
  v.drive = drive;
  v.partitionNumber = partition;
  v.startSector = start;
  v.sectorCount = count;
  v.driveType = type;
  return v;
}

inline sim::SimMachine machineWith(std::vector<sim::SimDrive> drives, std::vector<sim::SimVolume> volumes = {}) {
  sim::SimMachine m;
  m.name = "device-tests";
  m.drives = std::move(drives);
  m.volumes = std::move(volumes);
  return m;
}

// A drive-table entry as detection leaves it: zero everywhere but what the test sets.
inline DriveRecord makeRecord(int number, const std::string& letters = "") {
  DriveRecord r;
  std::memset(&r, 0, sizeof r);
  r.physicalDriveNumber = number;
  r.driveClass = kDriveClassAta;
  r.busType = kBusSata;
  r.sectorSize = 512;
  r.volumeCount = static_cast<int32_t>(letters.size());
  std::memcpy(r.volumeLetters, letters.data(), letters.size());
  return r;
}

// The locking open's view of drive `number` holding the volumes `letters`.
inline LockedDrive makeLockTarget(int number, std::string_view letters = "") {
  return LockedDrive{number, static_cast<int>(letters.size()), letters};
}

// TRIM of drive `number`: its unit, the miniport path or not, a USB bridge or not.
inline TrimTarget makeTrimTarget(int number, bool miniportMode = false, uint8_t unit = 0, bool usbBridge = false) {
  return TrimTarget{number, miniportMode, unit, usbBridge};
}

// A platform over a machine, with one DriveHandle for the test to use. The handle is
// declared after the platform so that it closes before the platform goes away.
struct Rig {
  explicit Rig(sim::SimMachine machine) : platform(std::move(machine)), drive(platform) {}

  // Opens drive 0 as the tests do.
  bool openDrive(const char* path = kDrive0) {
    return drive.openShared(path, kReadWrite, kWriteThroughNoBuffering, OPEN_EXISTING);
  }
  std::vector<SimRequest> ata() const { return platform.ioctls(IOCTL_ATA_PASS_THROUGH); }
  std::vector<SimRequest> ofKind(SimRequest::Kind kind) const {
    std::vector<SimRequest> out;
    for (const SimRequest& r : platform.log()) {
      if (r.kind == kind) out.push_back(r);
    }
    return out;
  }

  sim::SimPlatform platform;
  DriveHandle drive;
};

// A message box as the code under test asked for it.
struct Prompt {
  std::string text;
  std::string caption;
  PromptIcon icon;
  PromptButtons buttons;
};

class RecordingPrompter : public Prompter {
 public:
  PromptAnswer ask(const std::string& text, const std::string& caption, PromptIcon icon,
                   PromptButtons buttons, PromptAnswer, PromptPurpose) override {
    prompts.push_back({text, caption, icon, buttons});
    if (answers.empty()) return PromptAnswer::Ok;
    const PromptAnswer a = answers.front();
    answers.erase(answers.begin());
    return a;
  }
  std::vector<Prompt> prompts;
  std::vector<PromptAnswer> answers;  // scripted, oldest first; Ok once they run out
};

// Bytes as "28 00 1E ..." in rows of eight, so a mismatch shows where it is.
inline std::string hex(const uint8_t* p, size_t n) {
  std::string s;
  char cell[4];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(cell, sizeof cell, "%02X", p[i]);
    s += cell;
    s += (i % 8 == 7) ? '\n' : ' ';
  }
  return s;
}
inline std::string hex(const Bytes& b) { return hex(b.data(), b.size()); }

inline Bytes slice(const Bytes& b, size_t from, size_t n) {
  if (from + n > b.size()) return {};
  return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(from + n));
}

inline bool allZero(const Bytes& b, size_t from) {
  for (size_t i = from; i < b.size(); ++i) {
    if (b[i] != 0) return false;
  }
  return true;
}

// Fills one sector of `media` with `fill`, and tells what a sector holds.
inline void putSector(sim::SimMedia& media, uint64_t lba, uint8_t fill) {
  const Bytes data(media.sectorSize(), fill);
  ASSERT_TRUE(media.write(lba, 1, data.data()));
}
inline Bytes sectorOf(const sim::SimMedia& media, uint64_t lba) {
  Bytes data(media.sectorSize());
  EXPECT_TRUE(media.read(lba, 1, data.data()));
  return data;
}

// A fresh path in the system's temporary folder, removed again by the destructor.
class TempFile {
 public:
  explicit TempFile(const std::string& stem) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string unique = stem + "-" + (info != nullptr ? std::string(info->name()) : std::string("x"));
    for (char& c : unique) {
      if (c == '/') c = '_';
    }
    m_path = std::filesystem::temp_directory_path() /
             ("palvoro-" + std::to_string(::getpid()) + "-" + unique + ".txt");
    std::filesystem::remove(m_path);
  }
  ~TempFile() {
    std::error_code ignored;
    std::filesystem::remove(m_path, ignored);
  }
  std::string path() const { return m_path.string(); }
  std::string contents() const {
    std::string s;
    if (FILE* f = std::fopen(m_path.c_str(), "rb")) {
      char buf[4096];
      size_t n = 0;
      while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
      std::fclose(f);
    }
    return s;
  }

 private:
  std::filesystem::path m_path;
};

}  // namespace palvoro::devtest
