#include "platform/sim/sim_machine.h"

#include <cctype>

namespace palvoro::sim {

SimDrive* SimMachine::findDrive(int number) {
  for (SimDrive& d : drives) {
    if (d.number == number) return &d;
  }
  return nullptr;
}

void SimMachine::plug(int number, bool present) {
  SimDrive* d = findDrive(number);
  if (d == nullptr || d->present == present) return;
  d->present = present;
  if (present) d->arrival = ++arrivals;
}

std::string SimMachine::diskInterfacePath(const SimDrive& drive) {
  const std::string device = drive.virtualDisk ? "scsi#disk&ven_acronis&prod_acronisvbus#" : "scsi#disk&ven_sim&prod_disk#";
  return "\\\\?\\" + device + std::to_string(drive.number) + "&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
}

std::string SimMachine::statusInterfacePath(const SimDrive& drive) {
  return "\\\\?\\usb#vid_2e0a&pid_5200#raid" + std::to_string(drive.number) +
         "#{57edcd85-0281-4893-a224-6719f892b1a4}";
}

SimVolume* SimMachine::findVolume(char letter) {
  const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  for (SimVolume& v : volumes) {
    if (v.letter == upper) return &v;
  }
  return nullptr;
}

namespace {
// ATA strings hold two characters per word, the first in the high byte, padded with
// spaces.
void putAtaString(IdentifyWords& words, int firstWord, int wordCount, const std::string& text) {
  for (int i = 0; i < wordCount; ++i) {
    const size_t a = static_cast<size_t>(2 * i);
    const auto hi = static_cast<uint8_t>(a < text.size() ? text[a] : ' ');
    const auto lo = static_cast<uint8_t>(a + 1 < text.size() ? text[a + 1] : ' ');
    words[static_cast<size_t>(firstWord + i)] = static_cast<uint16_t>((hi << 8) | lo);
  }
}
}  // namespace

void setIdentifyChecksum(IdentifyWords& words) {
  words[255] = 0x00A5;
  uint8_t sum = 0;
  for (int i = 0; i < 255; ++i) sum = static_cast<uint8_t>(sum + (words[i] & 0xFF) + (words[i] >> 8));
  sum = static_cast<uint8_t>(sum + 0xA5);
  words[255] = static_cast<uint16_t>(0x00A5 | (static_cast<uint8_t>(0x100 - sum) << 8));
}

IdentifyWords makeIdentify(const IdentityDescription& identity) {
  IdentifyWords w{};
  w[0] = 0x0040;  // fixed, non-removable ATA device
  putAtaString(w, 10, 10, identity.serial);
  putAtaString(w, 23, 4, identity.firmware);
  putAtaString(w, 27, 20, identity.model);
  w[47] = 0x8010;
  w[49] = 0x0F00;  // LBA and DMA supported, IORDY
  w[53] = 0x0007;
  if (identity.sanitize) w[59] = static_cast<uint16_t>(w[59] | 0x1000 | 0x8000);
  const uint64_t lba28 = identity.sectors > 0x0FFFFFFF ? 0x0FFFFFFF : identity.sectors;
  w[60] = static_cast<uint16_t>(lba28 & 0xFFFF);
  w[61] = static_cast<uint16_t>(lba28 >> 16);
  w[80] = 0x07F0;  // ATA8-ACS and earlier
  w[82] = static_cast<uint16_t>(0x7468 | (identity.smart ? 0x0001 : 0));
  w[83] = static_cast<uint16_t>(0x4000 | (identity.lba48 ? 0x0400 : 0));
  // Word 84 (and 87, its enabled copy): bit 0 SMART error logging, bit 1 SMART self-test,
  // bit 5 general purpose logging.
  const auto logging = static_cast<uint16_t>(0x4000 | (identity.gpl ? 0x0020 : 0) |
                                             (identity.smart && identity.errorLog ? 0x0001 : 0) |
                                             (identity.smart && identity.selfTestLog ? 0x0002 : 0));
  w[84] = logging;
  w[85] = static_cast<uint16_t>(0x7468 | (identity.smart ? 0x0001 : 0));
  w[86] = static_cast<uint16_t>(identity.lba48 ? 0x0400 : 0);
  w[87] = logging;
  if (identity.lba48) {
    for (int i = 0; i < 4; ++i) w[100 + i] = static_cast<uint16_t>(identity.sectors >> (16 * i));
  }
  w[106] = identity.word106;
  if (identity.wwn != 0) {
    for (int i = 0; i < 4; ++i) w[108 + i] = static_cast<uint16_t>(identity.wwn >> (16 * (3 - i)));
  }
  w[117] = static_cast<uint16_t>(identity.logicalSectorWords & 0xFFFF);
  w[118] = static_cast<uint16_t>(identity.logicalSectorWords >> 16);
  w[133] = identity.word133;
  w[169] = identity.trim ? 0x0001 : 0x0000;
  w[206] = identity.sct ? 0x003D : 0x0000;
  w[217] = identity.rotationRate;
  for (const auto& [index, value] : identity.words) {
    if (index >= 0 && index < 255) w[static_cast<size_t>(index)] = value;
  }
  setIdentifyChecksum(w);
  if (identity.words.count(255) != 0) w[255] = identity.words.at(255);
  return w;
}

Page makeCapabilitiesPage(uint64_t capabilities) {
  Page page{};
  // Header: revision 0001h, page number 03h, bit 63 valid.
  const uint64_t header = 0x0001ull | (0x03ull << 16) | (1ull << 63);
  for (int i = 0; i < 8; ++i) {
    page[static_cast<size_t>(i)] = static_cast<uint8_t>(header >> (8 * i));
    page[static_cast<size_t>(8 + i)] = static_cast<uint8_t>(capabilities >> (8 * i));
  }
  return page;
}

}  // namespace palvoro::sim

