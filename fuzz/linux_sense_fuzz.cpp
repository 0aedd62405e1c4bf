// SCSI sense data in any layout, read for the ATA registers: decoded from an exactly
// sized copy (and from each of its prefixes), so a read past the length the kernel wrote
// leaves the allocation; what is decoded stays consistent with the bytes.

#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz_check.h"
#include "protocol/sense.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace palvoro;
  const size_t longest = size < 96 ? size : 96;
  for (size_t n = 0; n <= longest; ++n) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[n == 0 ? 1 : n]);
    if (n > 0) std::memcpy(exact.get(), data, n);
    const Sense s = decodeSense(n == 0 ? nullptr : exact.get(), n);
    fuzz::check(!s.hasRegisters || s.present, "registers only from known sense");
    fuzz::check(!s.extended || s.hasRegisters, "extended only with registers");
    fuzz::check(s.key <= 0x0F, "sense key within four bits");
    if (s.present) {
      const uint8_t code = data[0] & 0x7F;
      fuzz::check(code >= 0x70 && code <= 0x73, "a known response code");
      fuzz::check(s.descriptor == (code >= 0x72), "descriptor flag follows the response code");
    }
  }
  return 0;
}
