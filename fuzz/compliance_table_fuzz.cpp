// A compliance table document of any bytes: it loads or it does not, and a loaded table
// answers a model either way without reading past the document.

#include <cstdint>
#include <string_view>

#include "discovery/compliance_table.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace palvoro;
  ComplianceTable table;
  const bool loaded = table.loadFromBytes(data, size);
  palvoro::fuzz::check(loaded == table.loaded(), "a load says what it left");
  for (const std::string_view model : {"VHT VHH7S100516AB2C3D1", "", "VHT ", "Kestrel KX1000"}) {
    const bool match = table.matches(model);
    palvoro::fuzz::check(loaded || !match, "without a table no model matches");
  }
  table.clear();
  palvoro::fuzz::check(!table.loaded() && !table.matches("VHT VHH7S100516AB2C3D1"), "a cleared table matches nothing");
  return 0;
}
