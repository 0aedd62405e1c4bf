// NVMe identity: the controller's texts as the drive wrote them, and the namespace's
// size and block size from its formatted LBA format.

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "discovery/nvme_identity.h"

namespace palvoro {
namespace {

using Page = std::array<uint8_t, 4096>;

void text(Page& p, size_t at, size_t width, const std::string& value) {
  std::memset(p.data() + at, ' ', width);
  std::memcpy(p.data() + at, value.data(), std::min(width, value.size()));
}

// The fields are ASCII: any other byte is marked '?' in place, and a cut keeps the rest.
TEST(NvmeIdentity, ControllerTextsLoseTheEndPaddingAndMarkEveryByteOutsideAscii) {
  const struct {
    std::string model, serial, firmware;
    const char *wantModel, *wantSerial, *wantFirmware;
  } cases[] = {
      {"Sabik NV2 1TB", "SBK0000123", "1.0", "Sabik NV2 1TB", "SBK0000123", "1.0"},
      {"  Two  Spaces ", " S N ", "FW 1", "  Two  Spaces", " S N", "FW 1"},
      {"Caf\xE9 \xFF" "Drive", "\xC3\xA9t\xC3\xA9", "1\x1B[2J\a\r", "Caf? ?Drive", "??t??", "1?[2J??"},
      {std::string(40, 'M'), std::string(20, 'S'), std::string(8, 'F'), nullptr, nullptr, nullptr},
      {std::string("Cut\0Here", 8), "", "", "Cut", "", ""},
  };
  for (const auto& c : cases) {
    Page p{};
    text(p, 24, 40, c.model);
    text(p, 4, 20, c.serial);
    text(p, 64, 8, c.firmware);
    p[256] = 0x10;  // Device Self-test
    p[316] = 45;
    p[516] = 1;
    DriveRecord record{};
    std::memset(&record, 0xA5, sizeof record);
    const NvmeControllerIdentity id = nvmeControllerIdentity(NvmeIdentifyPage(p.data(), p.size()), record);
    EXPECT_STREQ(record.model, c.wantModel ? c.wantModel : std::string(40, 'M').c_str());
    EXPECT_STREQ(record.serialNumber, c.wantSerial ? c.wantSerial : std::string(20, 'S').c_str());
    EXPECT_STREQ(record.firmwareRevision, c.wantFirmware ? c.wantFirmware : std::string(8, 'F').c_str());
    EXPECT_TRUE(id.selfTest());
    EXPECT_EQ(id.extendedSelfTestMinutes, 45);
    EXPECT_EQ(id.namespaceCount, 1u);
  }
  Page without{};
  EXPECT_FALSE(nvmeControllerFields(NvmeIdentifyPage(without.data(), without.size())).selfTest());
}

TEST(NvmeIdentity, NamespaceFormat) {
  const struct {
    uint8_t nlbaf, flbas;
    int format;   // the format whose LBADS is set
    uint8_t lbads;
    uint32_t want;
  } cases[] = {
      {0, 0x00, 0, 9, 512},
      {1, 0x01, 1, 12, 4096},
      {1, 0x11, 1, 12, 4096},   // bit 4: metadata at the end of the block, not part of the index
      {17, 0x21, 17, 12, 4096},  // bits 6:5 are the index's upper bits: 1 + 16
      {0, 0x01, 1, 12, 0},       // names a format beyond NLBAF
      {0, 0x00, 0, 8, 0},        // 256-byte blocks: nothing transfers can be built on
      {0, 0x00, 0, 17, 0},       // 128 KiB blocks
  };
  for (const auto& c : cases) {
    Page p{};
    const uint64_t sectors = 1953525168;
    std::memcpy(p.data(), &sectors, 8);
    p[25] = c.nlbaf;
    p[26] = c.flbas;
    p[128 + 4 * static_cast<size_t>(c.format) + 2] = c.lbads;
    const NvmeNamespaceFormat format = nvmeNamespaceFormat(NvmeIdentifyPage(p.data(), p.size()));
    EXPECT_EQ(format.sectorSize, c.want) << int(c.flbas) << " " << int(c.lbads);
    EXPECT_EQ(format.sectors, sectors);
  }
}

}  // namespace
}  // namespace palvoro
