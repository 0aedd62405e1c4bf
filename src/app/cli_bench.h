#pragma once
// test quick|extended and erase on several drives at once: the drives named (numbers,
// serial numbers, or --all), each erase confirmed by its own --confirm-erase, every
// drive's request on a worker of its own through the same service a single run goes
// through, the rows on standard error while they run, and one summary at the end.

#include <ostream>
#include <string>
#include <vector>

#include "app/cli.h"
#include "app/cli_report.h"

namespace palvoro::cli {

// A drive --all left out, and why.
struct LeftOut {
  int index = -1;
  std::string reason;
};

// The drives a bench runs on, by table index in the order named, or the usage error that
// stops it before anything starts (with its exit status).
struct BenchChoice {
  std::vector<int> indexes;
  std::vector<LeftOut> leftOut;
  std::string refusal;
  int status = kCliOk;
};
[[nodiscard]] BenchChoice chooseBenchDrives(Session& context, const BenchNames& names);

// The rule for many erases: every drive to be erased named by a --confirm-erase of its own
// (its serial number, which no other drive may report, or N:MODEL:CAPACITY), and every
// --confirm-erase naming one of them. "" when it holds, else why not.
// With `watch` a --confirm-erase may name a drive not plugged in yet.
[[nodiscard]] std::string benchConfirmationRefusal(const DriveTable& table, const std::vector<int>& indexes,
                                                   const std::vector<std::string>& confirmations, bool watch = false);

// The worst of the drives' exit statuses: a drive that failed outweighs one that is gone,
// which outweighs missing rights, which outweighs a refusal or a stop.
[[nodiscard]] int worstStatus(const std::vector<int>& statuses);

// Runs the bench and reports it; returns the exit status.
int benchCommand(AppContext& context, const CliOptions& options, const BenchNames& names, const CliTerminal& terminal,
                 std::ostream& out, std::ostream& err);

}  // namespace palvoro::cli
