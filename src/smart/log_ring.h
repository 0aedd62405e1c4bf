#pragma once
// The circular logs a drive keeps of its errors and self-tests (T13 ACS, logs 01h, 03h,
// 06h and 07h): fixed-size records in one or more 512-byte pages, a 1-based index naming
// the newest, each page closed by a checksum byte. The walk over such a ring is the same
// for every one of them; what a record holds is each decoder's own.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace palvoro {

// One 512-byte page of a drive log, as READ LOG EXT or SMART READ LOG returns it.
using LogPage = std::array<uint8_t, 512>;

// True when every byte of the record is zero: a slot the drive never wrote.
bool allZero(const uint8_t* bytes, size_t size);
// True when the page's bytes add up to zero, as the checksum byte makes them.
bool checksumZero(const LogPage& page);

// Where the records lie in each page of a ring.
struct LogRing {
  size_t firstRecord = 0;     // byte offset of a page's first record
  size_t recordBytes = 0;
  size_t recordsPerPage = 0;
};

// Hands `take` the records of a ring of `pageCount` pages newest first, from the 1-based
// slot `index` back at most `walk` records, with how many records back each one is. It
// stops at the first empty record and at a page `readPage` cannot read; page 0 is
// `first`, read by the caller. A later page whose checksum fails clears `checksumValid`.
// An index of 0 or past the ring names no record.
void walkLogRing(const LogRing& ring, const LogPage& first, uint16_t pageCount, size_t index, size_t walk,
                 const std::function<bool(uint16_t, LogPage&)>& readPage, bool& checksumValid,
                 const std::function<void(const uint8_t* record, size_t back)>& take);

}  // namespace palvoro
