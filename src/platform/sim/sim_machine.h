#pragma once
// A simulated machine as data: its drives with their transports, IDENTIFY words per
// unit, SMART pages, media and faults, its volumes, and what the operating system
// reports (version, the user's rights, the Windows directory). A machine is usually
// described in JSON (see docs/machine-format.md) and loaded with loadMachine.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/sim_media.h"

namespace palvoro::sim {

using IdentifyWords = std::array<uint16_t, 256>;
using Page = std::array<uint8_t, 512>;

// One SMART attribute with its threshold, as a drive keeps them.
struct SimAttribute {
  uint8_t id = 0;
  uint16_t flags = 0;  // bit 0: pre-failure
  uint8_t value = 100;
  uint8_t worst = 100;
  uint64_t raw = 0;    // 48 bits are reported
  uint8_t threshold = 0;
};

struct SimSmart {
  bool enabled = true;
  std::vector<SimAttribute> attributes;
  // Forces the RETURN STATUS answer; otherwise it follows the attributes.
  std::optional<bool> reportExceeded;
  // Raw pages override what the attributes would give (tests of odd layouts).
  std::optional<Page> dataPage;
  std::optional<Page> thresholdPage;
};

// Self-test behaviour of a unit over simulated time.
struct SimSelfTest {
  uint32_t shortSeconds = 120;       // duration of the short self-test
  uint32_t extendedSeconds = 7200;   // ... extended
  uint32_t conveyanceSeconds = 300;  // ... conveyance
  uint8_t result = 0;                // execution status when it ends: 0 passed, 3..8 failures
  uint8_t checkpoint = 0;            // byte 371 reported after a failure
  // The sector a failed test names in its log entry; without it a read failure (status 7)
  // names the media's first unreadable sector.
  std::optional<uint64_t> failingLba;
  // Live state.
  bool running = false;
  uint8_t subcommand = 0;
  uint64_t startedMs = 0;
  uint8_t lastStatus = 0;            // byte 363 when no test runs
};

// One self-test as the drive logs it, in the SMART self-test log and the extended one.
struct SimSelfTestLogEntry {
  uint8_t test = 0x01;              // the sub-command that ran it (LBA low): 1 short, 2 extended, ...
  uint8_t status = 0;               // execution status: 0 passed, 1 aborted by the host, 3..8 failures
  uint8_t remainingTenths = 0;      // what was still to go when it ended
  uint16_t hours = 0;               // the drive's power-on hours when it ended
  uint8_t checkpoint = 0;
  uint64_t failingLba = 0;          // 48 bits; the SMART log keeps the low 28 (all ones: none named)
};

// One command of an error log structure, with its 48-bit registers.
struct SimErrorCommand {
  uint8_t deviceControl = 0;
  uint16_t features = 0;
  uint16_t count = 0;
  uint64_t lba = 0;
  uint8_t device = 0x40;
  uint8_t command = 0;
  uint32_t timestampMs = 0;         // since power-on
};

// One error the drive reported, as both error logs keep it.
struct SimErrorEntry {
  uint16_t hours = 0;               // life timestamp
  uint8_t error = 0;
  uint8_t status = 0x51;
  uint16_t count = 0;
  uint64_t lba = 0;
  uint8_t device = 0x40;
  uint8_t state = 0;                // the drive's state then (3: active or idle)
  std::vector<SimErrorCommand> commands;  // oldest first, the last the one that failed; at most 5
};

// Device statistics the description gives; an absent one is reported as not supported.
struct SimDeviceStatistics {
  std::optional<uint64_t> powerOnResets;          // page 1
  std::optional<uint64_t> logicalSectorsWritten;
  std::optional<uint64_t> writeCommands;
  std::optional<uint64_t> logicalSectorsRead;
  std::optional<uint64_t> readCommands;
  std::optional<uint64_t> uncorrectableErrors;    // page 4: reported uncorrectable errors
  std::optional<uint64_t> resetsDuringCommands;   // resets between command acceptance and completion
  std::optional<int8_t> averageShortTermTemperature;  // page 5
  std::optional<int8_t> averageLongTermTemperature;
  std::optional<uint64_t> overTemperatureMinutes;
  std::optional<uint64_t> underTemperatureMinutes;
};

// What the drive knows of its temperatures (degrees Celsius), for SCT and device statistics.
// An absent reading is the current one; the current one defaults to attribute 194's.
struct SimTemperature {
  std::optional<int8_t> current;
  std::optional<int8_t> min;          // this power cycle
  std::optional<int8_t> max;
  std::optional<int8_t> lifetimeMin;
  std::optional<int8_t> lifetimeMax;
  uint32_t overLimitCount = 0;
  uint32_t underLimitCount = 0;
  int8_t maxOperating = 60;
  int8_t overLimit = 65;
  int8_t minOperating = 0;
  int8_t underLimit = -5;
  uint16_t samplingMinutes = 1;
  uint16_t intervalMinutes = 1;
  std::vector<int8_t> history;        // oldest first, at most 478 samples
};

// The logs a unit keeps beside its SMART pages.
struct SimDriveLogs {
  // Power-on hours at the clock's zero (they move with it); absent: attribute 9's raw value.
  std::optional<uint64_t> powerOnHours;
  std::vector<SimSelfTestLogEntry> selfTests;  // oldest first, the newest 21 (both logs' rings)
  uint64_t selfTestsLogged = 0;     // every entry ever written: where the ring stands
  std::vector<SimErrorEntry> errors;           // oldest first, the newest 64
  uint32_t errorCount = 0;          // device error count, at least the entries
  SimDeviceStatistics statistics;
  SimTemperature temperature;
  // Live state: the table the last SCT data table command asked for (log E1h), and that
  // command's action and function codes, which SCT status reports.
  std::optional<uint16_t> sctTable;
  uint16_t sctAction = 0;
  uint16_t sctFunction = 0;
};

// One addressable unit of a drive. Ordinary drives have unit 0 only; the maker's
// dual-unit drives also answer for unit 2.
struct SimUnit {
  IdentifyWords identify{};
  // What IDENTIFY reports while the vendor SCT switch (action C013h) is on.
  std::optional<IdentifyWords> identifySwitched;
  // IDENTIFY DEVICE data log (30h) page 3; absent when the drive lacks the log.
  std::optional<Page> identifyLogPage3;
  SimMedia media;
  SimSmart smart;
  SimSelfTest selfTest;
  uint8_t offlineCapability = 0x7B;  // byte 367: off-line, self-tests, conveyance, selective
  uint8_t shortPollMinutes = 2;      // byte 372
  uint8_t extendedPollMinutes = 120; // byte 373
  uint8_t conveyancePollMinutes = 5; // byte 374
  SimDriveLogs logs;
};

// How the operating system reaches a drive. Each sets the defaults of the fields below;
// a description may change any of them.
enum class Transport {
  Ata,        // ATA/SATA controller: SMART driver, ATA pass-through, and a SCSI layer
              // that answers INQUIRY and READ CAPACITY for the disk
  UsbSat,     // USB bridge translating ATA PASS-THROUGH (12) and (16)
  UsbAtacb,   // USB bridge carrying the vendor ATA command block
  FireWire,   // FireWire bridge
  Scsi,       // SCSI disk: SCSI commands only
  Raid,       // the maker's two-drive USB RAID enclosure
  Optical,    // an optical drive (peripheral device type 5)
  Nvme,       // an NVMe controller under the system's NVMe driver: Identify and log
              // pages as protocol-specific property queries, Device Self-test as a
              // protocol command, and the driver's SCSI translation for the disk
};

// The ATA Security feature set of a drive.
struct SimSecurity {
  bool enhanced = true;             // offers the enhanced erase
  bool enabled = false;             // a user password is set
  bool locked = false;              // ... and the drive was powered up with it: media access refused
  bool frozen = false;              // SECURITY FREEZE LOCK was given (by the BIOS): no security command runs
  bool masterMaximum = false;       // the level set with the password: maximum (the master cannot unlock)
  uint8_t attemptsLeft = 5;         // wrong passwords the drive takes until power-off; 0: count expired
  std::string userPassword;         // as sent, 32 bytes; "" when none
  std::string masterPassword;       // 32 bytes; "" for the maker's (unknown) one
  uint16_t eraseMinutes = 2;        // IDENTIFY word 89
  uint16_t enhancedMinutes = 4;     // IDENTIFY word 90
  // Live state: SECURITY ERASE PREPARE was the command before.
  bool erasePrepared = false;
};

// The ATA Sanitize feature set, on the drive's own clock.
struct SimSanitize {
  bool crypto = true;               // CRYPTO SCRAMBLE EXT
  bool block = true;                // BLOCK ERASE EXT
  bool overwrite = false;           // OVERWRITE EXT
  uint32_t seconds = 90;            // how long an operation runs
  uint8_t erasedValue = 0x00;       // what a block erase leaves in every byte
  bool fails = false;               // operations end failed (SANITIZE STATUS aborts, reason 1)
  // Live state.
  bool running = false;
  uint16_t function = 0;
  uint32_t pattern = 0;             // OVERWRITE's
  uint64_t startedMs = 0;
  bool completedOk = false;
  bool failed = false;
};

struct SimAtaDrive {
  std::map<int, SimUnit> units;     // key 0, and 2 for a dual-unit drive
  bool bridgeSignature = false;     // EXECUTE DEVICE DIAGNOSTIC returns CDh/ABh
  bool sctVendorSwitch = false;     // accepts the maker's SCT action C013h
  bool dsmXl = false;               // accepts DATA SET MANAGEMENT XL (07h)
  std::optional<SimSecurity> security;     // the Security feature set, when the drive has it
  std::optional<SimSanitize> sanitizeSet;  // the Sanitize feature set as described; without it
                                           // word 59 and the block erase stand as before
  // A Host Protected Area: unit 0's media holds this many sectors, IDENTIFY reports the
  // media's host sectors. Without it the drive has no HPA feature set.
  std::optional<uint64_t> nativeSectors;
  // A Device Configuration Overlay: what DEVICE CONFIGURATION IDENTIFY gives as the
  // drive's maximum (max LBA + 1). Without it the drive has no DCO feature set.
  std::optional<uint64_t> dcoSectors;
  // Live state.
  bool nativeMaxRead = false;       // the command before was READ NATIVE MAX ADDRESS (EXT)
  bool maxSetPersistent = false;    // a non-volatile SET MAX ADDRESS was taken
  bool switched = false;            // vendor SCT switch on
  bool sanitizeCompleted = false;   // last sanitize completed without error
  // Registers the drive returned for its last command (error, count, LBA low, mid,
  // high, device, status), which a SAT bridge hands back on request.
  std::array<uint8_t, 7> lastReturn{};
  // ... and the high-order bytes of its 48-bit registers (features, count, LBA 31:24,
  // 39:32, 47:40), which the bridge puts right after them.
  std::array<uint8_t, 5> lastReturnHigh{};

