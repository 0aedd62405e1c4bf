// The enclosure's status page (RECEIVE DIAGNOSTIC RESULTS 82h) and a member's result
// block, as any enclosure may return them: the state, level and rebuild progress stay
// within what the windows can name.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "discovery/drive_record.h"
#include "discovery/raid_status.h"
#include "fuzz_check.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_platform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace palvoro;
  const size_t pageBytes = std::min<size_t>(size, 64);
  sim::SimDrive drive;
  drive.number = 0;
  drive.transport = sim::Transport::Raid;
  sim::IdentityDescription identity;
  identity.model = "VHT VH7K2";
  identity.sectors = 1000;
  drive.ata.units[0].identify = sim::makeIdentify(identity);
  drive.ata.units[0].media = sim::SimMedia(1000, 512);
  sim::applyTransportDefaults(drive);
  drive.scsi.diagnostic[0x82].assign(data, data + pageBytes);
  sim::SimMachine machine;
  machine.drives.push_back(drive);
  sim::SimPlatform platform(std::move(machine));

  DriveRecord record{};
  const Handle handle = platform.createFile("\\\\.\\PhysicalDrive0", GENERIC_READ | GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
  const int read = readRaidStatus(platform, handle, record);
  platform.closeHandle(handle);
  fuzz::check(read == 0 || read == 1, "the status is read or not");
  if (read == 1) {
    fuzz::check(record.raidState >= 0 && record.raidState <= 15, "the state is four bits");
    fuzz::check(record.raidLevel >= 1 && record.raidLevel <= 4, "the level is two bits plus one");
    fuzz::check(raidStateName(record.raidState) != nullptr && raidLevelName(record.raidLevel) != nullptr,
                "state and level have names");
  }

  uint8_t block[512] = {};
  std::memcpy(block, data + pageBytes, std::min(size - pageBytes, sizeof block));
  const SmartStatus status = memberResultStatus(block);
  fuzz::check(status == kSmartStatusNone || status == kSmartStatusHealthy || status == kSmartStatusExceeded,
              "a member's answer is healthy, exceeded or none");
  return 0;
}
