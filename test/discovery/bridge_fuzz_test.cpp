// Arbitrary answers from bridges and enclosures, through the whole probe: capability
// answers, VPD pages and member result blocks. Nothing may crash, read past a buffer
// or leave a record string without its terminator.

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "discovery/detection.h"
#include "discovery/raid_status.h"
#include "platform/sim/sim_platform.h"
#include "smart/smart_pages.h"

namespace palvoro {
namespace {

class QuietPrompter : public Prompter {
 public:
  PromptAnswer ask(const std::string&, const std::string&, PromptIcon, PromptButtons, PromptAnswer,
                   PromptPurpose) override {
    return PromptAnswer::Ok;
  }
};

std::vector<uint8_t> randomBytes(std::mt19937& rng, size_t maxLength) {
  std::uniform_int_distribution<size_t> length(0, maxLength);
  std::uniform_int_distribution<int> byte(0, 255);
  std::vector<uint8_t> bytes(length(rng));
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(byte(rng));
  return bytes;
}

bool terminated(const char* field, size_t width) { return std::memchr(field, 0, width) != nullptr; }

TEST(BridgeFuzz, ArbitraryBridgeAndEnclosureAnswers) {
  std::mt19937 rng(20261208);
  QuietPrompter prompter;
  for (int round = 0; round < 300; ++round) {
    sim::SimMachine m;
    sim::SimDrive d;
    d.number = 0;
    sim::IdentityDescription identity;
    identity.sectors = 100000;
    d.ata.units[0].identify = sim::makeIdentify(identity);
    d.ata.units[0].media = sim::SimMedia(100000, 512);
    d.transport = round % 3 == 0 ? sim::Transport::UsbAtacb : round % 3 == 1 ? sim::Transport::Raid : sim::Transport::FireWire;
    sim::applyTransportDefaults(d);
    d.scsi.inquiry = randomBytes(rng, 96);
    if (round % 2 == 0 && d.scsi.inquiry.size() >= 16) std::memcpy(d.scsi.inquiry.data() + 8, "VH      ", 8);
    d.scsi.atacbDriver.capabilityAnswer = randomBytes(rng, 512);
    for (uint8_t page : {0x01, 0x02, 0x80, 0xC3}) d.scsi.vpd[page] = randomBytes(rng, 120);
    d.scsi.diagnostic[0x82] = randomBytes(rng, 12);
    m.drives.push_back(d);
    sim::SimPlatform platform(std::move(m));
    ProbeEnvironment env{platform, prompter, false, nullptr, 0xA0, &judgeSmartAttributes};
    DriveTable table{};
    detectDrives(env, table);
    for (const DriveRecord& r : table.records) {
      EXPECT_TRUE(terminated(r.model, sizeof r.model));
      EXPECT_TRUE(terminated(r.serialNumber, sizeof r.serialNumber));
      EXPECT_TRUE(terminated(r.firmwareRevision, sizeof r.firmwareRevision));
      EXPECT_TRUE(terminated(r.memberSerialA, sizeof r.memberSerialA));
      EXPECT_TRUE(terminated(r.memberSerialB, sizeof r.memberSerialB));
      EXPECT_TRUE(terminated(r.devicePath, sizeof r.devicePath));
      EXPECT_LE(r.raidState, 15);
    }
  }
}

TEST(BridgeFuzz, ArbitraryMemberResultBlocks) {
  std::mt19937 rng(42);
  std::uniform_int_distribution<int> byte(0, 255);
  int healthy = 0;
  for (int round = 0; round < 5000; ++round) {
    uint8_t block[512];
    for (uint8_t& b : block) b = static_cast<uint8_t>(byte(rng));
    if (round % 4 == 0) {
      block[3] = 0x4F;
      block[4] = 0xC2;
    }
    healthy += memberResultStatus(block) == kSmartStatusHealthy ? 1 : 0;
  }
  EXPECT_GT(healthy, 0);
}

}  // namespace
}  // namespace palvoro
