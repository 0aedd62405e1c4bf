// A machine description as a user may write it: loading either gives a machine or refuses
// with the loader's own error, and a machine it gives can be plugged in.

#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_platform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace palvoro;
  sim::SimMachine machine;
  try {
    machine = sim::loadMachine(std::string(reinterpret_cast<const char*>(data), size));
  } catch (const sim::MachineDescriptionError& e) {
    fuzz::check(e.what()[0] != '\0', "a refusal says why");
    return 0;
  }
  // Anything else thrown escapes and ends the run: that is a finding.
  sim::SimPlatform platform(std::move(machine));
  fuzz::check(platform.openHandleCount() == 0, "a fresh machine has no open handles");
  return 0;
}
