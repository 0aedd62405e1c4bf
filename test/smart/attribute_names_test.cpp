#include "smart/attribute_names.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace palvoro {
namespace {

struct NameCase {
  int selector;
  int id;
  const char* name;
};

// Copied by hand from the four name tables, several rows of each, including the first
// and last records and names with punctuation that a retyping would easily change.
constexpr NameCase kNames[] = {
    // Table 0, general.
    {0, 0x01, "Raw Read Error Rate"},
    {0, 0x04, "Start/Stop Count"},
    {0, 0x05, "Reallocated Sector Count"},
    {0, 0x09, "Power-On Hours Count"},
    {0, 0x0B, "Drive Calibration Retry Count"},
    {0, 0x10, "Gas Gauge"},
    {0, 0x16, "Helium Monitor"},
    {0, 0xAD, "Average MLC Write/Erase Count"},
    {0, 0xB7, "SATA Downshift Error Count"},
    {0, 0xBA, "Induced Op-Vibration Detection"},
    {0, 0xC2, "HDA Temperature"},
    {0, 0xC5, "Current Pending Sector Count"},
    {0, 0xC7, "UltraDMA CRC Error Rate"},
    {0, 0xDD, "G-Sense Error Rate"},
    {0, 0xDE, "Loaded hours"},
    {0, 0xE2, "Load-in Time"},
    {0, 0xE6, "GMR Head Amp"},
    {0, 0xE7, "Temperature"},
    {0, 0xFA, "Read Error Retry Rate"},
    {0, 0xFD, "PZT Failure Detection"},
    {0, 0xFE, "Free Fall Sensor"},
    // Table 1, cache-flash unit.
    {1, 0x01, "NAND: Read Error Rate"},
    {1, 0x03, "NAND: Spin Up Time"},
    {1, 0x0C, "NAND: Drive Power Cycle Count"},
    {1, 0xA7, "NAND: Flash Protect Mode"},
    {1, 0xA8, "NAND: SATA PHY Error Count"},
    {1, 0xAA, "NAND: Maximum Bad Block Count"},
    {1, 0xAF, "NAND: Bad Cluster Table Count"},
    {1, 0xC0, "NAND: Unexpected Power Loss Cnt"},
    {1, 0xC2, "NAND: Temperature"},
    {1, 0xC5, "NAND: Current Pending Sector Cnt"},
    {1, 0xF0, "NAND: Write Head"},
    // Table 2, solid-state drives behind the 25F3 bridge.
    {2, 0x05, "Reassigned NAND Block Count"},
    {2, 0x09, "Power-On Hours Count"},
    {2, 0xA5, "VH Internal"},
    {2, 0xA9, "Total Bad Blocks"},
    {2, 0xAA, "Grown Bad Block Count"},
    {2, 0xBC, "Command Timeout Count"},
    {2, 0xC2, "Enclosure Temperature"},
    {2, 0xC7, "CRC Error Count"},
    {2, 0xE6, "Media Wearout Indicator"},
    {2, 0xE9, "NAND GB Written (TLC)"},
    {2, 0xEA, "NAND GB Written (SLC)"},
    {2, 0xF4, "Thermal Throttle Status"},
    // Table 3, world wide name OUI 000CCA.
    {3, 0x01, "Raw Read Error Rate"},
    {3, 0x05, "Reassign Count"},
    {3, 0x0A, "Spin Up Retry Count"},
    {3, 0x0E, "Write Error Rate"},
    {3, 0x10, "NVC Meta Data"},
    {3, 0x16, "Internal Environmental Status"},
    {3, 0x2A, "ERP and HHI Error"},
    {3, 0x47, "Milli Actuator Error"},
    {3, 0x51, "Strong Vibration Error"},
    {3, 0xAD, "Flash Wear Level Medium Warning"},
    {3, 0xB4, "E2E Error Rate"},
    {3, 0xBB, "Report UNC Count"},
    {3, 0xBF, "G-sensor Erros"},
    {3, 0xC0, "Power Off Retract Count"},
    {3, 0xC6, "Offline Uncorrectable Sector Count"},
    {3, 0xD4, "SSM Error Count"},
    {3, 0xD9, "Unlock Misread Count"},
    {3, 0xE6, "Head Amp"},
    {3, 0xF2, "Total LBAs Read"},
};

TEST(AttributeNames, NamesAreExact) {
  for (const NameCase& c : kNames) {
    SCOPED_TRACE("selector " + std::to_string(c.selector) + " id " + std::to_string(c.id));
    EXPECT_STREQ(attributeName(static_cast<uint8_t>(c.id), c.selector), c.name);
  }
}

// Names that appear under two IDs of one table are both kept.
constexpr NameCase kDuplicates[] = {
    {0, 193, "Load/Unload Cycle Count"}, {0, 225, "Load/Unload Cycle Count"},
    {0, 13, "Soft Read Error Rate"},     {0, 201, "Soft Read Error Rate"},
    {2, 241, "Total GB Written"},        {2, 242, "Total GB Written"},
    {2, 166, "VH Internal"},             {2, 184, "VH Internal"},
    {3, 193, "Load/Unload Cycle Count"}, {3, 225, "Load/Unload Cycle Count"},
};

TEST(AttributeNames, DuplicateNamesAreKept) {
  for (const NameCase& c : kDuplicates) {
    SCOPED_TRACE("selector " + std::to_string(c.selector) + " id " + std::to_string(c.id));
    EXPECT_STREQ(attributeName(static_cast<uint8_t>(c.id), c.selector), c.name);
  }
}

// IDs missing from the chosen table, and selectors no table answers.
constexpr NameCase kUnknown[] = {
    {1, 6, "Unknown"},   {1, 4, "Unknown"},    {0, 0, "Unknown"},  {0, 14, "Unknown"},
    {0, 255, "Unknown"}, {2, 1, "Unknown"},    {3, 6, "Unknown"},  {3, 255, "Unknown"},
    {4, 1, "Unknown"},   {-1, 194, "Unknown"}, {1000, 9, "Unknown"},
};

TEST(AttributeNames, MissingIdsAndSelectorsAreUnknown) {
  for (const NameCase& c : kUnknown) {
    SCOPED_TRACE("selector " + std::to_string(c.selector) + " id " + std::to_string(c.id));
    EXPECT_STREQ(attributeName(static_cast<uint8_t>(c.id), c.selector), c.name);
  }
}

// The same ID reads differently per family.
TEST(AttributeNames, TemperatureIdPerFamily) {
  EXPECT_STREQ(attributeName(194, 0), "HDA Temperature");
  EXPECT_STREQ(attributeName(194, 1), "NAND: Temperature");
  EXPECT_STREQ(attributeName(194, 2), "Enclosure Temperature");
  EXPECT_STREQ(attributeName(194, 3), "Temperature");
}

TEST(AttributeNames, DirectoryHoldsFourTablesInSelectorOrder) {
  const auto directory = attributeNameDirectory();
  ASSERT_EQ(directory.size(), 4u);
  const int expectedCounts[] = {64, 19, 24, 67};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(directory[static_cast<size_t>(i)].selector, i);
    EXPECT_EQ(directory[static_cast<size_t>(i)].count, expectedCounts[i]);
  }
}

