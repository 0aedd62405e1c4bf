// palvoro-cli's erase by the drive's own methods, on the built-in "erase" machine: what
// each drive's refusal or erase comes to, what reaches the drive (nothing, when the
// method is not offered), what the media holds afterwards, and the certificate left.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli.h"
#include "platform/sim/sim_platform.h"

namespace palvoro {
namespace {

using Json = nlohmann::json;

// The hard disk (listed 2) hides the last 2048 sectors in its Host Protected Area.
constexpr uint64_t kHddUser = 976771120, kHddNative = 976773168;

CliTerminal quietTerminal() {
  CliTerminal terminal;
  terminal.timerMilliseconds = 20;
  terminal.input.readLine = []() -> std::optional<std::string> { return std::nullopt; };
  return terminal;
}

std::vector<uint8_t> sectorOf(sim::SimPlatform& platform, int drive, uint64_t lba) {
  sim::SimMedia& media = platform.drive(drive).disk();
  std::vector<uint8_t> bytes(media.sectorSize());
  if (!media.read(lba, 1, bytes.data())) bytes.clear();
  return bytes;
}

size_t writesTo(const sim::SimPlatform& platform) {
  size_t writes = 0;
  for (const sim::SimRequest& r : platform.log()) writes += r.kind == sim::SimRequest::Kind::Write ? 1 : 0;
  return writes;
}

TEST(CliEraseMethodTest, EachDriveErasesOrRefusesAsItCan) {
  struct Case {
    const char* name;
    std::vector<std::string> args;  // after "erase"
    int json;                       // the drive's number in the machine
    uint64_t marked;                // a sector holding data before the erase
    int status;
    const char* outcome;
    const char* state;              // "" when nothing ran
    bool markedGone;                // the marked sector no longer holds its data
    int certificates;               // files written
    const char* says;               // in the refusal or the report; "" for none
  };
  const Case cases[] = {
      {"SsdSanitizeBlockErase", {"1", "--method", "sanitize-block", "--confirm-erase", "KS5-E000100"}, 0, 5000,
       kCliOk, "test_run", "COMPLETE", true, 2, "PASS: 64 sampled blocks"},
      {"UsbSatCryptoScramble", {"5", "--method", "sanitize-crypto", "--confirm-erase", "KX10E0000004"}, 4, 123456,
       kCliOk, "test_run", "COMPLETE", true, 2, ""},
      {"NvmeFormatKeepsItsBlocks", {"7", "--method", "format", "--confirm-erase", "SBK4E0000010"}, 10, 77, kCliOk,
       "test_run", "COMPLETE", true, 2, "every one erased"},
      {"SasSanitizeOverwrite", {"9", "--method", "sanitize-overwrite", "--confirm-erase", "HRW00000012"}, 12, 9,
       kCliOk, "test_run", "COMPLETE", true, 2, ""},
      {"FrozenSendsNothing", {"3", "--method", "security-erase-enhanced", "--confirm-erase", "KS5-E000202"}, 2, 7,
       kCliDriveFailed, "method_unavailable", "", false, 0, "suspend and resume"},
      {"LockedSendsNothing", {"4", "--method", "security-erase", "--confirm-erase", "VH5E03000003"}, 3, 7,
       kCliDriveFailed, "method_unavailable", "", false, 0, "locked with a password"},
      {"NvmeWithoutSanitizeSendsNothing", {"8", "--method", "sanitize-block", "--confirm-erase", "CVD0E0000011"}, 11,
       7, kCliDriveFailed, "method_unavailable", "", false, 0, "does not support Sanitize"},
      {"VendorBlockBridgeCarriesNoSanitize",
       {"6", "--method", "sanitize-overwrite", "--confirm-erase", "VH5E05000005"}, 5, 7, kCliDriveFailed,
       "method_unavailable", "", false, 0, "cannot carry"},
      {"BridgeRefusesTheDrivesSanitize", {"10", "--method", "sanitize-block", "--confirm-erase", "KX10B0000013"}, 13,
       7, kCliDriveFailed, "test_run", "FAIL", false, 0, "does not pass the SANITIZE command"},
      {"OverwriteLeavesTheHpaUnwritten", {"2", "--mode", "quick", "--confirm-erase", "VH7E01000001"}, 1,
       kHddNative - 1, kCliOk, "test_run", "COMPLETE", false, 2, "was not lifted: its sectors were not written"},
      {"OverwriteReachesTheLiftedHpa",
       {"2", "--mode", "quick", "--lift-hpa", "--restore-hpa", "--confirm-erase", "VH7E01000001"}, 1, kHddNative - 1,
       kCliOk, "test_run", "COMPLETE", true, 2, "was lifted for the run and written; it was put back afterwards"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("palvoro-erase-method-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    sim::SimPlatform platform(sim::builtinMachine("erase"));
    platform.followWallClock();
    const std::vector<uint8_t> data(platform.drive(c.json).disk().sectorSize(), 0x5A);
    // The hidden sector is written the way the drive's maker would: below the host's view.
    sim::SimMedia& media = platform.drive(c.json).disk();
    const auto host = media.hostSectors();
    media.setHostSectors(std::nullopt);
    ASSERT_TRUE(media.write(c.marked, 1, data.data()));
    media.setHostSectors(host);

    std::vector<std::string> args = {"--results-dir", dir.string(), "--json", "erase"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::ostringstream out, err;
    const size_t writesBefore = writesTo(platform);
    const int status = runCli(args, out, err, quietTerminal(), &platform);
    const Json doc = Json::parse(out.str(), nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << out.str() << err.str();

    EXPECT_EQ(status, c.status) << out.str() << err.str();
    EXPECT_EQ(doc["outcome"], c.outcome);
    if (*c.state != '\0') {
      EXPECT_EQ(doc["result"]["test_state"], c.state);
    }
    if (std::string(c.outcome) == "method_unavailable") {
      EXPECT_EQ(writesTo(platform), writesBefore);
    }
    media.setHostSectors(std::nullopt);
    EXPECT_EQ(sectorOf(platform, c.json, c.marked) != data, c.markedGone);
    media.setHostSectors(host);
    const Json& files = doc["certificate"].is_object() ? doc["certificate"]["files"] : Json::array();
    EXPECT_EQ(static_cast<int>(files.size()), c.certificates) << doc["certificate"].dump();
    EXPECT_NE((out.str() + err.str()).find(c.says), std::string::npos) << out.str() << err.str();
    // The certificate names the drive as the drive names itself.
    if (c.certificates != 0) {
      std::ifstream file(files[0].get<std::string>());
      const Json certificate = Json::parse(file, nullptr, false);
      EXPECT_EQ(certificate["drive"]["serial"], c.args.back());
      EXPECT_EQ(certificate["drive"]["wwn"], c.json == 0 ? "0x5002538e40a1b2c3" : "") << c.name;
    }
    std::filesystem::remove_all(dir);
  }
}

}  // namespace
}  // namespace palvoro
