#include "discovery/inquiry_identity.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "device/device_test_support.h"
#include "device/scsi_transport.h"
#include "platform/ioctl_codes.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_platform.h"

namespace palvoro {
namespace {

using devtest::Bytes;
using devtest::RecordingPrompter;

// Standard INQUIRY data as a device returns it (96 bytes): peripheral type 0, additional
// length 91, the texts at 8 (vendor), 16 (product), 32 (revision) exactly as given, and
// `vendorBytes` from byte 36 on.
Bytes inquiryData(const std::string& vendor, const std::string& product, const std::string& revision,
                  const std::string& vendorBytes = "") {
  Bytes b(96, 0);
  b[2] = 0x05;
  b[3] = 0x02;
  b[4] = 91;
  auto put = [&b](size_t at, const std::string& s) {
    for (size_t i = 0; i < s.size() && at + i < b.size(); ++i) b[at + i] = static_cast<uint8_t>(s[i]);
  };
  put(8, vendor);
  put(16, product);
  put(32, revision);
  put(36, vendorBytes);
  return b;
}

// The unit serial number page: byte 1 80h, byte 3 the length, the text from byte 4.
Bytes serialPage(const std::string& serial) {
  Bytes b(4 + serial.size(), 0);
  b[1] = 0x80;
  b[3] = static_cast<uint8_t>(serial.size());
  std::memcpy(b.data() + 4, serial.data(), serial.size());
  return b;
}

sim::SimDrive scsiDrive(uint64_t sectors, uint32_t sectorSize = 512) {
  sim::SimDrive d;
  d.number = 0;
  d.transport = sim::Transport::Scsi;
  d.ata.units[0].media = sim::SimMedia(sectors, sectorSize);
  sim::applyTransportDefaults(d);
  return d;
}

struct Rig {
  explicit Rig(sim::SimDrive drive) : platform(devtest::machineWith({std::move(drive)})) {
    handle = platform.createFile(devtest::kDrive0, devtest::kReadWrite, devtest::kShareReadWrite, OPEN_EXISTING, 0);
  }
  ~Rig() {
    if (handle != INVALID_HANDLE_VALUE) platform.closeHandle(handle);
  }
  // The CDBs of the SCSI requests received (bytes 28..43 of SCSI_PASS_THROUGH).
  std::vector<Bytes> cdbs() const {
    std::vector<Bytes> out;
    for (const sim::SimRequest& r : platform.ioctls(IOCTL_SCSI_PASS_THROUGH)) {
      out.push_back(devtest::slice(r.input, 28, 16));
    }
    return out;
  }
  sim::SimPlatform platform;
  Handle handle = INVALID_HANDLE_VALUE;
};

DriveRecord emptyRecord(int32_t busType) {
  DriveRecord r;
  std::memset(&r, 0, sizeof r);
  r.busType = busType;
  return r;
}

struct IdentityCase {
  const char* name;
  InquiryForm form;
  int32_t busType;
  std::string vendor;       // bytes 8..15 as sent
  std::string product;      // bytes 16..31
  std::string revision;     // bytes 32..35
  std::string vendorBytes;  // from byte 36
  std::optional<std::string> vpdSerial;  // no VPD 80h page when absent
  const char* model;
  const char* serial;
  const char* firmware;
};

const IdentityCase kCases[] = {
    {"generic: trimmed vendor and product, VPD serial trimmed", InquiryForm::GenericScsi, 1, "IBM     ",
     "DDYS-T36950M    ", "S96H", "", "  AB12CD34  ", "IBM DDYS-T36950M", "AB12CD34", "S96H"},
    {"generic: leading blanks of vendor and product go", InquiryForm::GenericScsi, 1, " HP     ",
     "  Ultrium 5     ", "Z6 ", "", "X1", "HP Ultrium 5", "X1", "Z6"},
    {"generic: firmware loses only its trailing blanks", InquiryForm::GenericScsi, 1, "ACME    ",
     "Disk            ", " 1A ", "", "S", "ACME Disk", "S", " 1A"},
    {"generic: 30-character serial kept as its first 20", InquiryForm::GenericScsi, 1, "ACME    ",
     "Disk            ", "0001", "", "0123456789ABCDEFGHIJKLMNOPQRST", "ACME Disk", "0123456789ABCDEFGHIJ",
     "0001"},
    {"generic: serial trimmed before it is cut", InquiryForm::GenericScsi, 1, "ACME    ", "Disk            ",
     "0001", "", "     ABCDEFGHIJKLMNOPQRSTUVWXYZ", "ACME Disk", "ABCDEFGHIJKLMNOPQRST", "0001"},
    {"generic: a cut may end in a blank", InquiryForm::GenericScsi, 1, "ACME    ", "Disk            ", "0001",
     "", "ABCDEFGHIJKLMNOPQRS TUV", "ACME Disk", "ABCDEFGHIJKLMNOPQRS ", "0001"},
    {"generic: no VPD page leaves the serial empty", InquiryForm::GenericScsi, 1, "ACME    ",
     "Disk            ", "0001", "", std::nullopt, "ACME Disk", "", "0001"},
    {"generic: a zero byte ends the product early", InquiryForm::GenericScsi, 1, "ACME    ",
     std::string("DISK\0GARBAGE0000", 16), "0001", "", "S", "ACME DISK", "S", "0001"},
    {"generic: empty vendor keeps the format's blank", InquiryForm::GenericScsi, 1, "        ",
     "Disk            ", "0001", "", "S", " Disk", "S", "0001"},
    {"SEAGATE on SCSI: serial from bytes 36..43", InquiryForm::GenericScsi, 1, "SEAGATE ",
     "ST3146855LC     ", "0003", "3LN1ABCDzzzz", "VPDSERIAL", "SEAGATE ST3146855LC", "3LN1ABCD", "0003"},
    {"SEAGATE on SCSI: trailing blanks of bytes 36..43 go", InquiryForm::GenericScsi, 1, "SEAGATE ",
     "ST3146855LC     ", "0003", "  3LN1  X", "VPDSERIAL", "SEAGATE ST3146855LC", "  3LN1", "0003"},
    {"SEAGATE on SCSI without a VPD page still gets bytes 36..43", InquiryForm::GenericScsi, 1, "SEAGATE ",
     "ST3146855LC     ", "0003", "3LN1ABCD", std::nullopt, "SEAGATE ST3146855LC", "3LN1ABCD", "0003"},
    {"SEAGATE on USB: VPD serial", InquiryForm::GenericScsi, 7, "SEAGATE ", "Expansion       ", "0001",
     "3LN1ABCD", "NA8VPD", "SEAGATE Expansion", "NA8VPD", "0001"},
    {"SEAGATE on FireWire: VPD serial", InquiryForm::GenericScsi, 4, "SEAGATE ", "FreeAgent       ", "0001",
     "3LN1ABCD", "NA8VPD", "SEAGATE FreeAgent", "NA8VPD", "0001"},
    {"VARNHL on FireWire: serial from bytes 36..53", InquiryForm::GenericScsi, 4, "VARNHL  ",
     "FW800 Disk      ", "1.02", "VN-0123456789ABCDEXYZ", "VPDSERIAL", "VARNHL FW800 Disk", "VN-0123456789ABCDE",
     "1.02"},
    {"VARNHL on SCSI: VPD serial", InquiryForm::GenericScsi, 1, "VARNHL  ", "FW800 Disk      ", "1.02",
     "VN-0123456789ABCDEXYZ", "VPDSERIAL", "VARNHL FW800 Disk", "VPDSERIAL", "1.02"},
    {"VARNHL with 905 at 36: the VARNHL rule", InquiryForm::GenericScsi, 4, "VARNHL  ", "FW800 Disk      ",
     "1.02", "905xWD-WCAV12345678ABC", "VPDSERIAL", "VARNHL FW800 Disk", "905xWD-WCAV1234567", "1.02"},
    {"905 on FireWire: serial from bytes 40..55", InquiryForm::GenericScsi, 4, "Generic ",
     "FireWire Disk   ", "1.00", "905xWD-WCAV12345678 tail", "VPDSERIAL", "Generic FireWire Disk",
     "WD-WCAV12345678", "1.00"},
    {"904 on FireWire: VPD serial", InquiryForm::GenericScsi, 4, "Generic ", "FireWire Disk   ", "1.00",
     "904xWD-WCAV12345678 tail", "VPDSERIAL", "Generic FireWire Disk", "VPDSERIAL", "1.00"},
    {"905 on USB: VPD serial", InquiryForm::GenericScsi, 7, "Generic ", "USB Disk        ", "1.00",
     "905xWD-WCAV12345678 tail", "VPDSERIAL", "Generic USB Disk", "VPDSERIAL", "1.00"},
    {"enclosure: serial from bytes 40..55, no VPD", InquiryForm::Enclosure, 7, "VH      ",
     "RAID Enclosure  ", "0100", "abcdNDK0012345678   tail", "VPDSERIAL", "VH RAID Enclosure", "NDK0012345678",
     "0100"},
    {"enclosure: leading blanks of the serial kept", InquiryForm::Enclosure, 7, "HP      ",
     "External HDD    ", "2.10", "abcd  SER0042        ", std::nullopt, "HP External HDD", "  SER0042", "2.10"},
    {"enclosure: vendor exceptions do not apply", InquiryForm::Enclosure, 1, "SEAGATE ",
     "Bridge          ", "0001", "3LN1SER0000000000001", "VPDSERIAL", "SEAGATE Bridge", "SER0000000000001",
     "0001"},
};

TEST(InquiryIdentity, FormsAndVendorExceptions) {
  for (const IdentityCase& c : kCases) {
    SCOPED_TRACE(c.name);
    sim::SimDrive d = scsiDrive(1000);
    d.scsi.inquiry = inquiryData(c.vendor, c.product, c.revision, c.vendorBytes);
    d.scsi.vpd.erase(0x80);
    if (c.vpdSerial) d.scsi.vpd[0x80] = serialPage(*c.vpdSerial);
    Rig rig(std::move(d));
    uint8_t inquiry[74] = {};
    ASSERT_TRUE(scsiInquiry(rig.platform, rig.handle, inquiry));
    DriveRecord r = emptyRecord(c.busType);
    inquiryIdentity(rig.platform, rig.handle, inquiry, c.form, r);
    EXPECT_STREQ(r.model, c.model);
    EXPECT_STREQ(r.serialNumber, c.serial);
    EXPECT_STREQ(r.firmwareRevision, c.firmware);
  }
}

// The generic form asks for VPD page 80h with 70 bytes; the enclosure form asks nothing.
TEST(InquiryIdentity, SerialPageRequest) {
  sim::SimDrive d = scsiDrive(1000);
  d.scsi.inquiry = inquiryData("ACME    ", "Disk            ", "0001");
  d.scsi.vpd[0x80] = serialPage("S1");
  Rig rig(std::move(d));
  uint8_t inquiry[74] = {};
  ASSERT_TRUE(scsiInquiry(rig.platform, rig.handle, inquiry));

  rig.platform.clearLog();
  DriveRecord r = emptyRecord(kBusScsi);
  inquiryIdentity(rig.platform, rig.handle, inquiry, InquiryForm::Enclosure, r);
  EXPECT_TRUE(rig.cdbs().empty());

  rig.platform.clearLog();
  inquiryIdentity(rig.platform, rig.handle, inquiry, InquiryForm::GenericScsi, r);
  const std::vector<Bytes> cdbs = rig.cdbs();
  ASSERT_EQ(cdbs.size(), 1u);
  const Bytes expected = {0x12, 0x01, 0x80, 0x00, 70, 0x00};
  EXPECT_EQ(devtest::slice(cdbs[0], 0, 6), expected) << devtest::hex(cdbs[0]);
  EXPECT_STREQ(r.serialNumber, "S1");
}

// A device whose page is longer than the 70 bytes asked for: text from byte 4, at most
// 64 characters, then 20 kept.
TEST(InquiryIdentity, LongSerialPageIsCut) {
  sim::SimDrive d = scsiDrive(1000);
  d.scsi.inquiry = inquiryData("ACME    ", "Disk            ", "0001");
  std::string serial(120, 'Q');
  serial[0] = 'A';
  d.scsi.vpd[0x80] = serialPage(serial);
  Rig rig(std::move(d));
  uint8_t inquiry[74] = {};
  ASSERT_TRUE(scsiInquiry(rig.platform, rig.handle, inquiry));
  DriveRecord r = emptyRecord(kBusScsi);
  inquiryIdentity(rig.platform, rig.handle, inquiry, InquiryForm::GenericScsi, r);
  EXPECT_STREQ(r.serialNumber, "AQQQQQQQQQQQQQQQQQQQ");
}

// A failed page read empties a serial the record held.
TEST(InquiryIdentity, FailedSerialPageReadLeavesTheSerialEmpty) {
  sim::SimDrive d = scsiDrive(1000);
  d.scsi.inquiry = inquiryData("ACME    ", "Disk            ", "0001");
  d.scsi.vpd[0x80] = serialPage("S1");
  Rig rig(std::move(d));
  uint8_t inquiry[74] = {};
  ASSERT_TRUE(scsiInquiry(rig.platform, rig.handle, inquiry));
  sim::SimFault fault;
  fault.kind = sim::SimFault::Kind::FailRequest;
  fault.drive = 0;
  fault.ioctl = IOCTL_SCSI_PASS_THROUGH;
  rig.platform.injectFault(fault);
  DriveRecord r = emptyRecord(kBusScsi);
  std::strcpy(r.serialNumber, "OLD");
  inquiryIdentity(rig.platform, rig.handle, inquiry, InquiryForm::GenericScsi, r);
  EXPECT_STREQ(r.serialNumber, "");
  EXPECT_STREQ(r.model, "ACME Disk");
}

// A page whose byte 1 is not 80h is still taken from byte 4.
TEST(InquiryIdentity, SerialPageWithOtherPageCode) {
  uint8_t inquiry[74] = {};
  std::memcpy(inquiry + 8, "ACME    Disk            0001", 28);
  uint8_t page[70] = {};
  page[1] = 0x83;
  std::memcpy(page + 4, "  XY99  ", 8);
  DriveRecord r = emptyRecord(kBusScsi);
  inquiryIdentityFromReplies(inquiry, InquiryForm::GenericScsi, page, r);
  EXPECT_STREQ(r.serialNumber, "XY99");
}

// --- READ CAPACITY ---

struct CapacityCase {
  const char* name;
  uint64_t sectors;
  uint32_t sectorSize;
  bool fails10;
  bool fails16;
  bool has16;
  uint64_t totalSectors;
  int32_t recordedSectorSize;
  std::vector<std::string> messages;
  bool asks16;
};

const CapacityCase kCapacityCases[] = {
    {"ordinary disk", 1'000'000, 512, false, false, true, 1'000'000, 512, {}, false},
    {"4K-sector disk", 244'190'646, 4096, false, false, true, 244'190'646, 4096, {}, false},
    {"last LBA FFFFFFFEh stays with (10)", 0xFFFFFFFFull, 512, false, false, true, 0xFFFFFFFFull, 512, {}, false},
    {"last LBA FFFFFFFFh asks (16)", 0x100000000ull, 512, false, false, true, 0x100000000ull, 512, {}, true},
    {"6 TB disk through (16)", 11'721'045'168ull, 512, false, false, true, 11'721'045'168ull, 512, {}, true},
    {"(10) fails", 1'000'000, 512, true, false, true, 1, 0, {"ReadCapacity failed!"}, false},
    {"(16) fails", 11'721'045'168ull, 512, false, true, true, 1, 512, {"ReadCapacity16 failed!"}, true},
    {"(16) not supported", 11'721'045'168ull, 512, false, false, false, 1, 512, {"ReadCapacity16 failed!"}, true},
    // A medium of no sectors answers last LBA all ones to both: that is no capacity.
    {"(16) answers all ones", 0, 512, false, false, true, 1, 512, {"ReadCapacity16 failed!"}, true},
};

TEST(ReadCapacity, CapacityAndFailures) {
  for (const CapacityCase& c : kCapacityCases) {
    SCOPED_TRACE(c.name);
    sim::SimDrive d = scsiDrive(c.sectors, c.sectorSize);
    d.scsi.readCapacityFails = c.fails10;
    d.scsi.readCapacity16Fails = c.fails16;
    d.scsi.readCapacity16 = c.has16;
    Rig rig(std::move(d));
    RecordingPrompter prompter;
    DriveRecord r = emptyRecord(kBusScsi);
    r.sectorSize = 999;
    readCapacity(rig.platform, prompter, rig.handle, r);
    EXPECT_EQ(r.totalSectors, c.totalSectors);
    EXPECT_EQ(r.identifiedSectors, c.totalSectors);
    EXPECT_EQ(r.sectorSize, c.recordedSectorSize);
    ASSERT_EQ(prompter.prompts.size(), c.messages.size());
    for (size_t i = 0; i < c.messages.size(); ++i) {
      EXPECT_EQ(prompter.prompts[i].text, c.messages[i]);
      EXPECT_EQ(prompter.prompts[i].caption, "PALVORO for Windows");
      EXPECT_EQ(prompter.prompts[i].buttons, PromptButtons::Ok);
    }
    const std::vector<Bytes> cdbs = rig.cdbs();
    ASSERT_EQ(cdbs.size(), c.asks16 ? 2u : 1u);
    EXPECT_EQ(cdbs[0][0], 0x25);
    if (c.asks16) {
      EXPECT_EQ(cdbs[1][0], 0x9E);
      EXPECT_EQ(cdbs[1][1], 0x10);
    }
  }
}

}  // namespace
}  // namespace palvoro
