// palvoro-lab: the program on a simulated machine, safe for trying everything. Until the
// windows exist it runs start-up and detection and prints the drive table.
//
//   palvoro-lab [--machine FILE.json | --builtin NAME]

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "app/app_context.h"
#include "app/console_prompter.h"
#include "app/startup.h"
#include "discovery/detection.h"
#include "discovery/format_capacity.h"
#include "discovery/property_page.h"
#include "discovery/raid_status.h"
#include "platform/sim/sim_platform.h"

using namespace palvoro;

namespace {

int usage() {
  std::fprintf(stderr, "usage: palvoro-lab [--machine FILE.json | --builtin NAME]\n");
  return 2;
}

const char* className(int driveClass) {
  static const char* const kNames[] = {"-", "ATA", "USB", "FireWire", "SCSI", "other", "RAID enclosure"};
  return driveClass >= 0 && driveClass <= 6 ? kNames[driveClass] : "?";
}

std::string capacityText(const DriveRecord& r) {
  const uint64_t megabytes = r.identifiedSectors * static_cast<uint64_t>(r.sectorSize) / 1000000;
  return FormatCapacity(megabytes > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(megabytes), 2);
}

std::string smartText(const DriveRecord& r) {
  if (r.isMakerSsd) return "Not Supported";
  if (r.driveClass == kDriveClassRaid && r.raidLevel != 0) {
    return std::string(raidLevelName(r.raidLevel)) + ", " + raidStateName(r.raidState);
  }
  if (!r.smartAvailable) return "Not Available";
  return r.smartHealthy ? "PASS" : "FAIL";
}

}  // namespace

int main(int argc, char** argv) {
  std::string builtin = "showcase";
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
  ConsolePrompter prompter;
  AppContext context(platform, prompter);
  std::printf("PALVORO lab - simulated machine \"%s\"\n\n", platform.machine().name.c_str());
  runStartupChecks(context);
  DriveTable& table = context.driveTable();
  detectDrives(context.probeEnvironment(), table);
  mapVolumes(platform, table);

  std::printf("%-3s %-26s %-20s %-9s %-11s %-9s %-14s %-7s %s\n", "#", "Model", "Serial", "Firmware", "Capacity",
              "Bus", "Reached as", "Volumes", "SMART");
  for (int i = 0; i < table.driveCount; ++i) {
    const DriveRecord& r = table.records[i];
    std::printf("%-3d %-26s %-20s %-9s %-11s %-9s %-14s %-7s %s\n", i + 1, r.model, r.serialNumber,
                r.firmwareRevision, capacityText(r).c_str(), busTypeName(r.busType), className(r.driveClass),
                r.volumeLetters, smartText(r).c_str());
  }
  std::printf("\n%d drive(s) found.\n", table.driveCount);
  freeComplianceTable(context.complianceTable());
  return 0;
}
