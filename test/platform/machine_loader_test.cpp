// Machine descriptions: good ones become the machine they describe, bad ones are
// refused with a message naming the field.

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_platform.h"

namespace palvoro::sim {
namespace {

constexpr const char* kGood = R"({
  "name": "two",
  "os": {"major": 6, "minor": 1},
  "administrator": false,
  "windowsDirectory": "D:\\WINNT",
  "drives": [
    {"number": 3, "identity": {"model": "M", "serial": "S", "firmware": "F", "sectors": "0x1000",
                               "rotationRate": 1, "trim": true, "words": {"59": "0x5000", "217": 1}},
     "capabilities": "0x0004000000000000", "unreadable": [5, [7, 9]], "unwritable": [11], "lostWrites": [[12, 13]],
     "smart": {"enabled": false, "attributes": [{"id": 5, "flags": 51, "value": 90, "worst": 80, "threshold": 10, "raw": 3}]},
     "secondUnit": {"identity": {"sectors": 64}}, "sctVendorSwitch": true,
     "thermal": {"start": 41.5, "ambient": 30, "perGigabyte": 2, "coolingPerIdleMinute": 0.25}}
  ],
  "volumes": [{"letter": "D", "drive": 3, "partition": 1, "start": 64, "sectors": 1000, "type": "fixed"},
              {"letter": "N", "type": "network"}]
})";

TEST(MachineLoader, ReadsEveryFieldOfAGoodDescription) {
  SimMachine m = loadMachine(kGood);
  EXPECT_EQ(m.name, "two");
  EXPECT_EQ(m.osMajor, 6u);
  EXPECT_EQ(m.osMinor, 1u);
  EXPECT_FALSE(m.administrator);
  EXPECT_EQ(m.windowsDirectory, "D:\\WINNT");
  SimDrive* d = m.findDrive(3);
  ASSERT_NE(d, nullptr);
  const SimUnit& u = d->ata.units.at(0);
  EXPECT_EQ(u.media.sectorCount(), 0x1000u);
  EXPECT_EQ(u.identify[100], 0x1000);
  EXPECT_EQ(u.identify[59], 0x5000);
  EXPECT_EQ(u.identify[217], 1);
  EXPECT_EQ(u.identify[169] & 1, 1);
  EXPECT_TRUE(u.media.isUnreadable(5));
  EXPECT_TRUE(u.media.isUnreadable(8));
  EXPECT_FALSE(u.media.isUnreadable(6));
  EXPECT_EQ(u.media.unwritable().count(11), 1u);
  EXPECT_EQ(u.media.lostWrites(), (std::set<uint64_t>{12, 13}));
  ASSERT_TRUE(u.identifyLogPage3.has_value());
  EXPECT_EQ((*u.identifyLogPage3)[14], 0x04);
  EXPECT_FALSE(u.smart.enabled);
  ASSERT_EQ(u.smart.attributes.size(), 1u);
  EXPECT_EQ(u.smart.attributes[0].worst, 80);
  EXPECT_TRUE(d->ata.dualUnit());
  EXPECT_EQ(d->ata.units.at(2).media.sectorCount(), 64u);
  EXPECT_TRUE(d->ata.sctVendorSwitch);
  ASSERT_TRUE(d->thermal.has_value());
  EXPECT_EQ(d->thermal->celsius, 41.5);
  EXPECT_EQ(d->thermal->ambient, 30);
  EXPECT_EQ(d->thermal->perGigabyte, 2);
  EXPECT_EQ(d->thermal->coolingPerIdleMinute, 0.25);
  ASSERT_EQ(m.volumes.size(), 2u);
  EXPECT_EQ(m.volumes[1].driveType, 4u);
  EXPECT_EQ(m.volumes[1].drive, -1);
}

struct BadCase {
  const char* json;
  const char* mentions;
};

