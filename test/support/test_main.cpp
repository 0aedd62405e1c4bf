#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
  // The program keeps its result page in the user's state folder: a test run keeps its own,
  // away from the home of whoever runs the tests.
  std::string state = (std::filesystem::temp_directory_path() / "palvoro-test-state-XXXXXX").string();
  const bool haveState = mkdtemp(state.data()) != nullptr;
  if (haveState) setenv("XDG_STATE_HOME", state.c_str(), 1);
  testing::InitGoogleTest(&argc, argv);
  const int status = RUN_ALL_TESTS();
  std::error_code ignored;
  if (haveState) std::filesystem::remove_all(state, ignored);
  return status;
}
