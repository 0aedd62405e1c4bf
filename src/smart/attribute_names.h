#pragma once
// The names the SMART window shows beside each attribute ID. Vendors disagree about what
// an ID means, so there is one table per drive family, picked by the drive's originMark;
// the rows of a dual-unit drive's second unit always use the cache-flash table.

#include <cstdint>
#include <span>

namespace palvoro {

// Table selectors, as originMark numbers them.
enum AttributeNameSelector : int {
  kNamesGeneral = 0,     // any drive
  kNamesCacheFlash = 1,  // the cache-flash unit of a dual-unit drive
  kNamesBridgeSsd = 2,   // solid-state drive behind the bridge reporting 25F3h
  kNamesWwnMaker = 3,    // drive whose world wide name carries OUI 000CCAh
};

// One name: the attribute ID and its text.
struct AttributeNameEntry {
  uint8_t id;
  const char* name;
};

// One directory entry: which selector a table answers, and the table.
struct AttributeNameTable {
  int selector;
  const AttributeNameEntry* entries;
  int count;
};

// What an ID missing from the chosen table is called.
inline constexpr const char* kUnknownAttributeName = "Unknown";

// The four tables in selector order. IDs are ascending and unique within each table;
// some names appear under two IDs, as the drives' makers named them.
std::span<const AttributeNameTable> attributeNameDirectory();

// The name of attribute `id` in the table of `selector`: the first record with that ID,
// or "Unknown" when the table has none or no table answers the selector.
const char* attributeName(uint8_t id, int selector);

}  // namespace palvoro