const BadCase kBad[] = {
    {"{", "not valid JSON"},
    {"[]", "machine: expected an object"},
    {R"({"colour": 1})", "machine.colour: unknown field"},
    {R"({"os": {"major": 300}})", "machine.os.major"},
    {R"({"administrator": "yes"})", "machine.administrator: expected true or false"},
    {R"({"windowsDirectory": "Windows"})", "machine.windowsDirectory"},
    {R"({"drives": [{"identity": {"sectors": 1}}]})", "machine.drives[0]: number is required"},
    {R"({"drives": [{"number": 0}]})", "machine.drives[0]: identity is required"},
    {R"({"drives": [{"number": 0, "identity": {"sectors": 0}}]})", "machine.drives[0].identity.sectors"},
    {R"({"drives": [{"number": 0, "identity": {"sectors": -5}}]})", "must not be negative"},
    {R"({"drives": [{"number": 0, "identity": {"sectors": "0xZZ"}}]})", "bad hexadecimal digit"},
    {R"({"drives": [{"number": 0, "identity": {"sectors": 300000000, "lba48": false}}]})", "needs lba48"},
    {R"({"drives": [{"number": 0, "identity": {"sectors": 10, "model": "0123456789012345678901234567890123456789X"}}]})",
     "machine.drives[0].identity.model: longer than 40"},
    {R"({"drives": [{"number": 0, "identity": {"sectors": 10, "words": {"256": 1}}}]})", "words.256"},
    {R"({"drives": [{"number": 0, "identity": {"sectors": 10, "words": {"x": 1}}}]})", "words.x"},
    {R"({"drives": [{"number": 0, "identity": {"sectors": 10}, "transport": "floppy"}]})", "unknown transport"},
    {R"({"drives": [{"number": 0, "identity": {"sectors": 10}, "unreadable": [10]}]})", "unreadable[0]: beyond"},
    {R"({"drives": [{"number": 0, "identity": {"sectors": 10}, "unreadable": [[5, 2]]}]})", "last is before first"},
    {R"({"drives": [{"number": 0, "identity": {"sectors": 10}, "sectorSize": 1000}]})", "sectorSize"},
    {R"({"drives": [{"number": 0, "identity": {"sectors": 10}, "smart": {"attributes": [{"id": 0}]}}]})",
     "attributes[0].id"},
    {R"({"drives": [{"number": 0, "identity": {"sectors": 10}}, {"number": 0, "identity": {"sectors": 10}}]})",
     "machine.drives[1].number: drive number used twice"},
    {R"({"volumes": [{"letter": "c"}]})", "machine.volumes[0].letter"},
    {R"({"volumes": [{"letter": "C", "drive": 4}]})", "machine.volumes[0].drive: no drive"},
    {R"({"drives": [{"number": 0, "identity": {"sectors": 10}}], "volumes": [{"letter": "C", "drive": 0, "start": 5, "sectors": 6}]})",
     "must lie on the drive"},
    {R"({"volumes": [{"letter": "C", "type": "tape"}]})", "unknown type"},
    {R"({"volumes": [{"letter": "C"}, {"letter": "C"}]})", "letter used twice"},
    // A number beyond a double is the JSON library's range error, not a syntax error.
    {R"({"name": 1e400})", "not valid JSON"},
    {R"({"drives": [{"number": 0, "identity": {"sectors": 1e400}}]})", "not valid JSON"},
    // Two volumes that both leave out their partition: the refusal reads no absent field.
    {R"({"drives": [{"number": 0, "identity": {"sectors": 100}}], "volumes": [{"letter": "C", "drive": 0, "start": 1, "sectors": 9}, {"letter": "D", "drive": 0, "start": 10, "sectors": 9}]})",
     "machine.volumes[1].partition: partition number used twice"},
    {R"({"drives": [{"number": 0, "identity": {"sectors": 10}, "mediaSectors": 0}]})",
     "machine.drives[0].mediaSectors: a unit has at least one sector"},
    {R"({"drives": [{"number": 0, "identity": {"sectors": 10}, "thermal": {"start": 30, "ambient": 35}}]})",
     "machine.drives[0].thermal.ambient: a drive starts at or above"},
    {R"({"drives": [{"number": 0, "identity": {"sectors": 10}, "nativeSectors": 10}]})",
     "machine.drives[0].nativeSectors: must be above the identity's sectors"},
    {R"({"drives": [{"number": 0, "identity": {"sectors": 10}, "nativeSectors": 12, "dcoSectors": 11}]})",
     "machine.drives[0].dcoSectors: must be at least the drive's native sectors"},
    {R"({"drives": [{"number": 0, "identity": {"sectors": 10}, "security": {"enabled": true}}]})",
     "machine.drives[0].security.userPassword: enabled security needs the user password"},
    {R"({"drives": [{"number": 0, "identity": {"sectors": 10}, "security": {"locked": true}}]})",
     "machine.drives[0].security.locked: only a drive with security enabled is locked"},
    {R"({"drives": [{"number": 0, "identity": {"sectors": 10}, "sanitize": {"scramble": true}}]})",
     "machine.drives[0].sanitize.scramble: unknown field"},
    {R"({"drives": [{"number": 0, "identity": {"sectors": 10}, "refusesPurge": true}]})",
     "machine.drives[0].refusesPurge: only a USB bridge"},
    {R"({"drives": [{"number": 0, "identity": {"sectors": 10}, "thermal": {"perGigabyte": -1}}]})",
     "machine.drives[0].thermal.perGigabyte: value"},
    {R"({"drives": [{"number": 0, "transport": "nvme", "identity": {"sectors": 8},
        "nvme": {"lbaFormats": [{"dataSize": 512}, {"dataSize": 4096}], "formatInUse": 1}}]})",
     "formatInUse: the format in use has 4096-byte blocks, the namespace 512"},
    {R"({"drives": [{"number": 0, "transport": "scsi", "identity": {"sectors": 8},
        "scsiSanitize": {"actions": ["shred"]}}]})",
     "scsiSanitize.actions[0]: overwrite, block or crypto"},
};

