// The machines compiled into the program. Each is an ordinary machine description, so
// it documents the format by example and goes through the same checks as a file.

#include <map>

#include "platform/sim/sim_machine.h"

namespace palvoro::sim {
namespace {

// A desktop with two of the maker's SATA drives, one of them with a few bad sectors,
// and another maker's solid-state drive.
constexpr const char* kBasic = R"json({
  "name": "basic",
  "os": {"major": 10, "minor": 0},
  "administrator": true,
  "windowsDirectory": "C:\\Windows",
  "drives": [
    {
      "number": 0,
      "identity": {"model": "VHT VH7SAB100", "serial": "VH7K01A2B3C4", "firmware": "A5C0", "sectors": 1953525168,
                   "rotationRate": 7200, "wwn": "0x5000CCA01A2B3C4D", "word133": "0x0400"},
      "capabilities": "0x0000000000000000",
      "smart": {"attributes": [
        {"id": 1, "flags": 11, "value": 100, "worst": 100, "threshold": 16},
        {"id": 5, "flags": 51, "value": 100, "worst": 100, "threshold": 5},
        {"id": 9, "flags": 18, "value": 98, "worst": 98, "raw": 14230},
        {"id": 194, "flags": 2, "value": 200, "worst": 180, "raw": 34}
      ]}
    },
    {
      "number": 1,
      "identity": {"model": "Kestrel KS500 256GB", "serial": "KS5-0099812", "firmware": "KS50R1", "sectors": 500118192,
                   "rotationRate": 1, "trim": true, "sanitize": true},
      "dsmXl": false,
      "smart": {"attributes": [
        {"id": 5, "flags": 51, "value": 100, "worst": 100, "threshold": 10},
        {"id": 9, "flags": 50, "value": 99, "worst": 99, "raw": 812}
      ]}
    },
    {
      "number": 2,
      "identity": {"model": "VHT VH5K500", "serial": "VH5K09F8E7D6", "firmware": "B2A1", "sectors": 976773168,
                   "rotationRate": 5400, "trim": true, "wwn": "0x5000CCA0F8E7D6C5"},
      "capabilities": "0x0004000000000000",
      "unreadable": [1000, [500000, 500003]],
      "smart": {"attributes": [
        {"id": 1, "flags": 11, "value": 90, "worst": 88, "threshold": 16},
        {"id": 5, "flags": 51, "value": 96, "worst": 96, "threshold": 5, "raw": 40},
        {"id": 197, "flags": 34, "value": 100, "worst": 100, "raw": 5}
      ]}
    }
  ],
  "volumes": [
    {"letter": "C", "drive": 0, "partition": 1, "start": 2048, "sectors": 1024000000, "fileSystem": "NTFS", "label": "System"},
    {"letter": "D", "drive": 0, "partition": 2, "start": 1024002048, "sectors": 929523120, "fileSystem": "NTFS", "label": "Data"},
    {"letter": "E", "drive": 1, "partition": 1, "start": 2048, "sectors": 500116144, "fileSystem": "exFAT", "label": "Fast"}
  ]
})json";


