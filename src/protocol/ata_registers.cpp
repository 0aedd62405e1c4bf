#include "protocol/ata_registers.h"

namespace palvoro {

void putRegisters(uint8_t* at, const AtaRegisters& r) {
  at[kTaskFeatures] = r.features;
  at[kTaskCount] = r.count;
  at[kTaskLbaLow] = r.lbaLow;
  at[kTaskLbaMid] = r.lbaMid;
  at[kTaskLbaHigh] = r.lbaHigh;
  at[kTaskDevice] = r.device;
  at[kTaskCommand] = r.command;
}

AtaRegisters takeRegisters(const uint8_t* at) {
  return AtaRegisters{at[kTaskFeatures], at[kTaskCount],  at[kTaskLbaLow], at[kTaskLbaMid],
                      at[kTaskLbaHigh],  at[kTaskDevice], at[kTaskCommand]};
}

void putTaskFile(uint8_t* taskFile, const AtaRegisters& registers) {
  putRegisters(taskFile, registers);
  taskFile[kTaskReserved] = 0;
}

}  // namespace palvoro
