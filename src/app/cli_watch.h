#pragma once
// `palvoro-cli watch [--self-test-every DURATION] [--textfile DIR] [--json]`: the scheduled
// check. It reads every drive's SMART state, keeps it in the history, and reports what
// worsened since the drive's last reading: on standard output, and each change once more on
// standard error with its syslog priority when that is the journal (<4> a worsening, <2> a
// failed self-test or verdict). It starts a drive's short self-test when the last one it
// started is older than DURATION, without waiting for it: the next check reads its result.
// With --textfile it writes the metrics (`palvoro-cli metrics`) to DIR/palvoro.prom. In a
// desktop session (a session bus named) each drive that worsened is also a notification.
//
// Exit status 0 when nothing worsened, 6 when a drive did, 2 when the history cannot be
// opened or the textfile cannot be written.

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

namespace CLI {
class App;
}

namespace palvoro {

class Session;

namespace cli {
struct CliOptions;
}

// "7d", "24h", "90m", "45s", "2w" as seconds; none for anything else, or zero.
std::optional<int64_t> durationSeconds(const std::string& text);

// Whether standard error is the journal's stream: JOURNAL_STREAM names its device and
// inode ("dev:ino"), and fd 2 is that very file, not a later redirection.
bool stderrIsJournal();

class WatchCommand {
 public:
  explicit WatchCommand(CLI::App& app);
  bool parsed() const;
  // Runs it over the detected drives of `session`; the status as palvoro-cli exits with it.
  int run(const cli::CliOptions& options, Session& session, std::ostream& out, std::ostream& err) const;

 private:
  CLI::App* m_watch = nullptr;
  std::string m_selfTestEvery;
  std::string m_textfile;
};

std::unique_ptr<WatchCommand> addWatchCommand(CLI::App& app);

}  // namespace palvoro
