// READ CAPACITY (10) and (16) answered with any bytes: the drive record always ends with at
// least one sector, and its identified count is the same, whatever the device said.

#include <algorithm>
#include <cstdint>
#include <string>

#include "discovery/drive_record.h"
#include "discovery/inquiry_identity.h"
#include "fuzz_check.h"
#include "platform/prompter.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_platform.h"

namespace {

class SilentPrompter : public palvoro::Prompter {
 public:
  palvoro::PromptAnswer ask(const std::string&, const std::string&, palvoro::PromptIcon, palvoro::PromptButtons,
                            palvoro::PromptAnswer defaultAnswer, palvoro::PromptPurpose) override {
    return defaultAnswer;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace palvoro;
  if (size < 1) return 0;
  const uint8_t flags = data[0];
  ++data;
  --size;
  sim::SimDrive drive;
  drive.number = 0;
  drive.transport = sim::Transport::Scsi;
  drive.ata.units[0].media = sim::SimMedia(1000, 512);
  sim::applyTransportDefaults(drive);
  const size_t first = std::min<size_t>(size, 8);
  drive.scsi.capacity10Reply.assign(data, data + first);
  drive.scsi.capacity16Reply.assign(data + first, data + std::min<size_t>(size, first + 32));
  drive.scsi.readCapacityFails = (flags & 1) != 0;
  drive.scsi.readCapacity16Fails = (flags & 2) != 0;
  drive.scsi.readCapacity16 = (flags & 4) == 0;
  sim::SimMachine machine;
  machine.drives.push_back(drive);
  sim::SimPlatform platform(std::move(machine));

  SilentPrompter prompter;
  DriveRecord record{};
  const Handle handle = platform.createFile("\\\\.\\PhysicalDrive0", GENERIC_READ | GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
  readCapacity(platform, prompter, handle, record);
  platform.closeHandle(handle);
  fuzz::check(record.totalSectors >= 1, "a drive has at least one sector");
  fuzz::check(record.identifiedSectors == record.totalSectors, "the identified count is the read one");
  return 0;
}
