// palvoro-lab: the program on a simulated machine, safe for trying everything. Until the
// windows exist it prints what it learns of each drive of the machine.
//
//   palvoro-lab [--machine FILE.json | --builtin NAME]

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "device/ata_command.h"
#include "device/drive_handle.h"
#include "discovery/drive_record.h"
#include "discovery/format_capacity.h"
#include "discovery/identify.h"
#include "platform/sim/sim_platform.h"

using namespace palvoro;

namespace {

int usage() {
  std::fprintf(stderr, "usage: palvoro-lab [--machine FILE.json | --builtin NAME]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string builtin = "basic";
  std::string file;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--machine") == 0 && i + 1 < argc) {
      file = argv[++i];
    } else if (std::strcmp(argv[i], "--builtin") == 0 && i + 1 < argc) {
      builtin = argv[++i];
    } else {
      return usage();
    }
  }

  sim::SimMachine machine;
  try {
    if (!file.empty()) {
      std::ifstream in(file, std::ios::binary);
      if (!in) {
        std::fprintf(stderr, "palvoro-lab: cannot read %s\n", file.c_str());
        return 1;
      }
      std::stringstream text;
      text << in.rdbuf();
      machine = sim::loadMachine(text.str());
    } else {
      machine = sim::builtinMachine(builtin);
    }
  } catch (const sim::MachineDescriptionError& e) {
    std::fprintf(stderr, "palvoro-lab: %s\n", e.what());
    return 1;
  }

  sim::SimPlatform platform(std::move(machine));
  std::printf("PALVORO lab - simulated machine \"%s\"\n\n", platform.machine().name.c_str());
  int found = 0;
  for (int n = 0; n < kProbeLimit; ++n) {
    DriveHandle drive(platform);
    if (!drive.openShared(physicalDrivePath(n), GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING)) continue;
    uint8_t reply[kSectorBytes] = {};
    if (!ataIdentify(platform, drive.handle(), 0, reply)) {
      std::printf("Physical Drive %d: does not answer IDENTIFY DEVICE\n", n);
      continue;
    }
    DriveRecord record{};
    record.physicalDriveNumber = n;
    record.busType = kBusSata;
    const uint16_t rotation = parseIdentify(platform, drive.handle(), reply, record);
    const uint64_t bytes = record.totalSectors * static_cast<uint64_t>(record.sectorSize);
    const uint64_t megabytes = bytes / 1000000;
    std::printf("Physical Drive %d\n", n);
    std::printf("  Model:        %s\n", record.model);
    std::printf("  Serial:       %s\n", record.serialNumber);
    std::printf("  Firmware:     %s\n", record.firmwareRevision);
    std::printf("  Capacity:     %s (%llu sectors of %d bytes)\n",
                FormatCapacity(megabytes > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(megabytes), 2).c_str(),
                static_cast<unsigned long long>(record.totalSectors), record.sectorSize);
    std::printf("  Rotation:     %s\n", rotation == 1 ? "solid state" : (std::to_string(rotation) + " rpm").c_str());
    std::printf("  Hybrid flags: %u\n\n", record.hybridFlags);
    ++found;
  }
  std::printf("%d drive(s) found.\n", found);
  return 0;
}
