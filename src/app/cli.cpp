#include "app/cli.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <sstream>

#include "app/app_context.h"
#include "app/startup.h"
#include "discovery/detection.h"
#include "discovery/format_capacity.h"
#include "discovery/property_page.h"
#include "discovery/raid_status.h"
#include "discovery/volumes.h"
#include "platform/sim/sim_platform.h"
#include "ui/model/smart_window_model.h"

namespace palvoro {
namespace {

using Json = nlohmann::ordered_json;

// What every command was given besides its own arguments.
struct CliOptions {
  std::string machineFile;
  std::string builtin;
  bool json = false;
  int driveNumber = 0;  // as listed, 1 up; 0 when chosen by serial
  std::string serial;
};

// How the drive was reached, as the list shows it.
const char* reachedAs(int driveClass) {
  static const char* const kNames[] = {"-", "ATA", "USB", "FireWire", "SCSI", "other", "RAID enclosure"};
  return driveClass >= 0 && driveClass <= 6 ? kNames[driveClass] : "?";
}

uint64_t capacityBytes(const DriveRecord& r) {
  return r.identifiedSectors * static_cast<uint64_t>(static_cast<uint32_t>(std::max(r.sectorSize, 0)));
}

std::string capacityText(const DriveRecord& r) {
  const uint64_t megabytes = capacityBytes(r) / 1000000;
  return FormatCapacity(megabytes > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(megabytes), 2);
}

// The SMART column of the list: the enclosure's RAID state, the maker's SSD, or the verdict.
std::string smartText(const DriveRecord& r) {
  if (r.isMakerSsd) return "Not Supported";
  if (r.driveClass == kDriveClassRaid && r.raidLevel != 0) {
    return std::string(raidLevelName(r.raidLevel)) + ", " + raidStateName(r.raidState);
  }
  if (!r.smartAvailable) return "Not Available";
  return r.smartHealthy ? "PASS" : "FAIL";
}

std::string letters(const DriveRecord& r) {
  return std::string(r.volumeLetters, strnlen(r.volumeLetters, sizeof r.volumeLetters));
}

Json driveJson(int index, const DriveRecord& r) {
  Json volumes = Json::array();
  for (char letter : letters(r)) volumes.push_back(std::string(1, letter));
  Json drive = {
      {"number", index + 1},
      {"model", r.model},
      {"serial", r.serialNumber},
      {"firmware", r.firmwareRevision},
      {"sectors", r.identifiedSectors},
      {"sector_size", r.sectorSize},
      {"capacity_bytes", capacityBytes(r)},
      {"capacity_text", capacityText(r)},
      {"bus", busTypeName(r.busType)},
      {"reached_as", reachedAs(r.driveClass)},
      {"volumes", volumes},
      {"smart", {{"available", r.smartAvailable != 0}, {"healthy", r.smartHealthy != 0}, {"text", smartText(r)}}},
  };
  if (r.driveClass == kDriveClassRaid) {
    drive["raid"] = {{"level", raidLevelName(r.raidLevel)},
                     {"state", raidStateName(r.raidState)},
                     {"rebuild_percent", r.raidRebuildPercent}};
  } else {
    drive["raid"] = nullptr;
  }
  return drive;
}

// The machine the command works on; nothing (with the reason told) when there is none.
std::unique_ptr<Platform> openMachine(const CliOptions& options, std::ostream& err, int& status) {
  if (options.machineFile.empty() && options.builtin.empty()) {
    err << "palvoro-cli: this computer's drives cannot be reached yet: there is no real-drive backend in this "
           "build. Use --builtin NAME or --machine FILE for a simulated machine.\n";
    status = kCliNotFound;
    return nullptr;
  }
  try {
    if (!options.machineFile.empty()) {
      std::ifstream in(options.machineFile, std::ios::binary);
      if (!in) {
        err << "palvoro-cli: cannot read " << options.machineFile << "\n";
        status = kCliUsage;
        return nullptr;
      }
      std::stringstream text;
      text << in.rdbuf();
      return std::make_unique<sim::SimPlatform>(sim::loadMachine(text.str()));
    }
    return std::make_unique<sim::SimPlatform>(sim::builtinMachine(options.builtin));
  } catch (const std::exception& e) {
    // Every refusal of a description, whatever its cause, ends here with a status.
    err << "palvoro-cli: " << e.what() << "\n";
    status = kCliUsage;
    return nullptr;
  }
}

// A prompter for commands that only read: messages go to the error stream, each box gets
// its default answer. No command that writes to a drive uses it.
class ReadOnlyPrompter : public Prompter {
 public:
  explicit ReadOnlyPrompter(std::ostream& err) : m_err(err) {}
  PromptAnswer ask(const std::string& text, const std::string& caption, PromptIcon, PromptButtons,
                   PromptAnswer defaultAnswer) override {
    m_err << "[" << caption << "] " << text << "\n";
    return defaultAnswer;
  }