  bool dualUnit() const { return units.count(2) != 0; }
};

// The SMART driver interface of an ATA/SATA controller.
struct SimSmartDriver {
  bool present = true;               // answers SMART_GET_VERSION / RCV / SEND
  bool rejectsReceive = false;       // refuses SMART_RCV_DRIVE_DATA
  bool failsReturnStatus = false;    // refuses SMART RETURN STATUS
  uint8_t deviceMap = 0x01;          // bIDEDeviceMap of the version reply
};

// The bridge driver's answers for the vendor ATA command block.
struct SimAtacb {
  bool capabilitiesFail = false;     // control code 221400h fails
  bool supported = true;             // capability bit 18
  bool signatureFails = false;       // control code 221404h fails
  std::array<uint8_t, 2> signature{0x24, 0x24};
  std::vector<uint8_t> capabilityAnswer;  // raw answer to 221400h; empty: made from `supported`
};

// SANITIZE of a SCSI drive, and REPORT SUPPORTED OPERATION CODES that tells of it.
struct SimScsiSanitize {
  uint8_t actions = 0;               // bit n: service action n (1 overwrite, 2 block erase, 3 crypto erase)
  bool reportsOpcodes = true;        // answers REPORT SUPPORTED OPERATION CODES
  bool bridgeRefuses = false;        // a USB bridge in front answers SANITIZE as an unknown command
  uint32_t seconds = 60;             // how long a sanitize takes
  bool fails = false;                // the next sanitize ends in failure
  // Live state.
  bool running = false;
  bool failed = false;               // the last one failed: the drive stays in its failure mode
  uint8_t action = 0;
  uint32_t pattern = 0;              // OVERWRITE: the first four bytes of the pattern
  uint64_t startedMs = 0;
  uint64_t cryptoErases = 0;
};

// What answers SCSI pass-through for the drive.
struct SimScsiTarget {
  bool present = true;
  std::vector<uint8_t> inquiry;      // standard INQUIRY data (96 bytes)
  std::map<uint8_t, std::vector<uint8_t>> vpd;         // VPD pages but 00h, synthesised
  std::map<uint8_t, std::vector<uint8_t>> diagnostic;  // RECEIVE DIAGNOSTIC RESULTS pages
  bool sat12 = false;                // translates ATA PASS-THROUGH (12)
  bool sat16 = false;                // translates ATA PASS-THROUGH (16)
  bool atacb = false;                // carries the vendor ATA command block
  SimAtacb atacbDriver;
  bool readCapacityFails = false;
  bool readCapacity16Fails = false;
  // A disk above 2 TB answers READ CAPACITY (10) with FFFFFFFFh and (16) with the count;
  // a device without (16) support is described with this set to false.
  bool readCapacity16 = true;
  // Replies in place of those the media makes, for a device that answers anything (the
  // fuzz target's); empty: made from the media.
  std::vector<uint8_t> capacity10Reply;
  std::vector<uint8_t> capacity16Reply;
  // Log addresses whose SMART READ LOG, SMART WRITE LOG and READ LOG EXT the bridge will
  // not carry: it answers them as any command it does not pass.
  std::set<uint8_t> refusedLogs;
  // The bridge will not carry the SECURITY and SANITIZE commands (some do not): it answers
  // them with ILLEGAL REQUEST, INVALID FIELD IN CDB.
  bool refusesPurge = false;
  // Without it the device knows neither SANITIZE nor REPORT SUPPORTED OPERATION CODES.
  std::optional<SimScsiSanitize> sanitize;
};

// One entry of an NVMe controller's self-test log.
struct SimNvmeSelfTestEntry {
  uint8_t code = 1;                     // 1 short, 2 extended
  uint8_t result = 0;                   // 0 passed, 1 aborted by Device Self-test, ... 9
  uint8_t segment = 0;                  // the failing segment of result 7
  uint64_t powerOnHours = 0;
  std::optional<uint64_t> failingLba;   // with it the entry names the namespace and LBA
};

// One entry of an NVMe controller's error information log.
struct SimNvmeErrorEntry {
  uint64_t errorCount = 1;              // non-zero, unique
  uint16_t sqid = 0;
  uint16_t cid = 0;
  uint16_t status = 0;                  // (type << 8) | code
  uint16_t parameterErrorLocation = 0xFFFF;  // FFFFh: not a parameter error
  uint64_t lba = 0;
  uint32_t nsid = 0;
  uint8_t transportType = 0;
  uint64_t commandSpecific = 0;
};

// The controller's health values, as the SMART / Health Information log reports them.
struct SimNvmeHealth {
  uint8_t criticalWarning = 0;
  uint16_t temperatureKelvin = 310;     // composite temperature, 37 °C
  uint8_t availableSpare = 100;         // percent
  uint8_t spareThreshold = 10;          // percent
  uint8_t percentageUsed = 0;
  uint64_t dataUnitsRead = 0;           // thousands of 512-byte units
  uint64_t dataUnitsWritten = 0;
  uint64_t hostReads = 0;
  uint64_t hostWrites = 0;
  uint64_t busyMinutes = 0;
  uint64_t powerCycles = 0;
  uint64_t powerOnHours = 0;            // at the clock's zero; it moves with the clock
  uint64_t unsafeShutdowns = 0;
  uint64_t mediaErrors = 0;
  uint64_t errorLogEntries = 0;
  uint32_t warningTemperatureMinutes = 0;
  uint32_t criticalTemperatureMinutes = 0;
  std::vector<uint16_t> sensorsKelvin;  // up to 8; the others are not implemented
};

// The Device Self-test of an NVMe controller over simulated time.
struct SimNvmeSelfTest {
  bool supported = true;                // Identify Controller OACS bit 4
  uint32_t shortSeconds = 120;
  uint16_t extendedMinutes = 30;        // EDSTT
  // How the next test ends.
  uint8_t result = 0;                   // 0..9
  uint8_t segment = 0;
  std::optional<uint64_t> failingLba;
  std::vector<SimNvmeSelfTestEntry> log;  // newest first, at most 20
  // Live state.
  bool running = false;
  uint8_t code = 0;                     // 1 short, 2 extended
  uint32_t nsid = 0;                    // the namespace the running test was given
  uint64_t startedMs = 0;
};

// One LBA format of the namespace's format table.
struct SimNvmeLbaFormat {
  uint32_t dataBytes = 512;             // 512 or 4096
  uint16_t metadataBytes = 0;
};

// Format NVM and Sanitize: what the controller offers, and a sanitize under way.
struct SimNvmeErase {
  bool formatNvm = false;               // OACS bit 1
  uint8_t fna = 0;                      // bit 0 format and bit 1 secure erase reach every namespace,
                                        // bit 2 cryptographic erase
  uint8_t sanicap = 0;                  // bit 0 crypto erase, 1 block erase, 2 overwrite
  uint8_t dlfeat = 0;                   // bits 2:0: 1 deallocated blocks read 00h, 2 FFh
  // The format table; empty: 512 and 4096 bytes without metadata, the one in use following
  // the media's block size.
  std::vector<SimNvmeLbaFormat> lbaFormats;
  uint8_t formatInUse = 0;              // with lbaFormats: the entry the namespace has
  uint32_t sanitizeSeconds = 60;        // how long every sanitize action takes
  bool sanitizeFails = false;           // the next sanitize ends in failure
  // Live state: the last sanitize (its CDW10 and overwrite pattern), whether it still runs,
  // and its status (SSTAT bits 2:0: 0 never, 1 completed, 3 failed).
  bool sanitizing = false;
  uint32_t sanitizeCdw10 = 0;
  uint32_t sanitizePattern = 0;
  uint64_t sanitizeStartedMs = 0;
  uint8_t sanitizeStatus = 0;
  uint64_t cryptoErases = 0;            // each one draws the media's bytes anew
};

// An NVMe controller with the disk as one of its namespaces.
struct SimNvme {
  std::string model;                    // up to 40 bytes, any bytes, padded with spaces
  std::string serial;                   // up to 20
  std::string firmware;                 // up to 8
  uint16_t pciVendorId = 0x1F9A;        // an invented maker's
  uint32_t ieeeOui = 0x5CA1AB;
  uint32_t namespaces = 1;              // NN
  uint32_t nsid = 1;                    // the disk's namespace
  uint16_t warningTemperatureKelvin = 343;   // WCTEMP, 70 °C
  uint16_t criticalTemperatureKelvin = 358;  // CCTEMP, 85 °C
  SimNvmeHealth health;
  SimNvmeSelfTest selfTest;
  std::vector<SimNvmeErrorEntry> errorLog;  // newest first, at most 64 (ELPE + 1)
  SimNvmeErase erase;
  // Raw pages in place of those made from the fields above (tests of odd layouts), padded
  // with zeros to the page's size.
  std::optional<std::vector<uint8_t>> identifyControllerPage;
  std::optional<std::vector<uint8_t>> identifyNamespacePage;
  std::optional<std::vector<uint8_t>> healthPage;
};

// How the drive serves queued block transfers: how many at once, the largest it takes,
// and what each costs besides the media's own time (its slow regions). The defaults serve
// one 128 KiB request at a time at no cost, as a drive reached only through readFile.
struct SimQueueModel {
  uint32_t depth = 1;
  uint32_t maxTransferBytes = 128 * 1024;
  uint64_t requestMicroseconds = 0;  // each request's own time: command, seek, interrupt
  uint64_t megabytesPerSecond = 0;   // what the link moves, shared by every request; 0 for no limit
  bool rotational = false;
};

// How a drive's temperature follows its work, in degrees Celsius: it gains `perGigabyte`
// for every 10^9 bytes it reads or writes and loses `coolingPerIdleMinute` for every minute
// the machine's clock moves without a transfer (a sleep, the time a test moves by hand),
// never below `ambient`. What it reaches is what attributes 194 and 190 (the low byte of
// their raw values), SCT status, device statistics and the NVMe health log report, in
// place of their described values.
struct SimThermal {
  double start = 35;
  double ambient = 35;
  double perGigabyte = 0;
  double coolingPerIdleMinute = 0;
  // Live state.
  double celsius = 35;
  uint64_t cooledAtMs = 0;          // the machine's clock when the cooling was last reckoned
};

struct SimDrive {
  int number = 0;                   // N of "\\.\PhysicalDriveN"
  Transport transport = Transport::Ata;
  bool present = true;              // false once the drive has vanished
  // Which arrival of the drive this is: every time it is plugged in (SimMachine::plug) it
  // gets a new one, and the handles opened on the one before stop working.
  uint64_t arrival = 0;
  int busType = 11;                 // adapter bus type of the storage property query
  bool ataPassThrough = true;       // IOCTL_ATA_PASS_THROUGH reaches the drive
  SimSmartDriver smartDriver;
  SimScsiTarget scsi;
  bool virtualDisk = false;          // a virtual disk: its disk interface names "acronisvbus"
  bool statusInterface = true;      // RAID enclosure: its driver publishes the status interface
  SimAtaDrive ata;                  // the drive (RAID enclosure: member A)
  std::optional<SimAtaDrive> memberB;  // RAID enclosure: member B, device byte B0h
  std::optional<SimNvme> nvme;      // an NVMe drive's controller; its namespace is disk()
  SimQueueModel queue;
  // Without it the drive reports the temperatures its description gives, however it works.
  std::optional<SimThermal> thermal;
  // What the operating system sees as the disk: unit 0's media.
  SimMedia& disk() { return ata.units.at(0).media; }
};

struct SimVolume {
  char letter = 'C';
  int drive = -1;                   // physical drive the volume lies on; -1 none
  uint32_t partitionNumber = 1;     // 1-based, its entry in the drive's partition table
  uint64_t startSector = 0;
  uint64_t sectorCount = 0;
  uint32_t driveType = 3;           // DRIVE_FIXED
  std::string fileSystem = "NTFS";
  std::string label;
  int openFiles = 0;                // files other programs hold open: locking fails
  uint64_t sizeBytes = 0;           // size of a volume on no simulated drive (network, ...)
  uint64_t freeBytes = 0;
  bool mediaPresent = true;         // a CD-ROM or card reader without media answers nothing
  // Live state.
  bool mounted = true;
  bool locked = false;
  bool removed = false;             // its partition was deleted
};

struct SimMachine {
  std::string name;
  uint32_t osMajor = 10;
  uint32_t osMinor = 0;
  bool administrator = true;
  std::string windowsDirectory = "C:\\Windows";
  std::vector<SimDrive> drives;
  std::vector<SimVolume> volumes;
  std::vector<TopLevelWindow> windows;  // the other programs' open top-level windows

