#pragma once
// `palvoro-cli history [N | --serial S] [--json]`: every drive ever seen (model, serial,
// runs, the last run's time and outcome), or one drive's runs. It reads the history in
// the state folder (--state-dir) and needs no drive to be plugged in, except for N, which
// names a drive as listed now. Exit status 0, 5 when the drive has no history, 2 when the
// history cannot be opened.

#include <memory>
#include <ostream>
#include <string>

namespace CLI {
class App;
}

namespace palvoro {

struct DriveTable;

namespace cli {
struct CliOptions;
}

// The command and its options, registered on palvoro-cli's parser.
class HistoryCommand {
 public:
  explicit HistoryCommand(CLI::App& app);
  // Whether the command line asked for it.
  bool parsed() const;
  // Whether it names a drive by its number, which only a detection can tell.
  bool needsDrives() const { return m_number > 0; }
  // Runs it; `table` is the detected drives when needsDrives(). The status as palvoro-cli
  // exits with it.
  int run(const cli::CliOptions& options, std::ostream& out, std::ostream& err, const DriveTable* table) const;

 private:
  CLI::App* m_history = nullptr;
  int m_number = -1;
  std::string m_serial;
};

// Registers `history` on `app`; the options stay bound to what it returns.
std::unique_ptr<HistoryCommand> addHistoryCommand(CLI::App& app);

}  // namespace palvoro