TEST(MachineLoader, RefusesBadValuesNamingTheField) {
  for (const BadCase& c : kBad) {
    SCOPED_TRACE(c.json);
    try {
      loadMachine(c.json);
      ADD_FAILURE() << "accepted";
    } catch (const MachineDescriptionError& e) {
      EXPECT_NE(std::string(e.what()).find(c.mentions), std::string::npos) << e.what();
    }
  }
}

TEST(MachineLoader, BadSectorListsStayRangesAndHaveABound) {
  // Ten thousand ranges of a hundred thousand sectors: a billion sectors, ten thousand
  // entries. Kept one by one this took minutes and gigabytes.
  std::string ranges;
  for (uint64_t i = 0; i < 10000; ++i) {
    ranges += (i == 0 ? "" : ",") + std::string("[") + std::to_string(i * 200000) + "," +
              std::to_string(i * 200000 + 100000) + "]";
  }
  const std::string drive = R"({"drives": [{"number": 0, "identity": {"sectors": 2000000000}, "unreadable": [)";
  SimMachine m = loadMachine(drive + ranges + "]}]}");
  const SimMedia& media = m.drives.at(0).disk();
  EXPECT_EQ(media.unreadableRanges().rangeCount(), 10000u);
  EXPECT_TRUE(media.isUnreadable(1'999'900'000));
  EXPECT_TRUE(media.isUnreadable(1'999'800'000 + 100000));
  EXPECT_FALSE(media.isUnreadable(1'999'800'000 + 100001));
  try {
    loadMachine(drive + ranges + ",7]}]}");
    ADD_FAILURE() << "accepted";
  } catch (const MachineDescriptionError& e) {
    EXPECT_NE(std::string(e.what()).find("machine.drives[0].unreadable: lists of more than 10000 entries"),
              std::string::npos)
        << e.what();
  }
}

TEST(MachineLoader, BuiltInMachinesLoadAndAnswer) {
  const auto names = builtinMachineNames();
  ASSERT_FALSE(names.empty());
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    SimPlatform p(builtinMachine(name));
    EXPECT_EQ(p.machine().name, name);
    EXPECT_FALSE(p.machine().drives.empty());
  }
  EXPECT_THROW(builtinMachine("no such machine"), MachineDescriptionError);
}

TEST(SimMedia, IsSparseAndKeepsBadSectorMarks) {
  SimMedia media(1ull << 33, 512);  // a 4 TB drive costs nothing until written
  std::vector<uint8_t> data(1024, 0xEE);
  ASSERT_TRUE(media.write(5000000000ull, 2, data.data()));
  EXPECT_EQ(media.storedSectors(), 2u);
  std::vector<uint8_t> back(2048, 0xFF);
  ASSERT_TRUE(media.read(4999999999ull, 4, back.data()));
  EXPECT_EQ(back[0], 0x00);
  EXPECT_EQ(back[512], 0xEE);
  EXPECT_EQ(back[1535], 0xEE);
  EXPECT_EQ(back[1536], 0x00);

  media.markUnreadable(10);
  uint64_t failed = 0;
  EXPECT_FALSE(media.read(8, 4, back.data(), &failed));
  EXPECT_EQ(failed, 10u);
  media.trim(10, 1);
  EXPECT_TRUE(media.read(8, 4, back.data()));
  media.markUnreadable(20);
  std::vector<uint8_t> zero(512, 0);
  ASSERT_TRUE(media.write(20, 1, zero.data()));  // rewriting reallocates a pending sector
  EXPECT_FALSE(media.isUnreadable(20));
  media.markUnwritable(30);
  EXPECT_FALSE(media.write(29, 2, data.data(), &failed));
  EXPECT_EQ(failed, 30u);
  media.eraseAll();
  EXPECT_EQ(media.storedSectors(), 0u);
  EXPECT_TRUE(media.unwritable().empty());
}

// A drive that acknowledges writes it never stores: the write succeeds, only the marked
// sector keeps its old data, and nothing reached it to reallocate a pending mark.
TEST(SimMedia, LostWritesSucceedAndKeepTheOldData) {
  SimMedia media(100, 512);
  const std::vector<uint8_t> old(3 * 512, 0xEE), zeros(16 * 512, 0);
  ASSERT_TRUE(media.write(40, 3, old.data()));
  media.markLostWrites(41, 41);
  media.markLostWrites(50, 50);
  media.markUnreadable(50);
  EXPECT_TRUE(media.write(40, 16, zeros.data()));
  EXPECT_EQ(std::vector<bool>({media.anyData(40, 1), media.anyData(41, 1), media.anyData(42, 1)}),
            std::vector<bool>({false, true, false}));
  EXPECT_TRUE(media.isUnreadable(50));
}

// A drive's own erase of the whole unit: every sector reads as the erase left it, and a
// later zero pass makes the unit read as zeros again, at the cost of one range.
TEST(SimMedia, WholeUnitErasesAndZerosWrittenAfterThem) {
  SimMedia media(1ull << 33, 512);
  std::vector<uint8_t> a(512), b(512);
  media.fillAll(0xFFFFFFFF);
  ASSERT_TRUE(media.read(7, 1, a.data()));
  EXPECT_EQ(a, std::vector<uint8_t>(512, 0xFF));
  media.scrambleAll(1);
  ASSERT_TRUE(media.read(7, 1, a.data()));
  ASSERT_TRUE(media.read(8, 1, b.data()));
  EXPECT_NE(a, std::vector<uint8_t>(512, 0));
  EXPECT_NE(a, b);
  const std::vector<uint8_t> zeros(512 * 4, 0);
  ASSERT_TRUE(media.write(6, 4, zeros.data()));
  EXPECT_FALSE(media.anyData(6, 4));
  EXPECT_TRUE(media.anyData(6, 5));
  EXPECT_EQ(media.storedSectors(), 0u);
}

TEST(SectorRanges, RangesMergeSplitAndAnswerTheFirstSectorHeld) {
  SectorRanges r;
  r.add(10, 19);
  r.add(30, 39);
  r.add(20, 25);  // touches the first: one range
  EXPECT_EQ(r.rangeCount(), 2u);
  r.add(26, 29);  // fills the gap: one range 10..39
  EXPECT_EQ(r.rangeCount(), 1u);
  r.remove(15, 10);  // 15..24 go: 10..14 and 25..39 stay
  EXPECT_EQ(r.rangeCount(), 2u);
  struct Probe {
    uint64_t lba, count;
    std::optional<uint64_t> first;
  };
  const Probe probes[] = {{0, 10, std::nullopt}, {0, 11, 10},  {14, 1, 14},          {15, 10, std::nullopt},
                          {15, 11, 25},          {39, 5, 39},  {40, 100, std::nullopt}, {12, 0, std::nullopt}};
  for (const Probe& p : probes) EXPECT_EQ(r.firstIn(p.lba, p.count), p.first) << p.lba << "+" << p.count;
  r.add(UINT64_MAX - 1, UINT64_MAX);
  r.remove(UINT64_MAX, 5);  // a count past the end of the numbers stops there
  EXPECT_TRUE(r.contains(UINT64_MAX - 1));
  EXPECT_FALSE(r.contains(UINT64_MAX));
  EXPECT_EQ(r.sectors().size(), 5u + 15u + 1u);
}

}  // namespace
}  // namespace palvoro::sim