  uint64_t arrivals = 0;                // the last arrival number given out

  SimDrive* findDrive(int number);
  // Pulls drive `number` out, or plugs it in again; plugged in, it is a new arrival.
  void plug(int number, bool present);
  // Device interface path of a drive's disk interface, and of a RAID enclosure's status
  // interface.
  static std::string diskInterfacePath(const SimDrive& drive);
  static std::string statusInterfacePath(const SimDrive& drive);
  SimVolume* findVolume(char letter);
};

// A machine description that cannot be used; the message names the field.
class MachineDescriptionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Sets the fields a transport implies (bus type, which interfaces answer, the INQUIRY
// data a stack of that kind reports for the drive). loadMachine applies it before the
// description's own fields; code that builds machines by hand calls it too. An NVMe drive
// keeps the controller it has, or gets one named from unit 0's IDENTIFY texts.
void applyTransportDefaults(SimDrive& drive);
// The RAID enclosure's VPD pages 01h and 02h: each member's serial number from byte 5.
void refreshRaidMemberPages(SimDrive& drive);

// Parses a JSON machine description. Throws MachineDescriptionError.
SimMachine loadMachine(const std::string& json);
// The machines compiled into the program, by name ("basic", ...).
std::vector<std::string> builtinMachineNames();
SimMachine builtinMachine(const std::string& name);
// The JSON description a built-in machine is loaded from, for variants of it.
std::string builtinMachineDescription(const std::string& name);

// What a description says of a unit's identity; makeIdentify turns it into the words a
// drive of that kind reports (strings byte-swapped, integrity word set).
struct IdentityDescription {
  std::string model;
  std::string serial;
  std::string firmware;
  uint64_t sectors = 0;
  bool lba48 = true;
  bool smart = true;
  bool trim = false;
  bool sanitize = false;            // sanitize with block erase (word 59 bits 12, 15)
  bool sct = true;                  // SCT command transport (word 206 bit 0)
  bool gpl = true;                  // general purpose logging (words 84 and 87 bit 5)
  bool selfTestLog = true;          // with SMART: the self-test log (words 84 and 87 bit 1)
  bool errorLog = true;             // with SMART: the error logs (words 84 and 87 bit 0)
  uint16_t rotationRate = 7200;
  uint16_t word106 = 0x4000;        // valid, one 512-byte logical sector per physical
  uint32_t logicalSectorWords = 0;  // words 117..118
  uint64_t wwn = 0;                 // words 108..111
  uint16_t word133 = 0;
  std::map<int, uint16_t> words;    // raw overrides, applied last
};
IdentifyWords makeIdentify(const IdentityDescription& identity);
// Recomputes word 255 (signature A5h and checksum).
void setIdentifyChecksum(IdentifyWords& words);
// Page 3 of the IDENTIFY DEVICE data log with a valid header and `capabilities` at
// bytes 8..15.
Page makeCapabilitiesPage(uint64_t capabilities);

}  // namespace palvoro::sim
