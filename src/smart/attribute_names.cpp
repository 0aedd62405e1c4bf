#include "smart/attribute_names.h"

#include <array>

namespace palvoro {
namespace {

// Table 0: the general names (originMark 0).
constexpr AttributeNameEntry kGeneralNames[] = {
    {0x01, "Raw Read Error Rate"},
    {0x02, "Throughput Performance"},
    {0x03, "Spin Up Time"},
    {0x04, "Start/Stop Count"},
    {0x05, "Reallocated Sector Count"},
    {0x06, "Read Channel Margin"},
    {0x07, "Seek Error Rate"},
    {0x08, "Seek Time Performance"},
    {0x09, "Power-On Hours Count"},
    {0x0A, "Spin Retry Count"},
    {0x0B, "Drive Calibration Retry Count"},
    {0x0C, "Drive Power Cycle Count"},
    {0x0D, "Soft Read Error Rate"},
    {0x10, "Gas Gauge"},
    {0x16, "Helium Monitor"},
    {0xAB, "Program Fail Count"},
    {0xAC, "Erase Fail Count"},
    {0xAD, "Average MLC Write/Erase Count"},
    {0xAE, "Unexpected Power Loss Count"},
    {0xB4, "End to End Error Rate"},
    {0xB7, "SATA Downshift Error Count"},
    {0xB8, "End to End Error Count"},
    {0xB9, "Head Stability"},
    {0xBA, "Induced Op-Vibration Detection"},
    {0xBB, "Reported Uncorrectable Errors"},
    {0xBC, "Command Time Out"},
    {0xBD, "High Fly Writes"},
    {0xBE, "Airflow Temperature"},
    {0xBF, "Shock Sense"},
    {0xC0, "Emergency Retract Cycle Count"},
    {0xC1, "Load/Unload Cycle Count"},
    {0xC2, "HDA Temperature"},
    {0xC3, "ECC on the Fly Count"},
    {0xC4, "Reallocated Sector Event Count"},
    {0xC5, "Current Pending Sector Count"},
    {0xC6, "Offline Uncorrectable Sector Count"},
    {0xC7, "UltraDMA CRC Error Rate"},
    {0xC8, "Multi Zone Error Rate"},
    {0xC9, "Soft Read Error Rate"},
    {0xCA, "Data Address Mark Errors"},
    {0xCB, "Run Out Cancel"},
    {0xCC, "Soft ECC Correction"},
    {0xCD, "Thermal Asperity Rate"},
    {0xCE, "Flying Height"},
    {0xCF, "Spin High Current"},
    {0xD0, "Spin Buzz"},
    {0xD1, "Offline Seek Performance"},
    {0xDC, "Disk Shift"},
    {0xDD, "G-Sense Error Rate"},
    {0xDE, "Loaded hours"},
    {0xDF, "Load/Unload Retry Count"},
    {0xE0, "Load Friction"},
    {0xE1, "Load/Unload Cycle Count"},
    {0xE2, "Load-in Time"},
    {0xE3, "Torque Amplification Count"},
    {0xE4, "Power-Off Retract Count"},
    {0xE6, "GMR Head Amp"},
    {0xE7, "Temperature"},
    {0xF0, "Head Flying Hours"},
    {0xF1, "Total LBAs Written"},
    {0xF2, "Total LBAs Read"},
    {0xFA, "Read Error Retry Rate"},
    {0xFD, "PZT Failure Detection"},
    {0xFE, "Free Fall Sensor"},
};

// Table 1: the cache-flash unit of a dual-unit drive (originMark 1, and every second-unit row).
constexpr AttributeNameEntry kCacheFlashNames[] = {
    {0x01, "NAND: Read Error Rate"},
    {0x02, "NAND: Throughput Performance"},
    {0x03, "NAND: Spin Up Time"},
    {0x05, "NAND: Reallocated Sector Count"},
    {0x07, "NAND: Seek Error Rate"},
    {0x08, "NAND: Seek Time Performance"},
    {0x09, "NAND: Power-On Hours Count"},
    {0x0A, "NAND: Spin Retry Count"},
    {0x0C, "NAND: Drive Power Cycle Count"},
    {0xA7, "NAND: Flash Protect Mode"},
    {0xA8, "NAND: SATA PHY Error Count"},
    {0xA9, "NAND: Bad Block Count"},
    {0xAA, "NAND: Maximum Bad Block Count"},
    {0xAD, "NAND: Erase Count"},
    {0xAF, "NAND: Bad Cluster Table Count"},
    {0xC0, "NAND: Unexpected Power Loss Cnt"},
    {0xC2, "NAND: Temperature"},
    {0xC5, "NAND: Current Pending Sector Cnt"},
    {0xF0, "NAND: Write Head"},
};

// Table 2: solid-state drives behind the bridge whose vendor page C3h reports 25F3h (originMark 2).
constexpr AttributeNameEntry kBridgeSsdNames[] = {
    {0x05, "Reassigned NAND Block Count"},
    {0x09, "Power-On Hours Count"},
    {0xA5, "VH Internal"},
    {0xA6, "VH Internal"},
    {0xA7, "VH Internal"},
    {0xA8, "VH Internal"},
    {0xA9, "Total Bad Blocks"},
    {0xAA, "Grown Bad Block Count"},
    {0xAB, "Program Fail Count"},
    {0xAC, "Erase Fail Count"},
    {0xAD, "VH Internal"},
    {0xAE, "Unexpected Power Loss Count"},
    {0xB8, "VH Internal"},
    {0xBB, "Reported Uncorrectable Errors"},
    {0xBC, "Command Timeout Count"},
    {0xC2, "Enclosure Temperature"},
    {0xC7, "CRC Error Count"},
    {0xE6, "Media Wearout Indicator"},
    {0xE8, "Available Reserved Space"},
    {0xE9, "NAND GB Written (TLC)"},
    {0xEA, "NAND GB Written (SLC)"},
    {0xF1, "Total GB Written"},
    {0xF2, "Total GB Written"},
    {0xF4, "Thermal Throttle Status"},
};

// Table 3: drives whose world wide name carries the organisation identifier 000CCAh (originMark 3).
constexpr AttributeNameEntry kWwnMakerNames[] = {
    {0x01, "Raw Read Error Rate"},
    {0x02, "Throughput Performance"},
    {0x03, "Spin Up Time"},
    {0x04, "Start/Stop Count"},
    {0x05, "Reassign Count"},
    {0x07, "Seek Error Rate"},
    {0x08, "Seek Time Performance"},
    {0x09, "Power-On Hours Count"},
    {0x0A, "Spin Up Retry Count"},
    {0x0C, "Power Cycle Count"},
    {0x0E, "Write Error Rate"},
    {0x10, "NVC Meta Data"},
    {0x16, "Internal Environmental Status"},
    {0x28, "ERP Overhead Rate"},
    {0x29, "ERP Overhead Cumulative"},
    {0x2A, "ERP and HHI Error"},
    {0x2B, "HHI Read"},
    {0x2C, "HHI Write"},
    {0x46, "Flash Scan Error"},
    {0x47, "Milli Actuator Error"},
    {0x50, "Flash Wear Level Error"},
    {0x51, "Strong Vibration Error"},
    {0xA9, "General Hardware Error"},
    {0xAA, "Background Scan Warning"},
    {0xAB, "Warm Temperature Warning"},
    {0xAC, "Cold Temperature Warning"},
    {0xAD, "Flash Wear Level Medium Warning"},
    {0xAE, "Flash Wear Data Loss Warning"},
    {0xB4, "E2E Error Rate"},
    {0xB7, "Down Shift Count"},
    {0xB8, "E2E Error Count"},
    {0xB9, "Head Stability"},
    {0xBB, "Report UNC Count"},
    {0xBC, "Command Time Out"},
    {0xBD, "High Fly Write"},
    {0xBE, "Airflow Temperature"},
    {0xBF, "G-sensor Erros"},
    {0xC0, "Power Off Retract Count"},
    {0xC1, "Load/Unload Cycle Count"},
    {0xC2, "Temperature"},
    {0xC3, "ECC on the Fly Count"},
    {0xC4, "Reassign Event Count"},
    {0xC5, "Pending Sector Count"},
    {0xC6, "Offline Uncorrectable Sector Count"},
    {0xC7, "CRC Error Rate"},
    {0xC8, "Preamp Errors"},
    {0xC9, "Offtrack Error Rate"},
    {0xCA, "DAM Error Rate"},
    {0xD3, "Spindle Current"},
    {0xD4, "SSM Error Count"},
    {0xD5, "Seek Lifetime Error Count"},
    {0xD6, "Load Lifetime Error Count"},
    {0xD7, "Spinup Lifetime Error Count"},
    {0xD8, "Unexpected Servo Count"},
    {0xD9, "Unlock Misread Count"},
    {0xDA, "ECC Correct Count"},
    {0xDC, "Disk Shift"},
    {0xDD, "G-Sense Error Rate"},
    {0xDE, "Loaded hours"},
    {0xDF, "Load/Unload Retry Count"},
    {0xE1, "Load/Unload Cycle Count"},
    {0xE2, "Load-in Time"},
    {0xE4, "Power-Off Retract Count"},
    {0xE6, "Head Amp"},
    {0xF0, "Head Flying Hours"},
    {0xF1, "Total LBAs Written"},
    {0xF2, "Total LBAs Read"},
};
constexpr int countOf(std::span<const AttributeNameEntry> table) {
  return static_cast<int>(table.size());
}

constexpr std::array<AttributeNameTable, 4> kDirectory = {{
    {kNamesGeneral, kGeneralNames, countOf(kGeneralNames)},
    {kNamesCacheFlash, kCacheFlashNames, countOf(kCacheFlashNames)},
    {kNamesBridgeSsd, kBridgeSsdNames, countOf(kBridgeSsdNames)},
    {kNamesWwnMaker, kWwnMakerNames, countOf(kWwnMakerNames)},
}};

// The record counts every caller relies on; a name lost or added while editing a table
// shows up here at compile time.
static_assert(countOf(kGeneralNames) == 64);
static_assert(countOf(kCacheFlashNames) == 19);
static_assert(countOf(kBridgeSsdNames) == 24);
static_assert(countOf(kWwnMakerNames) == 67);

}  // namespace

std::span<const AttributeNameTable> attributeNameDirectory() { return kDirectory; }

const char* attributeName(uint8_t id, int selector) {
  for (const AttributeNameTable& table : kDirectory) {
    if (table.selector != selector) continue;
    for (int i = 0; i < table.count; ++i) {
      if (table.entries[i].id == id) return table.entries[i].name;
    }
    return kUnknownAttributeName;
  }
  return kUnknownAttributeName;
}

}  // namespace palvoro
