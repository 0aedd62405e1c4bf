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

const std::map<std::string, const char*>& machines() {
  static const std::map<std::string, const char*> all = {{"basic", kBasic}};
  return all;
}

}  // namespace

std::vector<std::string> builtinMachineNames() {
  std::vector<std::string> names;
  for (const auto& [name, text] : machines()) names.push_back(name);
  return names;
}

SimMachine builtinMachine(const std::string& name) {
  const auto it = machines().find(name);
  if (it == machines().end()) throw MachineDescriptionError("no built-in machine named \"" + name + "\"");
  return loadMachine(it->second);
}

}  // namespace palvoro::sim
