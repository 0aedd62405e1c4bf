// `palvoro-cli certificate verify`: its exit statuses and what it prints, on real files.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "app/cli.h"
#include "results/certificate_signature.h"
#include "results/erase_certificate.h"

namespace palvoro {
namespace {

namespace fs = std::filesystem;

TEST(CliCertificateTest, VerifyExitsWithTheVerdict) {
  const fs::path dir = fs::temp_directory_path() / ("palvoro-cli-cert-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  ErasureCertificate c;
  c.drive.serial = "WX1234";
  c.drive.model = "VARN 500";
  c.outcome = "COMPLETE";
  const std::string sealed = *sealCertificate(certificateJson(c), nullptr);
  std::ofstream(dir / "unsigned.json") << sealed;
  std::string changed = sealed;
  changed.replace(changed.find("COMPLETE"), 8, "FAIL");
  std::ofstream(dir / "changed.json") << changed;
  std::ofstream(dir / "bad.pem") << "not a key\n";

  struct Case {
    std::vector<std::string> args;
    int status;
    std::string says;
  };
  const std::string file = (dir / "unsigned.json").string();
  const Case cases[] = {
      {{"certificate", "verify", file}, kCliDriveFailed, "not signed"},
      {{"certificate", "verify", file, "--allow-unsigned"}, kCliOk, "drive WX1234 (VARN 500)"},
      {{"certificate", "verify", (dir / "changed.json").string()}, kCliDriveFailed, "- outcome was changed"},
      {{"--json", "certificate", "verify", (dir / "changed.json").string()}, kCliDriveFailed,
       "\"changes\": [\n    \"outcome was changed\""},
      {{"certificate", "verify", (dir / "missing.json").string()}, kCliUsage, ""},
      {{"certificate", "verify", file, "--key", (dir / "bad.pem").string()}, kCliUsage, ""},
      {{"certificate", "verify"}, kCliUsage, ""},
  };
  for (const Case& k : cases) {
    std::ostringstream out, err;
    EXPECT_EQ(runCli(k.args, out, err, CliTerminal{}), k.status) << k.args.back() << "\n" << out.str() << err.str();
    EXPECT_NE(out.str().find(k.says), std::string::npos) << out.str();
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace palvoro
