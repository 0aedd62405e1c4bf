#pragma once
// `palvoro-cli certificate verify FILE.json [--key PUB.pem] [--allow-unsigned]`: the
// verdict on an erase certificate and every field found changed. Exit status 0 when it
// is valid, 1 when it is not (changed, badly signed, signed by another key than --key,
// not a certificate, or not signed without --allow-unsigned), 2 when the command line is
// wrong or a file it names cannot be read.

#include <memory>
#include <ostream>
#include <string>

namespace CLI {
class App;
}

namespace palvoro {

namespace cli {
struct CliOptions;
}

// The command and its options, registered on palvoro-cli's parser.
class CertificateCommand {
 public:
  explicit CertificateCommand(CLI::App& app);
  // Whether the command line asked for it.
  bool parsed() const;
  // Runs it; the status as palvoro-cli exits with it.
  int run(const cli::CliOptions& options, std::ostream& out, std::ostream& err) const;

 private:
  CLI::App* m_verify = nullptr;
  std::string m_file;
  std::string m_keyFile;
  bool m_allowUnsigned = false;
};

// Registers `certificate verify` on `app`; the options stay bound to what it returns.
std::unique_ptr<CertificateCommand> addCertificateCommand(CLI::App& app);

}  // namespace palvoro
