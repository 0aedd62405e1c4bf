#pragma once
// What every fuzz target checks beyond "no crash": a failed check aborts with a line that
// says which, so the fuzzer keeps the input as a finding.

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace palvoro::fuzz {

[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

inline void check(bool holds, const char* what) {
  if (!holds) fail(what);
}

// A text field of a record: zero-terminated inside its array, at most `maxChars` long.
template <size_t N>
void checkText(const char (&field)[N], size_t maxChars, const char* what) {
  const void* end = std::memchr(field, 0, N);
  check(end != nullptr, what);
  check(std::strlen(field) <= maxChars, what);
}

}  // namespace palvoro::fuzz