// The showcase: a desktop holding one drive of every kind the program knows, plus the
// devices it must leave out. Accepted, in drive-number order: the maker's SATA drive,
// a dual-unit hybrid drive, the maker's SSD, a USB drive behind a SAT bridge, another
// maker's NVMe drive, the maker's FireWire enclosure, a SCSI drive above 2 TB and the
// RAID enclosure. Left out: an optical drive, a virtual disk and a bridge that answers
// the diagnostic signature. A bridge carrying the vendor command block is not here: the
// tests of that block build their own machines, and the bench machine holds many drives.
// The drives keep logs that tell their stories: the maker's SATA drive is clean (two
// passed self-tests, no errors, cool and steady); the Kestrel behind the SAT bridge failed
// its last extended self-test at sector 123456, the first of its four unreadable sectors,
// reported three uncorrectable reads there in its last fifty hours and once ran hot, and
// its bridge will not carry device statistics; the NVMe drive's error log holds the two
// harmless errors its health log counts last.
constexpr const char* kShowcase = R"json({
  "name": "showcase",
  "os": {"major": 10, "minor": 0},
  "administrator": true,
  "windowsDirectory": "C:\\Windows",
  "drives": [
    {
      "number": 0,
      "identity": {"model": "VHT VH7SAB200", "serial": "VH7K2A01B3C4", "firmware": "A5C0", "sectors": 3907029168,
                   "rotationRate": 7200, "wwn": "0x5000CCA01A2B3C4D", "word133": "0x0400"},
      "capabilities": "0x0000000000000000",
      "smart": {"attributes": [
        {"id": 1, "flags": 11, "value": 100, "worst": 100, "threshold": 16},
        {"id": 3, "flags": 7, "value": 133, "worst": 133, "threshold": 24, "raw": 412},
        {"id": 5, "flags": 51, "value": 100, "worst": 100, "threshold": 5},
        {"id": 9, "flags": 18, "value": 98, "worst": 98, "raw": 14230},
        {"id": 194, "flags": 2, "value": 200, "worst": 180, "raw": 34}
      ]},
      "logs": {
        "selfTests": [{"test": 1, "status": 0, "hours": 13562}, {"test": 2, "status": 0, "hours": 14104}],
        "statistics": {"powerOnResets": 388, "logicalSectorsWritten": 48213377024, "writeCommands": 402117335,
                       "logicalSectorsRead": 91538221056, "readCommands": 688104517, "uncorrectableErrors": 0,
                       "resetsDuringCommands": 0, "averageShortTermTemperature": 34, "averageLongTermTemperature": 33,
                       "overTemperatureMinutes": 0, "underTemperatureMinutes": 0},
        "temperature": {"current": 34, "min": 29, "max": 36, "lifetimeMin": 17, "lifetimeMax": 49,
                        "limits": {"maxOperating": 60, "overLimit": 65, "minOperating": 0, "underLimit": -5},
                        "samplingMinutes": 1, "intervalMinutes": 10,
                        "history": [33, 33, 34, 34, 35, 35, 36, 35, 35, 34, 34, 34, 33, 33, 33, 34, 34, 34, 35, 35,
                                    34, 34, 33, 34]}
      }
    },
    {
      "number": 1,
      "identity": {"model": "VHT VHH7S100516AB2C3D1", "serial": "VHH7A0099221", "firmware": "01A2", "sectors": 1953525168,
                   "rotationRate": 5400, "trim": true, "words": {"59": "0x5000"}},
      "capabilities": "0x0004000000000000",
      "sctVendorSwitch": true,
      "secondUnit": {
        "identity": {"model": "VHT VHH7S100516AB2C3D1", "serial": "VHH7A0099221F", "firmware": "01A2", "sectors": 31273136,
                     "rotationRate": 1, "trim": true}
      },
      "smart": {"attributes": [
        {"id": 1, "flags": 11, "value": 100, "worst": 100, "threshold": 62},
        {"id": 5, "flags": 51, "value": 100, "worst": 100, "threshold": 5},
        {"id": 9, "flags": 18, "value": 99, "worst": 99, "raw": 2210}
      ]}
    },
    {
      "number": 2,
      "identity": {"model": "VHT VHS512G", "serial": "VHS5120042", "firmware": "S1.0", "sectors": 1000215216,
                   "rotationRate": 1, "trim": true, "sanitize": true},
      "smart": {"attributes": [{"id": 5, "flags": 51, "value": 100, "worst": 100, "threshold": 10}]}
    },
    {"number": 3, "transport": "optical", "identity": {"model": "DVD", "sectors": 1}},
    {
      "number": 4,
      "transport": "usb-sat",
      "identity": {"model": "Kestrel KX1000", "serial": "KX10007731", "firmware": "KX1R", "sectors": 1953525168,
                   "rotationRate": 5400},
      "unreadable": [[123456, 123459]],
      "slowRegions": [{"first": 122880, "last": 124927, "milliseconds": 620},
                      {"first": 250000, "last": 252047, "milliseconds": 180}],
      "smart": {"attributes": [
        {"id": 5, "flags": 51, "value": 98, "worst": 98, "threshold": 36, "raw": 24},
        {"id": 9, "flags": 18, "value": 84, "worst": 84, "raw": 14230},
        {"id": 197, "flags": 18, "value": 100, "worst": 100, "raw": 4}
      ]},
      "logs": {
        "powerOnHours": 14230,
        "selfTests": [{"test": 2, "status": 0, "hours": 12877}, {"test": 1, "status": 0, "hours": 13940},
                      {"test": 2, "status": 7, "remaining": 90, "hours": 14187, "lba": 123456}],
        "errors": [
          {"hours": 14188, "error": "0x40", "status": "0x51", "lba": 123456, "count": 8, "state": 3, "commands": [
            {"command": "0x25", "count": 256, "lba": 122880, "device": "0x40", "timestampMs": 3210400},
            {"command": "0x25", "count": 256, "lba": 123136, "device": "0x40", "timestampMs": 3210655},
            {"command": "0x25", "count": 8, "lba": 123456, "device": "0x40", "timestampMs": 3211282}]},
          {"hours": 14201, "error": "0x40", "status": "0x41", "lba": 123457, "count": 16, "state": 3, "commands": [
            {"command": "0x60", "features": 256, "count": 0, "lba": 122880, "device": "0x40", "timestampMs": 50120015},
            {"command": "0x60", "features": 256, "count": 8, "lba": 123136, "device": "0x40", "timestampMs": 50120016},
            {"command": "0x60", "features": 8, "count": 16, "lba": 123456, "device": "0x40", "timestampMs": 50120016}]},
          {"hours": 14226, "error": "0x40", "status": "0x41", "lba": 123459, "count": 24, "state": 3, "commands": [
            {"command": "0x60", "features": 64, "count": 8, "lba": 123392, "device": "0x40", "timestampMs": 9022781},
            {"command": "0x60", "features": 64, "count": 24, "lba": 123456, "device": "0x40", "timestampMs": 9022781}]}
        ],
        "statistics": {"powerOnResets": 2104, "logicalSectorsWritten": 5302881024, "writeCommands": 40115007,
                       "logicalSectorsRead": 12779400192, "readCommands": 101551243, "uncorrectableErrors": 3,
                       "resetsDuringCommands": 1, "averageShortTermTemperature": 44, "averageLongTermTemperature": 40,
                       "overTemperatureMinutes": 60, "underTemperatureMinutes": 0},
        "temperature": {"current": 41, "min": 33, "max": 62, "lifetimeMin": 18, "lifetimeMax": 62, "overLimitCount": 1,
                        "limits": {"maxOperating": 55, "overLimit": 60, "minOperating": 5, "underLimit": 0},
                        "samplingMinutes": 1, "intervalMinutes": 10,
                        "history": [36, 37, 38, 40, 42, 44, 46, 48, 50, 52, 54, 56, 58, 61, 62, 60, 57, 54, 51, 48,
                                    46, 45, 44, 43, 42, 42, 41, 41, 40, 40, 41, 41, 42, 42, 41, 41, 40, 40, 41, 41,
                                    41, 41, 42, 41, 41, 41, 41, 41]}
      },
      "refusedLogs": ["0x04"]
    },
    {"number": 5, "identity": {"model": "Virtual Disk", "sectors": 2097152}, "virtual": true},
    {
      "number": 6,
      "transport": "nvme",
      "identity": {"model": "Sabik NV2 1TB", "serial": "SBK2N1T0A4471", "firmware": "S21R0512", "sectors": 1953525168},
      "nvme": {
        "health": {"temperature": 38, "availableSpare": 100, "spareThreshold": 10, "percentageUsed": 3,
                   "dataUnitsRead": 28551312, "dataUnitsWritten": 21873440, "hostReads": 412558907,
                   "hostWrites": 398221754, "busyMinutes": 1893, "powerCycles": 1187, "powerOnHours": 3412,
                   "unsafeShutdowns": 41, "errorLogEntries": 12, "sensors": [38, 45]},
        "selfTest": {"supported": true, "shortSeconds": 90, "extendedMinutes": 12},
        "selfTestLog": [{"code": 1, "result": 0, "powerOnHours": 3320}],
        "errorLog": [
          {"errorCount": 12, "sqid": 0, "cid": 4113, "status": "0x109", "parameterErrorLocation": "0x28", "nsid": 0},
          {"errorCount": 11, "sqid": 0, "cid": 4097, "status": "0x002", "parameterErrorLocation": "0x28", "nsid": 0}
        ]
      }
    },
    {
      "number": 7,
      "transport": "firewire",
      "identity": {"model": "VHT VH7K1000", "serial": "VH7K1A55", "firmware": "A1B0", "sectors": 1953525168},
      "inquiry": {"vendor": "VH", "product": "FireWire 800", "revision": "0200", "text": {"40": "FW800S0001      "}},
      "vpd": {"0xC3": {"hex": "00 C3 00 5C 00 00 00 00 00 00 25 F3"}},
      "smart": {"attributes": [{"id": 5, "flags": 51, "value": 100, "worst": 100, "threshold": 5}]}
    },
    {"number": 8, "transport": "usb-sat", "identity": {"model": "Card Reader", "sectors": 1}, "bridgeSignature": true},
    {
      "number": 9,
      "transport": "scsi",
      "identity": {"sectors": 11721045168},
      "inquiry": {"vendor": "SEAGATE", "product": "ST6000NM0034", "revision": "E005", "text": {"36": "Z4D0A1B2"}}
    },
    {
      "number": 10,
      "transport": "raid",
      "identity": {"model": "VHT VH7K2", "serial": "VHRAIDA0001", "firmware": "A1", "sectors": 3907029168},
      "memberB": {"identity": {"model": "VHT VH7K2", "serial": "VHRAIDB0002", "firmware": "A1", "sectors": 3907029168}},
      "inquiry": {"vendor": "VH", "product": "Nodrik Duo", "revision": "0210", "text": {"40": "NDUO00042       "}},
      "vpd": {"0x80": {"serial": "NDUO00042"}},
      "diagnostic": {"0x82": {"hex": "82 00 00 04 46 2A 00 00"}}
    }
  ],
  "volumes": [
    {"letter": "C", "drive": 0, "partition": 1, "start": 2048, "sectors": 1048576000, "fileSystem": "NTFS", "label": "System",
     "freeBytes": 212000000000},
    {"letter": "D", "drive": 0, "partition": 2, "start": 1048578048, "sectors": 2858449920, "fileSystem": "NTFS", "label": "Data",
     "freeBytes": 900000000000},
    {"letter": "E", "drive": 1, "partition": 1, "start": 2048, "sectors": 1953521664, "fileSystem": "NTFS", "label": "Games",
     "freeBytes": 400000000000},
    {"letter": "F", "drive": 4, "partition": 1, "start": 2048, "sectors": 1953521664, "fileSystem": "exFAT", "label": "Backup",
     "freeBytes": 100000000000},
    {"letter": "G", "drive": 2, "partition": 1, "start": 2048, "sectors": 1000212480, "fileSystem": "NTFS", "label": "Fast",
     "freeBytes": 300000000000},
    {"letter": "R", "type": "cdrom", "mediaPresent": false},
    {"letter": "Z", "type": "network", "label": "Shared", "fileSystem": "NTFS", "sizeBytes": 4000000000000,
     "freeBytes": 1000000000000}
  ]
})json";