TEST(AttributeNames, IdsAscendAndAreUniqueWithinEachTable) {
  for (const AttributeNameTable& table : attributeNameDirectory()) {
    SCOPED_TRACE("selector " + std::to_string(table.selector));
    for (int i = 1; i < table.count; ++i) {
      EXPECT_LT(table.entries[i - 1].id, table.entries[i].id) << "record " << i;
    }
  }
}

// Every record can be found again through the lookup, and no name is empty.
TEST(AttributeNames, EveryRecordIsReachable) {
  for (const AttributeNameTable& table : attributeNameDirectory()) {
    for (int i = 0; i < table.count; ++i) {
      ASSERT_NE(table.entries[i].name, nullptr);
      EXPECT_NE(std::string(table.entries[i].name), "");
      EXPECT_EQ(attributeName(table.entries[i].id, table.selector), table.entries[i].name);
    }
  }
}

// The first and last IDs of each table, which bound a table that lost or gained rows.
TEST(AttributeNames, TablesStartAndEndWhereListed) {
  struct Bounds {
    int first;
    int last;
  };
  const Bounds bounds[] = {{0x01, 0xFE}, {0x01, 0xF0}, {0x05, 0xF4}, {0x01, 0xF2}};
  const auto directory = attributeNameDirectory();
  for (size_t i = 0; i < 4; ++i) {
    const AttributeNameTable& table = directory[i];
    EXPECT_EQ(table.entries[0].id, bounds[i].first) << "table " << i;
    EXPECT_EQ(table.entries[table.count - 1].id, bounds[i].last) << "table " << i;
  }
}

// The whole ID set of the short table, written out: nothing more, nothing less.
TEST(AttributeNames, CacheFlashTableHoldsExactlyItsIds) {
  const std::set<int> expected = {1, 2, 3, 5, 7, 8, 9, 10, 12, 167, 168, 169, 170, 173, 175, 192, 194, 197, 240};
  std::set<int> found;
  for (int id = 0; id < 256; ++id) {
    if (std::string(attributeName(static_cast<uint8_t>(id), 1)) != "Unknown") found.insert(id);
  }
  EXPECT_EQ(found, expected);
}

}  // namespace
}  // namespace palvoro
