#pragma once
// The emulated ATA drive: executes one task-file command as a drive of the machine
// description would, including the maker's unit-select conventions of its dual-unit
// drives. Decodes registers itself; knows nothing of the command layer.

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/sim/sim_machine.h"

namespace palvoro::sim {

struct TaskRegisters {
  uint8_t features = 0, count = 0, lbaLow = 0, lbaMid = 0, lbaHigh = 0, device = 0, command = 0;
};

// Seven registers in the IDE order every record and carrier block of the system keeps
// them in: features, count, LBA low, LBA mid, LBA high, device, command.
TaskRegisters readTaskFile(const uint8_t* at);
void writeTaskFile(uint8_t* at, const TaskRegisters& registers);

// How a command moved (or failed to move) its data.
enum class AtaProtocol { NonData, PioIn, PioOut, DmaOut };

struct AtaExchange {
  TaskRegisters current;
  TaskRegisters previous;          // zeros unless the request was marked 48-bit
  bool dma = false;                // ATA_FLAGS_USE_DMA
  bool dataIn = false;             // the host expects data from the drive
  bool dataOut = false;            // the host sends data
  const uint8_t* outData = nullptr;
  uint32_t outLength = 0;
  uint32_t inCapacity = 0;         // room the host gave for data in
  uint64_t nowMs = 0;              // the machine's clock, for self-tests
};

struct AtaResult {
  bool protocolError = false;      // the transfer itself failed: the request fails
  TaskRegisters current;           // returned registers; command holds the status
  TaskRegisters previous;
  std::vector<uint8_t> inData;     // data for the host
};

// `injectedError`, when non-zero, makes the drive end the command with ERR and that
// error register value without doing anything else.
AtaResult executeAta(SimAtaDrive& drive, const AtaExchange& exchange, uint8_t injectedError);

// SMART pages as a drive of the description reports them (checksum in byte 511). The
// data page carries the unit's self-test state and capabilities.
Page makeSmartDataPage(const SimUnit& unit, uint64_t nowMs);
// Brings a running self-test up to `nowMs`: it ends when its time is up.
void updateSelfTest(SimUnit& unit, uint64_t nowMs);
Page makeSmartThresholdPage(const SimSmart& smart);

// The drive's own erase and hidden areas (sim_ata_purge.cpp): the Security commands, the
// HPA and DCO commands, and SANITIZE when the drive describes its Sanitize feature set.
// Nothing for any other command; every command passes through it, since some must
// immediately follow another and a running sanitize refuses most.
std::optional<AtaResult> executePurgeCommand(SimAtaDrive& drive, const AtaExchange& x);
// Ends a running sanitize whose time is up, and applies it to the media.
void updateSanitize(SimAtaDrive& drive, uint64_t nowMs);
// IDENTIFY words 59, 60-61, 82, 83, 85, 86, 89, 90, 100-103 and 128 as the state above
// makes them, checksum renewed.
void applyPurgeIdentify(const SimAtaDrive& drive, const SimUnit& unit, IdentifyWords& words);
bool smartThresholdExceeded(const SimSmart& smart);

}  // namespace palvoro::sim