// A test bench of twenty drives, more than a desktop holds, in four kinds taken in turn:
// SATA drives on the controller, USB drives behind SAT bridges, SCSI disks and NVMe
// drives, every one with a serial number of its own. The system lies on drive 0; the
// operating system, the rights and the Windows folder are the defaults.
constexpr const char* kBench = R"json({
  "name": "bench",
  "drives": [
    {"number": 0, "identity": {"model": "VHT VH7SAB400", "serial": "VH7B40000000", "firmware": "A5C0", "sectors": 7814037168}},
    {"number": 1, "transport": "usb-sat", "identity": {"model": "Kestrel KX2000", "serial": "KX20B0000001", "firmware": "KX2R", "sectors": 3907029168}},
    {"number": 2, "transport": "scsi", "identity": {"model": "HS1200", "serial": "HRW00000002", "firmware": "H100", "sectors": 2344225968}, "inquiry": {"vendor": "HARROW", "product": "HS1200"}},
    {"number": 3, "transport": "nvme", "identity": {"model": "Sabik NV3 2TB", "serial": "SBK3N0000003", "firmware": "S30R0100", "sectors": 3907029168}},
    {"number": 4, "identity": {"model": "VHT VH7SAB200", "serial": "VH7B20000004", "firmware": "A5C0", "sectors": 3907029168}},
    {"number": 5, "transport": "usb-sat", "identity": {"model": "Kestrel KX1000", "serial": "KX10B0000005", "firmware": "KX1R", "sectors": 1953525168}},
    {"number": 6, "transport": "scsi", "identity": {"model": "HS600", "serial": "HRW00000006", "firmware": "H100", "sectors": 1172123568}, "inquiry": {"vendor": "HARROW", "product": "HS600"}},
    {"number": 7, "transport": "nvme", "identity": {"model": "Sabik NV3 1TB", "serial": "SBK3N0000007", "firmware": "S30R0100", "sectors": 1953525168}},
    {"number": 8, "identity": {"model": "Kestrel KS500 512GB", "serial": "KS5B00000008", "firmware": "KS50R1", "sectors": 1000215216, "rotationRate": 1, "trim": true}},
    {"number": 9, "transport": "usb-sat", "identity": {"model": "VHT VH5K500", "serial": "VH5B50000009", "firmware": "B2A1", "sectors": 976773168}},
    {"number": 10, "transport": "scsi", "identity": {"model": "HS300", "serial": "HRW00000010", "firmware": "H090", "sectors": 585937500}, "inquiry": {"vendor": "HARROW", "product": "HS300"}},
    {"number": 11, "transport": "nvme", "identity": {"model": "Sabik NV2 512GB", "serial": "SBK2N0000011", "firmware": "S21R0512", "sectors": 1000215216}},
    {"number": 12, "identity": {"model": "VHT VH7SAB100", "serial": "VH7B10000012", "firmware": "A5B9", "sectors": 1953525168}},
    {"number": 13, "transport": "usb-sat", "identity": {"model": "Kestrel KX500", "serial": "KX05B0000013", "firmware": "KX1R", "sectors": 976773168}},
    {"number": 14, "transport": "scsi", "identity": {"model": "HS1200", "serial": "HRW00000014", "firmware": "H100", "sectors": 2344225968}, "inquiry": {"vendor": "HARROW", "product": "HS1200"}},
    {"number": 15, "transport": "nvme", "identity": {"model": "Sabik NV3 4TB", "serial": "SBK3N0000015", "firmware": "S30R0100", "sectors": 7814037168}},
    {"number": 16, "identity": {"model": "VHT VH7SAB400", "serial": "VH7B40000016", "firmware": "A5C0", "sectors": 7814037168}},
    {"number": 17, "transport": "usb-sat", "identity": {"model": "Kestrel KX2000", "serial": "KX20B0000017", "firmware": "KX2R", "sectors": 3907029168}},
    {"number": 18, "transport": "scsi", "identity": {"model": "HS600", "serial": "HRW00000018", "firmware": "H100", "sectors": 1172123568}, "inquiry": {"vendor": "HARROW", "product": "HS600"}},
    {"number": 19, "transport": "nvme", "identity": {"model": "Sabik NV3 2TB", "serial": "SBK3N0000019", "firmware": "S30R0100", "sectors": 3907029168}}
  ],
  "volumes": [
    {"letter": "C", "drive": 0, "partition": 1, "start": 2048, "sectors": 1048576000, "fileSystem": "NTFS", "label": "System",
     "freeBytes": 312000000000},
    {"letter": "D", "drive": 4, "partition": 1, "start": 2048, "sectors": 3907026944, "fileSystem": "NTFS", "label": "Bench",
     "freeBytes": 1500000000000}
  ]
})json";

