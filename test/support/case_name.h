#pragma once
// Names for table-driven cases: GoogleTest accepts only letters, digits and "_", so a
// case's description keeps its letters and digits and everything else becomes "_".

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace palvoro::testsupport {

template <typename Case>
std::string caseName(const ::testing::TestParamInfo<Case>& param) {
  std::string name;
  for (const char c : std::string(param.param.name)) {
    name += std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
  }
  return name;
}

}  // namespace palvoro::testsupport
