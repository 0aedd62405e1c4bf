#include "device/ata_command.h"

#include <gtest/gtest.h>

#include "support/case_name.h"

#include <array>
#include <string>
#include <vector>

#include "device/drive_handle.h"
#include "device/drive_requests.h"
#include "device/device_test_support.h"

namespace palvoro {
namespace {

using palvoro::testsupport::caseName;

using namespace devtest;


// ---------------------------------------------------------------------------------
// The request record of every command, as the driver receives it.

// A dual-unit drive that accepts every command the layer sends, so each call goes
// through to its last request.
sim::SimMachine recordMachine() { return machineWith({makeDualUnitDrive(0, 2'000'000, 1'000'000)}); }

struct RecordCase {
  const char* name;
  void (*send)(Rig&);
  size_t requests;      // ATA requests the call sends
  size_t index;         // the one examined
  Bytes header;         // the 40 header bytes, written out from the command table
  uint32_t inSize;
  uint32_t outSize;
  Bytes data;           // data-out only: the start of the data area; the rest is zero
};

class AtaRecordTest : public ::testing::TestWithParam<RecordCase> {};

TEST_P(AtaRecordTest, DriverReceivesExactRecord) {
  const RecordCase& c = GetParam();
  Rig rig(recordMachine());
  ASSERT_TRUE(rig.openDrive());
  rig.platform.clearLog();
  c.send(rig);
  const std::vector<SimRequest> ata = rig.ata();
  ASSERT_EQ(ata.size(), c.requests);
  const SimRequest& r = ata[c.index];
  EXPECT_EQ(r.inSize, c.inSize);
  EXPECT_EQ(r.outSize, c.outSize);
  ASSERT_EQ(r.input.size(), c.inSize);
  ASSERT_EQ(c.header.size(), 40u);
  EXPECT_EQ(hex(slice(r.input, 0, 40)), hex(c.header));
  if (c.inSize == 552) {
    EXPECT_EQ(hex(slice(r.input, 40, c.data.size())), hex(c.data));
    EXPECT_TRUE(allZero(r.input, 40 + c.data.size())) << "data area beyond the entries is not zero";
  }
}

// Rows of the header: Length, AtaFlags, PathId/TargetId/Lun/reserved | DataTransferLength,
// TimeOutValue | reserved, DataBufferOffset | PreviousTaskFile | CurrentTaskFile.
const RecordCase kRecordCases[] = {
    {"IdentifyDeviceUnit2",
     [](Rig& r) {
       uint8_t reply[512];
       (void)ataIdentifyUnit2(r.platform, r.drive.handle(), reply);
     },
     1, 0,
     {0x28, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x02, 0x00, 0x00, 0x1E, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x01, 0x01, 0x00, 0x00, 0xA2, 0xEC, 0x00},
     40, 552, {}},
    {"ReadLogExtIdentifyPage3",
     [](Rig& r) {
       uint8_t page[512];
       (void)ataReadIdentifyDataLog(r.platform, r.drive.handle(), page);
     },
     1, 0,
     {0x28, 0x00, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x02, 0x00, 0x00, 0x1E, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x01, 0x30, 0x03, 0x00, 0xA0, 0x2F, 0x00},
     40, 552, {}},
    {"ExecuteDeviceDiagnosticUnit0",
     [](Rig& r) { (void)ataDiagnosticSignatureIsBridge(r.platform, r.drive.handle(), 0); },
     1, 0,
     {0x28, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x1E, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0xA0, 0x90, 0x00},
     40, 552, {}},
    {"ExecuteDeviceDiagnosticUnit2",
     [](Rig& r) { (void)ataDiagnosticSignatureIsBridge(r.platform, r.drive.handle(), 2); },
     1, 0,
     {0x28, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x1E, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0xA2, 0x90, 0x00},
     40, 552, {}},
    {"SmartReadDataUnit0",
     [](Rig& r) {
       uint8_t page[512];
       (void)ataSmartReadData(r.platform, r.drive.handle(), 0, page);
     },
     1, 0,
     {0x28, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x02, 0x00, 0x00, 0x1E, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0xD0, 0x01, 0x01, 0x4F, 0xC2, 0xA0, 0xB0, 0x00},
     40, 552, {}},
    {"SmartReadThresholdsUnit2",
     [](Rig& r) {
       uint8_t page[512];
       (void)ataSmartReadThresholds(r.platform, r.drive.handle(), 2, page);
     },
     1, 0,
     {0x28, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x02, 0x00, 0x00, 0x1E, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0xD1, 0x01, 0x01, 0x4F, 0xC2, 0xA2, 0xB0, 0x00},
     40, 552, {}},
    {"SmartEnableOperationsUnit0",
     [](Rig& r) { (void)r.drive.smartEnable(0); },
     1, 0,
     {0x28, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x1E, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0xD8, 0x00, 0x00, 0x4F, 0xC2, 0xA0, 0xB0, 0x00},
     40, 40, {}},
    {"SmartEnableOperationsUnit2",
     [](Rig& r) { (void)r.drive.smartEnable(2); },
     1, 0,
     {0x28, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x1E, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0xD8, 0x00, 0x00, 0x4F, 0xC2, 0xA2, 0xB0, 0x00},
     40, 40, {}},
    {"SmartReturnStatusUnit0",
     [](Rig& r) { (void)r.drive.smartReturnStatus(0); },
     1, 0,
     {0x28, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x1E, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0xDA, 0x00, 0x00, 0x4F, 0xC2, 0xA0, 0xB0, 0x00},
     40, 40, {}},
    {"SmartReturnStatusUnit2",
     [](Rig& r) { (void)r.drive.smartReturnStatus(2); },
     1, 0,
     {0x28, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x1E, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0xDA, 0x00, 0x00, 0x4F, 0xC2, 0xA2, 0xB0, 0x00},
     40, 40, {}},
    {"SmartWriteLogSctSwitchOn",
     [](Rig& r) { (void)sctVendorSwitch(r.platform, 0, false, 1); },
     1, 0,
     {0x28, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x02, 0x00, 0x00, 0x1E, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0xD6, 0x01, 0xE0, 0x4F, 0xC2, 0xA0, 0xB0, 0x00},
     552, 40, {0x13, 0xC0, 0x01}},
    {"SmartWriteLogSctSwitchOff",
     [](Rig& r) { (void)sctVendorSwitch(r.platform, 0, false, 0); },
     1, 0,
     {0x28, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x02, 0x00, 0x00, 0x1E, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0xD6, 0x01, 0xE0, 0x4F, 0xC2, 0xA0, 0xB0, 0x00},
     552, 40, {0x13, 0xC0, 0x00}},
    {"ReadVerifyExtOneSector",
     [](Rig& r) { (void)r.drive.readVerifyExt(0, 0x12345678, 1); },
     1, 0,
     {0x28, 0x00, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x1E, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x12, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x01, 0x78, 0x56, 0x34, 0x00, 0x42, 0x00},
     40, 40, {}},
    {"ReadVerifyExt256Sectors",
     [](Rig& r) { (void)r.drive.readVerifyExt(0, 0x00ABCDEF, 256); },
     1, 0,
     {0x28, 0x00, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x1E, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00,
      0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0xEF, 0xCD, 0xAB, 0x00, 0x42, 0x00},
     40, 40, {}},
    // Bit 32 of the LBA is dropped; the unit goes into the high nibble of prev LBA high.
    {"ReadVerifyExt65536SectorsUnit2AboveFourGiB",
     [](Rig& r) { (void)r.drive.readVerifyExt(2, 0x1'2345'6789ull, 65536); },
     1, 0,
     {0x28, 0x00, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x1E, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x23, 0x00, 0x20, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x89, 0x67, 0x45, 0x00, 0x42, 0x00},
     40, 40, {}},
    // Every bit above 31 is dropped, however many are set.
    {"ReadVerifyExtHighBitsNeverSent",
     [](Rig& r) { (void)r.drive.readVerifyExt(0, 0x7F00'DEAD'BEEFull, 2); },
     1, 0,
     {0x28, 0x00, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x1E, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00,
      0x00, 0x00, 0xDE, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x02, 0xEF, 0xBE, 0xAD, 0x00, 0x42, 0x00},
     40, 40, {}},
    {"SanitizeBlockEraseExtUnit0",
     [](Rig& r) { (void)r.drive.sanitizeBlockErase(0); },
     2, 0,
     {0x28, 0x00, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x1E, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x42, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x12, 0x00, 0x72, 0x45, 0x6B, 0x00, 0xB4, 0x00},
     40, 40, {}},
    {"SanitizeStatusExtUnit0",
     [](Rig& r) { (void)r.drive.sanitizeBlockErase(0); },
     2, 1,
     {0x28, 0x00, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x1E, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xB4, 0x00},
     40, 40, {}},
    {"SanitizeBlockEraseExtUnit2",
     [](Rig& r) { (void)r.drive.sanitizeBlockErase(2); },
     2, 0,
     {0x28, 0x00, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x1E, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00,
      0x20, 0x00, 0x42, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x12, 0x00, 0x72, 0x45, 0x6B, 0x00, 0xB4, 0x00},
     40, 40, {}},
    // The status request carries the bare unit in the device register, without A0h.
    {"SanitizeStatusExtUnit2",
     [](Rig& r) { (void)r.drive.sanitizeBlockErase(2); },
     2, 1,
     {0x28, 0x00, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x1E, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00,
      0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0xB4, 0x00},
     40, 40, {}},
    {"DataSetManagementTrimUnit0",
     [](Rig& r) { (void)trimRange(r.platform, makeTrimTarget(0, false, 0), 0x10, 8); },
     1, 0,
     {0x28, 0x00, 0x1D, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x02, 0x00, 0x00, 0x1E, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00,
      0xE0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x06, 0x00},
     552, 40, {0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00}},
    {"DataSetManagementTrimUnit2",
     [](Rig& r) { (void)trimRange(r.platform, makeTrimTarget(0, false, 2), 0x10, 8); },
     1, 0,
     {0x28, 0x00, 0x1D, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x02, 0x00, 0x00, 0x1E, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00,
      0xE0, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00,
      0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x06, 0x00},
     552, 40, {0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00}},
    {"DataSetManagementXlUnit0",
     [](Rig& r) { (void)trimRangeXl(r.platform, makeTrimTarget(0, false, 0), 0x10, 8); },
     1, 0,
     {0x28, 0x00, 0x1D, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x02, 0x00, 0x00, 0x1E, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00,
      0xE0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x07, 0x00},
     552, 40,
     {0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
};

INSTANTIATE_TEST_SUITE_P(EveryCommand, AtaRecordTest, ::testing::ValuesIn(kRecordCases), caseName<RecordCase>);

// Counts outside 1..65536 cannot be put in the count registers: nothing is sent.
TEST(AtaRecordTest, ReadVerifyCountOutsideRegisterRangeSendsNothing) {
  for (uint32_t count : {0u, 65537u, 0xFFFFFFFFu}) {
    Rig rig(recordMachine());
    ASSERT_TRUE(rig.openDrive());
    EXPECT_EQ(rig.drive.readVerifyExt(0, 0, count), AtaStatus::Failure) << count;
    EXPECT_TRUE(rig.ata().empty()) << count;
  }
}

// ---------------------------------------------------------------------------------
// Data-in commands hand back the 512 bytes from behind the header.

TEST(AtaDataInTest, IdentifyUnit2ReturnsTheSecondUnitsWords) {
  Rig rig(machineWith({makeDualUnitDrive(0, 2'000'000, 1'000'000)}));
  ASSERT_TRUE(rig.openDrive());
  uint8_t reply[512];
  ASSERT_TRUE(ataIdentifyUnit2(rig.platform, rig.drive.handle(), reply));
  EXPECT_EQ(reply[0], 0x40);  // word 0: fixed ATA device
  // Model "VHT DUAL UNIT B2" from word 27, two characters a word, high byte first.
  EXPECT_EQ(reply[54], 'H');
  EXPECT_EQ(reply[55], 'V');
  EXPECT_EQ(reply[68], '2');
  EXPECT_EQ(reply[69], 'B');
  // Words 100..103: 1,000,000 = 000F4240h sectors.
  EXPECT_EQ(reply[200], 0x40);
  EXPECT_EQ(reply[201], 0x42);
  EXPECT_EQ(reply[202], 0x0F);
  EXPECT_EQ(reply[203], 0x00);
}

TEST(AtaDataInTest, ReadLogReturnsPage3) {
  sim::SimMachine m = machineWith({makeDrive({})});
  sim::Page page{};
  page[0] = 0x01;
  page[2] = 0x03;
  page[8] = 0x5A;
  page[15] = 0x80;
  page[511] = 0xC3;
  m.drives[0].ata.units[0].identifyLogPage3 = page;
  Rig rig(std::move(m));
  ASSERT_TRUE(rig.openDrive());
  uint8_t reply[512];
  ASSERT_TRUE(ataReadIdentifyDataLog(rig.platform, rig.drive.handle(), reply));
  EXPECT_EQ(hex(reply, 512), hex(page.data(), 512));
}

TEST(AtaDataInTest, SmartPagesCarryTheAttributeTable) {
  Rig rig(machineWith({makeDrive({})}));
  ASSERT_TRUE(rig.openDrive());
  uint8_t data[512];
  ASSERT_TRUE(ataSmartReadData(rig.platform, rig.drive.handle(), 0, data));
  // Entry 1 at byte 2: id 05, flags 0033h, value 100, worst 100; entry 2 at byte 14:
  // id 09, raw 1234 = 04D2h at bytes 19..24.
  EXPECT_EQ(hex(data + 2, 7), hex(Bytes{0x05, 0x33, 0x00, 100, 100, 0x00, 0x00}));
  EXPECT_EQ(hex(data + 14, 11), hex(Bytes{0x09, 0x32, 0x00, 98, 98, 0xD2, 0x04, 0x00, 0x00, 0x00, 0x00}));
  uint8_t thresholds[512];
  ASSERT_TRUE(ataSmartReadThresholds(rig.platform, rig.drive.handle(), 0, thresholds));
  EXPECT_EQ(hex(thresholds + 2, 2), hex(Bytes{0x05, 36}));
  EXPECT_EQ(hex(thresholds + 14, 2), hex(Bytes{0x09, 0}));
}

// ---------------------------------------------------------------------------------
// Result rules: request only, ERR, the 4Fh/C2h signature, the diagnostic signature.

// Registers*: the drive completes the command but answers other LBA mid/high bytes.
enum class Inject { Nothing, AtaErr, RequestFails, RegistersHalfSignature, RegistersHalfBridge };

struct RuleCase {
  const char* name;
  void (*arrange)(sim::SimMachine&);  // may be null
  Inject inject;
  // Runs the command through the public call and gives its result in that call's own
  // convention: bool calls 1 true / 0 false, DriveHandle commands 0 / 1, codes as they are.
  int (*run)(Rig&);
  int expected;
};

int identifyUnit2(Rig& r) {
  uint8_t reply[512];
  return ataIdentifyUnit2(r.platform, r.drive.handle(), reply) ? 1 : 0;
}
int readLog(Rig& r) {
  uint8_t page[512];
  return ataReadIdentifyDataLog(r.platform, r.drive.handle(), page) ? 1 : 0;
}
int smartData(Rig& r) {
  uint8_t page[512];
  return ataSmartReadData(r.platform, r.drive.handle(), 0, page) ? 1 : 0;
}
int smartThresholds(Rig& r) {
  uint8_t page[512];
  return ataSmartReadThresholds(r.platform, r.drive.handle(), 0, page) ? 1 : 0;
}
int smartEnable(Rig& r) { return static_cast<int>(r.drive.smartEnable(0)); }
int smartStatus(Rig& r) { return static_cast<int>(r.drive.smartReturnStatus(0)); }
int smartStatusTri(Rig& r) { return static_cast<int>(ataSmartReturnStatusTri(r.platform, r.drive.handle(), 0)); }
int diagnosticIsBridge(Rig& r) { return ataDiagnosticSignatureIsBridge(r.platform, r.drive.handle(), 0) ? 1 : 0; }
int readVerify(Rig& r) { return static_cast<int>(r.drive.readVerifyExt(0, 100, 8)); }
int sanitize(Rig& r) { return static_cast<int>(r.drive.sanitizeBlockErase(0)); }
int sctOn(Rig& r) { return static_cast<int>(sctVendorSwitch(r.platform, 0, false, 1)); }
int trim(Rig& r) { return static_cast<int>(trimRange(r.platform, makeTrimTarget(0, false, 0), 100, 8)); }
int trimXl(Rig& r) { return static_cast<int>(trimRangeXl(r.platform, makeTrimTarget(0, false, 0), 100, 8)); }

void withLogPage(sim::SimMachine& m) { m.drives[0].ata.units[0].identifyLogPage3 = sim::makeCapabilitiesPage(0); }
void bridge(sim::SimMachine& m) { m.drives[0].ata.bridgeSignature = true; }
// A pre-failure attribute at its threshold, and one just above it.
void attributeAtThreshold(sim::SimMachine& m) { m.drives[0].ata.units[0].smart.attributes[0].value = 36; }
void attributeAboveThreshold(sim::SimMachine& m) { m.drives[0].ata.units[0].smart.attributes[0].value = 37; }
void attributeBelowThreshold(sim::SimMachine& m) { m.drives[0].ata.units[0].smart.attributes[0].value = 3; }
void reportsExceeded(sim::SimMachine& m) { m.drives[0].ata.units[0].smart.reportExceeded = true; }

class AtaResultRuleTest : public ::testing::TestWithParam<RuleCase> {};

TEST_P(AtaResultRuleTest, CommandReportsAsItsRuleSays) {
  const RuleCase& c = GetParam();
  DriveOptions options;
  options.sctVendorSwitch = true;
  options.dsmXl = true;
  sim::SimMachine m = machineWith({makeDrive(options)});
  if (c.arrange != nullptr) c.arrange(m);
  Rig rig(std::move(m));
  ASSERT_TRUE(rig.openDrive());
  if (c.inject != Inject::Nothing) {
    sim::SimFault f;
    f.kind = c.inject == Inject::AtaErr         ? sim::SimFault::Kind::AtaError
             : c.inject == Inject::RequestFails ? sim::SimFault::Kind::FailRequest
                                                : sim::SimFault::Kind::Registers;
    f.lbaMid = c.inject == Inject::RegistersHalfSignature ? 0x4F : 0xCD;
    f.lbaHigh = 0x00;
    f.drive = 0;
    f.ioctl = IOCTL_ATA_PASS_THROUGH;
    rig.platform.injectFault(f);
  }
  EXPECT_EQ(c.run(rig), c.expected);
  EXPECT_FALSE(rig.ata().empty());
}

const RuleCase kRuleCases[] = {
    // IDENTIFY DEVICE and READ LOG EXT look at the request only.
    {"IdentifyOk", nullptr, Inject::Nothing, identifyUnit2, 1},
    {"IdentifyErrStillSucceeds", nullptr, Inject::AtaErr, identifyUnit2, 1},
    {"IdentifyRequestFails", nullptr, Inject::RequestFails, identifyUnit2, 0},
    {"ReadLogOk", withLogPage, Inject::Nothing, readLog, 1},
    {"ReadLogErrStillSucceeds", withLogPage, Inject::AtaErr, readLog, 1},
    {"ReadLogRequestFails", withLogPage, Inject::RequestFails, readLog, 0},
    // SMART READ DATA checks ERR; READ THRESHOLDS also the signature.
    {"SmartReadDataOk", nullptr, Inject::Nothing, smartData, 1},
    {"SmartReadDataErr", nullptr, Inject::AtaErr, smartData, 0},
    {"SmartReadDataRequestFails", nullptr, Inject::RequestFails, smartData, 0},
    {"SmartReadThresholdsOk", nullptr, Inject::Nothing, smartThresholds, 1},
    {"SmartReadThresholdsErr", nullptr, Inject::AtaErr, smartThresholds, 0},
    {"SmartReadThresholdsRequestFails", nullptr, Inject::RequestFails, smartThresholds, 0},
    {"SmartReadThresholdsWithoutSignature", nullptr, Inject::RegistersHalfSignature, smartThresholds, 0},
    {"SmartReadDataIgnoresSignature", nullptr, Inject::RegistersHalfSignature, smartData, 1},
    {"SmartEnableWithoutSignature", nullptr, Inject::RegistersHalfSignature, smartEnable, 1},
    {"SmartStatusOtherRegisters", nullptr, Inject::RegistersHalfSignature, smartStatus, 1},
    {"SmartStatusTriOtherRegistersIsExceeded", nullptr, Inject::RegistersHalfSignature, smartStatusTri, 0},
    {"DiagnosticHalfBridgeSignature", nullptr, Inject::RegistersHalfBridge, diagnosticIsBridge, 0},
    {"SmartEnableOk", nullptr, Inject::Nothing, smartEnable, 0},
    {"SmartEnableErr", nullptr, Inject::AtaErr, smartEnable, 1},
    {"SmartEnableRequestFails", nullptr, Inject::RequestFails, smartEnable, 1},
    // RETURN STATUS: F4h/2Ch (threshold exceeded) reads exactly like a failed request.
    {"SmartStatusGood", nullptr, Inject::Nothing, smartStatus, 0},
    {"SmartStatusAttributeAboveThreshold", attributeAboveThreshold, Inject::Nothing, smartStatus, 0},
    {"SmartStatusAttributeAtThreshold", attributeAtThreshold, Inject::Nothing, smartStatus, 1},
    {"SmartStatusAttributeBelowThreshold", attributeBelowThreshold, Inject::Nothing, smartStatus, 1},
    {"SmartStatusDriveReportsExceeded", reportsExceeded, Inject::Nothing, smartStatus, 1},
    {"SmartStatusErr", nullptr, Inject::AtaErr, smartStatus, 1},
    {"SmartStatusRequestFails", nullptr, Inject::RequestFails, smartStatus, 1},
    {"SmartStatusTriGood", nullptr, Inject::Nothing, smartStatusTri, 1},
    {"SmartStatusTriExceeded", reportsExceeded, Inject::Nothing, smartStatusTri, 0},
    {"SmartStatusTriErr", nullptr, Inject::AtaErr, smartStatusTri, -1},
    {"SmartStatusTriRequestFails", nullptr, Inject::RequestFails, smartStatusTri, -1},
    // EXECUTE DEVICE DIAGNOSTIC: only CDh/ABh in LBA mid/high marks a bridge.
    {"DiagnosticOrdinaryDrive", nullptr, Inject::Nothing, diagnosticIsBridge, 0},
    {"DiagnosticBridge", bridge, Inject::Nothing, diagnosticIsBridge, 1},
    {"DiagnosticBridgeRequestFails", bridge, Inject::RequestFails, diagnosticIsBridge, 0},
    {"DiagnosticBridgeErr", bridge, Inject::AtaErr, diagnosticIsBridge, 0},
    {"ReadVerifyOk", nullptr, Inject::Nothing, readVerify, 0},
    {"ReadVerifyErr", nullptr, Inject::AtaErr, readVerify, 1},
    {"ReadVerifyRequestFails", nullptr, Inject::RequestFails, readVerify, 1},
    {"SanitizeOk", nullptr, Inject::Nothing, sanitize, 0},
    {"SanitizeErr", nullptr, Inject::AtaErr, sanitize, 1},
    {"SanitizeRequestFails", nullptr, Inject::RequestFails, sanitize, 1},
    {"SctSwitchOk", nullptr, Inject::Nothing, sctOn, 0},
    {"SctSwitchErr", nullptr, Inject::AtaErr, sctOn, 4},
    {"SctSwitchRequestFails", nullptr, Inject::RequestFails, sctOn, 4},
    {"TrimOk", nullptr, Inject::Nothing, trim, 0},
    {"TrimErr", nullptr, Inject::AtaErr, trim, 21},
    {"TrimRequestFails", nullptr, Inject::RequestFails, trim, 21},
    {"TrimXlOk", nullptr, Inject::Nothing, trimXl, 0},
    {"TrimXlErr", nullptr, Inject::AtaErr, trimXl, 21},
    {"TrimXlRequestFails", nullptr, Inject::RequestFails, trimXl, 21},
};

INSTANTIATE_TEST_SUITE_P(EveryRule, AtaResultRuleTest, ::testing::ValuesIn(kRuleCases), caseName<RuleCase>);

// A drive that has SMART switched off answers every SMART command but ENABLE with ERR.
TEST(AtaResultRuleTest, SmartDisabledFailsUntilEnabled) {
  sim::SimMachine m = machineWith({makeDrive({})});
  m.drives[0].ata.units[0].smart.enabled = false;
  Rig rig(std::move(m));
  ASSERT_TRUE(rig.openDrive());
  EXPECT_EQ(rig.drive.smartReturnStatus(0), AtaStatus::Failure);
  EXPECT_EQ(rig.drive.smartEnable(0), AtaStatus::Success);
  EXPECT_EQ(rig.drive.smartReturnStatus(0), AtaStatus::Success);
}

}  // namespace
}  // namespace palvoro