// A bench for the drives' own erase commands: a solid-state drive with the enhanced
// security erase and sanitize, a hard disk with a Host Protected Area and a Device
// Configuration Overlay behind it, one drive frozen and one locked as a BIOS or another
// computer leaves them, and two USB drives, one behind a SAT bridge and one behind a
// bridge whose vendor block carries only 28-bit commands.
//
// And drives that erase themselves: an NVMe drive with Format NVM (user data and
// cryptographic erase, every namespace at once, 4096-byte blocks in use of three formats)
// and Sanitize (block and crypto erase); one with Format NVM's user
// data erase only, no Sanitize, and room for 256 namespaces, as a virtual machine's
// controller reports; a SAS drive with SANITIZE (overwrite, block and crypto erase); a USB
// drive whose bridge does not pass SANITIZE although the drive behind it reports it.
constexpr const char* kErase = R"json({
  "name": "erase",
  "os": {"major": 10, "minor": 0},
  "administrator": true,
  "drives": [
    {"number": 0, "identity": {"model": "Kestrel KS520 512GB", "serial": "KS5-E000100", "firmware": "KS52R1",
                               "sectors": 1000215216, "rotationRate": 1, "trim": true, "wwn": "0x5002538E40A1B2C3"},
     "security": {"enhanced": true, "eraseMinutes": 2, "enhancedMinutes": 2},
     "sanitize": {"crypto": true, "block": true, "overwrite": false, "seconds": 30}},
    {"number": 1, "identity": {"model": "VHT VH7SAB050", "serial": "VH7E01000001", "firmware": "A5C0",
                               "sectors": 976771120, "rotationRate": 7200},
     "security": {"enhanced": false, "eraseMinutes": 98},
     "nativeSectors": 976773168, "dcoSectors": 977105060},
    {"number": 2, "identity": {"model": "Kestrel KS500 256GB", "serial": "KS5-E000202", "firmware": "KS50R1",
                               "sectors": 500118192, "rotationRate": 1, "trim": true},
     "security": {"frozen": true, "enhanced": true}},
    {"number": 3, "identity": {"model": "VHT VH5K320", "serial": "VH5E03000003", "firmware": "B2A1",
                               "sectors": 625142448, "rotationRate": 5400},
     "security": {"enabled": true, "locked": true, "userPassword": "owner's secret", "enhanced": false}},
    {"number": 4, "transport": "usb-sat",
     "identity": {"model": "Kestrel KX1000", "serial": "KX10E0000004", "firmware": "KX1R", "sectors": 1953525168,
                  "rotationRate": 1},
     "security": {"enhanced": true, "eraseMinutes": 4, "enhancedMinutes": 4},
     "sanitize": {"crypto": true, "block": true, "overwrite": true, "seconds": 60}},
    {"number": 5, "transport": "usb-atacb",
     "identity": {"model": "VHT VH5K160", "serial": "VH5E05000005", "firmware": "B1A0", "sectors": 312581808,
                  "rotationRate": 5400},
     "security": {"enhanced": false, "eraseMinutes": 60},
     "sanitize": {"crypto": false, "block": false, "overwrite": true, "seconds": 600}},
    {"number": 10, "transport": "nvme",
     "identity": {"model": "Sabik NV4 1TB", "serial": "SBK4E0000010", "firmware": "S40R0200", "sectors": 244190646},
     "sectorSize": 4096,
     "nvme": {"formatNvm": true, "fna": 5, "sanicap": 3, "dlfeat": 1, "sanitizeSeconds": 90,
              "lbaFormats": [{"dataSize": 512}, {"dataSize": 4096}, {"dataSize": 4096, "metadataSize": 8}],
              "formatInUse": 1}},
    {"number": 11, "transport": "nvme",
     "identity": {"model": "Corvid VNV 64GB", "serial": "CVD0E0000011", "firmware": "1.0", "sectors": 134217728},
     "nvme": {"formatNvm": true, "dlfeat": 1, "namespaces": 256}},
    {"number": 12, "transport": "scsi",
     "identity": {"model": "HS1800", "serial": "HRW00000012", "firmware": "H210", "sectors": 3516328368},
     "inquiry": {"vendor": "HARROW", "product": "HS1800"},
     "scsiSanitize": {"actions": ["overwrite", "block", "crypto"], "seconds": 120}},
    {"number": 13, "transport": "usb-sat", "sat12": false, "sat16": false,
     "identity": {"model": "Kestrel KX1000", "serial": "KX10B0000013", "firmware": "KX1R", "sectors": 1953525168},
     "scsiSanitize": {"actions": ["block", "crypto"], "bridgeRefuses": true}}
  ]
})json";

const std::map<std::string, const char*>& machines() {
  static const std::map<std::string, const char*> all = {
      {"basic", kBasic}, {"bench", kBench}, {"erase", kErase}, {"showcase", kShowcase}};
  return all;
}

}  // namespace

std::vector<std::string> builtinMachineNames() {
  std::vector<std::string> names;
  for (const auto& [name, text] : machines()) names.push_back(name);
  return names;
}

std::string builtinMachineDescription(const std::string& name) {
  const auto it = machines().find(name);
  if (it == machines().end()) throw MachineDescriptionError("no built-in machine named \"" + name + "\"");
  return it->second;
}

SimMachine builtinMachine(const std::string& name) { return loadMachine(builtinMachineDescription(name)); }

}  // namespace palvoro::sim