#include "platform/sim/sim_scsi.h"

namespace palvoro::sim {
namespace {
std::string trimmed(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  const size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

// The RAID enclosure's member pages: the member's serial number from byte 5.
std::vector<uint8_t> memberPage(uint8_t page, const std::string& serial) {
  std::vector<uint8_t> bytes(26, 0);
  bytes[1] = page;
  bytes[3] = 22;
  for (size_t i = 0; i < 20 && i < serial.size(); ++i) bytes[5 + i] = static_cast<uint8_t>(serial[i]);
  return bytes;
}
}  // namespace

void refreshRaidMemberPages(SimDrive& drive) {
  const auto serialOf = [](const SimAtaDrive& member) {
    return member.units.count(0) != 0 ? trimmed(identifyText(member.units.at(0).identify, 10, 10)) : std::string();
  };
  drive.scsi.vpd[0x01] = memberPage(0x01, serialOf(drive.ata));
  if (drive.memberB) drive.scsi.vpd[0x02] = memberPage(0x02, serialOf(*drive.memberB));
}

// Long on purpose: one case per transport, each saying how that stack describes a disk,
// so what a drive reports by its transport is read in one place.
void applyTransportDefaults(SimDrive& drive) {
  std::string model;
  std::string serial;
  std::string firmware;
  if (drive.ata.units.count(0) != 0) {
    const IdentifyWords& w = drive.ata.units.at(0).identify;
    model = trimmed(identifyText(w, 27, 20));
    serial = trimmed(identifyText(w, 10, 10));
    firmware = trimmed(identifyText(w, 23, 4));
  }
  const std::string revision = firmware.size() > 4 ? firmware.substr(firmware.size() - 4) : firmware;
  SimScsiTarget& scsi = drive.scsi;
  scsi = SimScsiTarget{};
  drive.memberB.reset();
  if (drive.transport != Transport::Nvme) drive.nvme.reset();
  drive.smartDriver.present = false;
  drive.ataPassThrough = false;
  switch (drive.transport) {
    case Transport::Ata:
      // The controller's driver speaks SMART and ATA pass-through; its SCSI layer
      // describes the disk as an "ATA" device.
      drive.busType = 11;
      drive.smartDriver.present = true;
      drive.ataPassThrough = true;
      scsi.inquiry = makeInquiry(0, "ATA", model.substr(0, 16), revision);
      break;
    case Transport::UsbSat:
      drive.busType = 7;
      scsi.sat12 = true;
      scsi.sat16 = true;
      scsi.inquiry = makeInquiry(0, "Generic", "External Drive", "1.00");
      break;
    case Transport::UsbAtacb:
      drive.busType = 7;
      scsi.atacb = true;
      scsi.inquiry = makeInquiry(0, "Generic", "USB Bridge", "0100");
      break;
    case Transport::FireWire:
      drive.busType = 4;
      scsi.sat12 = true;
      scsi.inquiry = makeInquiry(0, "Generic", "FireWire Disk", "1.00");
      break;
    case Transport::Scsi:
      drive.busType = 1;
      scsi.inquiry = makeInquiry(0, "SCSI", model.substr(0, 16), revision);
      break;
    case Transport::Raid: {
      drive.busType = 7;
      scsi.sat12 = true;
      scsi.sat16 = true;
      scsi.inquiry = makeInquiry(0, "VH", "RAID Enclosure", "0100");
      drive.memberB = drive.ata;
      refreshRaidMemberPages(drive);
      break;
    }
    case Transport::Nvme: {
      // The NVMe driver's SCSI translation: vendor "NVMe", the first 16 bytes of the model,
      // the first 4 of the firmware revision, the serial number as VPD 80h.
      if (!drive.nvme) {
        drive.nvme.emplace();
        drive.nvme->model = model;
        drive.nvme->serial = serial;
        drive.nvme->firmware = firmware;
      }
      const SimNvme& nvme = *drive.nvme;
      drive.busType = 17;
      scsi.inquiry = makeInquiry(0, "NVMe", nvme.model.substr(0, 16), nvme.firmware.substr(0, 4));
      break;
    }
    case Transport::Optical:
      drive.busType = 2;
      scsi.inquiry = makeInquiry(5, "Generic", "DVD-RW Drive", "1.00");
      scsi.readCapacityFails = true;  // no disc in the tray
      break;
  }
  // The serial number as VPD 80h, from every carrier but the vendor-block bridge and the
  // optical drive; the NVMe driver gives the controller's own.
  if (drive.transport == Transport::UsbAtacb || drive.transport == Transport::Optical) return;
  scsi.vpd[0x80] = makeSerialPage(0, drive.nvme ? drive.nvme->serial : serial);
}

}  // namespace palvoro::sim