 private:
  std::ostream& m_err;
};

// The start-up and detection every command begins with.
void detect(AppContext& context) {
  runStartupChecks(context);
  detectDrives(context.probeEnvironment(), context.driveTable());
  mapVolumes(context.platform(), context.driveTable());
}

// The table index of the drive the options name, or nothing (the reason told).
std::optional<int> selectDrive(AppContext& context, const CliOptions& options, std::ostream& err) {
  const DriveTable& table = context.driveTable();
  if (!options.serial.empty()) {
    for (int i = 0; i < table.driveCount; ++i) {
      std::string serial = table.records[i].serialNumber;
      serial.erase(0, serial.find_first_not_of(' '));
      if (serial == options.serial) return i;
    }
    err << "palvoro-cli: no drive has the serial number " << options.serial << "\n";
    return std::nullopt;
  }
  if (options.driveNumber < 1 || options.driveNumber > table.driveCount) {
    err << "palvoro-cli: there is no drive " << options.driveNumber << " (" << table.driveCount
        << " drive(s) found)\n";
    return std::nullopt;
  }
  return options.driveNumber - 1;
}

int listCommand(AppContext& context, const CliOptions& options, std::ostream& out) {
  const DriveTable& table = context.driveTable();
  if (options.json) {
    Json drives = Json::array();
    for (int i = 0; i < table.driveCount; ++i) drives.push_back(driveJson(i, table.records[i]));
    out << Json{{"schema_version", kCliSchemaVersion}, {"drives", drives}}.dump(2) << "\n";
    return kCliOk;
  }
  char line[512];
  std::snprintf(line, sizeof line, "%-3s %-26s %-20s %-9s %-11s %-9s %-14s %-7s %s\n", "#", "Model", "Serial",
                "Firmware", "Capacity", "Bus", "Reached as", "Volumes", "SMART");
  out << line;
  for (int i = 0; i < table.driveCount; ++i) {
    const DriveRecord& r = table.records[i];
    std::snprintf(line, sizeof line, "%-3d %-26s %-20s %-9s %-11s %-9s %-14s %-7s %s\n", i + 1, r.model,
                  r.serialNumber, r.firmwareRevision, capacityText(r).c_str(), busTypeName(r.busType),
                  reachedAs(r.driveClass), letters(r).c_str(), smartText(r).c_str());
    out << line;
  }
  out << table.driveCount << " drive(s) found.\n";
  return kCliOk;
}

int infoCommand(AppContext& context, int index, const CliOptions& options, std::ostream& out) {
  const std::optional<PropertyPage> page =
      openPropertyPage(context.platform(), context.prompter(), context.driveTable(), index);
  if (!page) return kCliNotFound;
  const DriveRecord& r = context.driveTable().records[index];
  if (options.json) {
    Json volumes = Json::array();
    for (const VolumeRow& v : page->volumes) volumes.push_back({{"volume", v.text}, {"capacity_text", v.capacity}});
    Json doc = {{"schema_version", kCliSchemaVersion},
                {"drive", driveJson(index, r)},
                {"device_type", page->deviceType},
                {"capacity_text", page->capacity},
                {"health_status", page->healthStatus},
                {"volumes", volumes}};
    if (page->raidRowsVisible) {
      doc["raid_setting"] = page->raidSetting;
      doc["member_serials"] = {page->memberSerialA, page->memberSerialB};
    }
    out << doc.dump(2) << "\n";
    return kCliOk;
  }
  out << page->sheetTitle << "\n"
      << "  Drive:             " << page->drive << "\n"
      << "  Model:             " << r.model << "\n"
      << "  Device Type:       " << page->deviceType << "\n"
      << "  Capacity:          " << page->capacity << "\n"
      << "  Firmware Revision: " << page->firmwareRevision << "\n"
      << "  Health Status:     " << page->healthStatus << "\n"
      << "  Serial Number:     " << page->serialNumber << "\n";
  if (page->raidRowsVisible) {
    out << "  RAID Setting:      " << page->raidSetting << "\n"
        << "  Drive A Serial:    " << page->memberSerialA << "\n"
        << "  Drive B Serial:    " << page->memberSerialB << "\n";
  }
  out << "  Volume(s) contained on this drive:\n";
  for (const VolumeRow& v : page->volumes) out << "    " << v.text << "  " << v.capacity << "\n";
  return kCliOk;
}

// One unit's or member's rows as the SMART window lists them.
Json smartRowsJson(const std::vector<SmartAttributeRow>& rows) {
  Json out = Json::array();
  for (const SmartAttributeRow& row : rows) {
    out.push_back({{"unit", row.unit == SmartUnit::Second ? 2 : 1},
                   {"id", row.id},
                   {"name", row.cells.at(0)},
                   {"current", row.current},
                   {"worst", row.worst},
                   {"threshold", row.threshold},
                   {"raw", row.raw},
                   {"warranty", row.warranty},
                   {"failed", row.failed}});
  }
  return out;
}

void smartRowsText(const std::vector<SmartAttributeRow>& rows, std::ostream& out) {
  char line[256];
  std::snprintf(line, sizeof line, "  %-4s %-32s %5s %5s %9s %16s %8s %s\n", "ID", "Attribute Name", "Value",
                "Worst", "Threshold", "Raw", "Warranty", "");
  out << line;
  for (const SmartAttributeRow& row : rows) {
    std::snprintf(line, sizeof line, "  %-4s %-32s %5u %5u %9u %16" PRIu64 " %8s %s\n", smartIdText(row.id).c_str(),
                  row.cells.at(0).c_str(), row.current, row.worst, row.threshold, row.raw, row.warranty ? "yes" : "no",
                  row.failed ? "FAILED" : "");
    out << line;
  }
}

int smartCommand(AppContext& context, const CliOptions& options, std::ostream& out) {
  SmartWindowModel model(context);
  const int members = model.memberBoxShown() ? 2 : 1;
  Json units = Json::array();
  bool passing = true;
  for (int member = 0; member < members; ++member) {
    if (model.fill(member) != SmartFillOutcome::Filled) return kCliDriveFailed;
    passing = model.verdict() && model.verdict()->passing;
    if (options.json) {
      units.push_back({{"member", members == 2 ? Json(member == 0 ? "A" : "B") : Json(nullptr)},
                       {"identity", model.identityLine()},
                       {"attributes", smartRowsJson(model.rows())}});
    } else {
      out << model.driveLabel() << " " << model.identityLine();
      if (members == 2) out << "  (" << kRaidMemberNames[member] << ")";
      out << "\n";
      smartRowsText(model.rows(), out);
    }
  }
  if (options.json) {
    out << Json{{"schema_version", kCliSchemaVersion}, {"members", units}, {"passing", passing}}.dump(2) << "\n";
  } else {
    out << "SMART verdict: " << (passing ? "PASS" : "FAIL") << "\n";
  }
  return passing ? kCliOk : kCliDriveFailed;
}

}  // namespace

int printDriveList(Platform& platform, std::ostream& out, std::ostream& err) {
  ReadOnlyPrompter prompter(err);
  AppContext context(platform, prompter);
  detect(context);
  const int status = listCommand(context, CliOptions{}, out);
  freeComplianceTable(context.complianceTable());
  return status;
}

int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CliOptions options;
  CLI::App app{"palvoro-cli: drive diagnostics without windows.\n\nExit status: 0 passed or completed; 1 the "
               "drive failed the test or the erase failed; 2 usage error; 3 refused; 4 not enough privilege; "
               "5 drive not found or gone (or no drives can be reached).",
               "palvoro-cli"};
  app.require_subcommand(1);
  app.add_option("--machine", options.machineFile, "Work on the simulated machine this file describes");
  app.add_option("--builtin", options.builtin, "Work on a built-in simulated machine (basic, showcase)");
  app.add_flag("--json", options.json, "One JSON document on standard output");
  CLI::App* list = app.add_subcommand("list", "The drive table");
  CLI::App* info = app.add_subcommand("info", "A drive's identity, property page and volumes");
  CLI::App* smart = app.add_subcommand("smart", "A drive's SMART attributes and verdict");
  for (CLI::App* command : {info, smart}) {
    CLI::Option* number = command->add_option("N", options.driveNumber, "The drive's number as listed");
    CLI::Option* serial = command->add_option("--serial", options.serial, "The drive with this serial number");
    number->excludes(serial);
    command->require_option(1);
  }

  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    out << app.help();
    return kCliOk;
  } catch (const CLI::ParseError& e) {
    err << "palvoro-cli: " << e.what() << "\n" << "Run palvoro-cli --help for the commands and options.\n";
    return kCliUsage;
  }

  int status = kCliOk;
  std::unique_ptr<Platform> platform = openMachine(options, err, status);
  if (!platform) return status;
  ReadOnlyPrompter prompter(err);
  AppContext context(*platform, prompter);
  detect(context);

  if (list->parsed()) {
    status = listCommand(context, options, out);
  } else {
    const std::optional<int> index = selectDrive(context, options, err);
    if (!index) {
      status = kCliNotFound;
    } else {
      context.driveTable().selectedDrive = *index;
      status = info->parsed() ? infoCommand(context, *index, options, out) : smartCommand(context, options, out);
    }
  }
  freeComplianceTable(context.complianceTable());
  return status;
}

}  // namespace palvoro
