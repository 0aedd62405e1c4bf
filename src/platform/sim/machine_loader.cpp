// Reads a machine description (JSON) into a SimMachine. Every value is checked; a bad
// one is refused with MachineDescriptionError naming the field, so a typo in a
// description never turns into a silently different machine.

#include <nlohmann/json.hpp>

#include <algorithm>
#include <limits>
#include <set>
#include <utility>

#include "platform/sim/sim_logs.h"
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_scsi.h"

namespace palvoro::sim {
namespace {

using nlohmann::json;

class Field {
 public:
  Field(const json& value, std::string path) : m_value(value), m_path(std::move(path)) {}

  [[noreturn]] void refuse(const std::string& why) const {
    throw MachineDescriptionError(m_path + ": " + why);
  }
  // Refuses in the name of `key`, which may be absent: a refusal never reads a field.
  [[noreturn]] void refuseAt(const char* key, const std::string& why) const {
    throw MachineDescriptionError(m_path + "." + key + ": " + why);
  }
  const std::string& path() const { return m_path; }
  const json& raw() const { return m_value; }

  // An object whose keys must all be among `allowed`.
  void expectObject(std::initializer_list<const char*> allowed) const {
    if (!m_value.is_object()) refuse("expected an object");
    std::set<std::string> known(allowed.begin(), allowed.end());
    for (auto it = m_value.begin(); it != m_value.end(); ++it) {
      if (known.count(it.key()) == 0) {
        throw MachineDescriptionError(m_path + "." + it.key() + ": unknown field");
      }
    }
  }
  bool has(const char* key) const { return m_value.contains(key); }
  Field operator[](const char* key) const { return Field(m_value.at(key), m_path + "." + key); }
  Field at(size_t i) const { return Field(m_value.at(i), m_path + "[" + std::to_string(i) + "]"); }
  size_t arraySize() const {
    if (!m_value.is_array()) refuse("expected an array");
    return m_value.size();
  }
  // The elements of an array that holds at most `most`; a longer one is refused with `why`.
  std::vector<Field> items(size_t most, const std::string& why) const {
    const size_t n = arraySize();
    if (n > most) refuse(why);
    std::vector<Field> all;
    for (size_t i = 0; i < n; ++i) all.push_back(at(i));
    return all;
  }

  // An unsigned number, given as a JSON number or as a "0x..." string.
  uint64_t number(uint64_t max = std::numeric_limits<uint64_t>::max()) const {
    uint64_t v = 0;
    if (m_value.is_number_unsigned()) {
      v = m_value.get<uint64_t>();
    } else if (m_value.is_number_integer()) {
      if (m_value.get<int64_t>() < 0) refuse("must not be negative");
      v = static_cast<uint64_t>(m_value.get<int64_t>());
    } else if (m_value.is_string()) {
      const std::string s = m_value.get<std::string>();
      const bool decimal = !s.empty() && s.size() <= 19 &&
                           s.find_first_not_of("0123456789") == std::string::npos;
      if (decimal) {
        v = std::stoull(s);
        if (v > max) refuse("value " + std::to_string(v) + " is above " + std::to_string(max));
        return v;
      }
      if (s.size() < 3 || s.size() > 18 || s[0] != '0' || (s[1] != 'x' && s[1] != 'X')) {
        refuse("expected a number or a hexadecimal string such as \"0x1F\"");
      }
      for (size_t i = 2; i < s.size(); ++i) {
        const char c = s[i];
        int digit = 0;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else refuse("bad hexadecimal digit in \"" + s + "\"");
        v = (v << 4) | static_cast<uint64_t>(digit);
      }
    } else {
      refuse("expected a number");
    }
    if (v > max) refuse("value " + std::to_string(v) + " is above " + std::to_string(max));
    return v;
  }
  // A signed number in [least, most], given as a JSON number.
  int64_t integer(int64_t least, int64_t most) const {
    int64_t v = 0;
    if (m_value.is_number_unsigned()) {
      const uint64_t u = m_value.get<uint64_t>();
      if (u > static_cast<uint64_t>(most)) refuse("value " + std::to_string(u) + " is above " + std::to_string(most));
      v = static_cast<int64_t>(u);
    } else if (m_value.is_number_integer()) {
      v = m_value.get<int64_t>();
    } else {
      refuse("expected a whole number");
    }
    if (v < least) refuse("value " + std::to_string(v) + " is below " + std::to_string(least));
    if (v > most) refuse("value " + std::to_string(v) + " is above " + std::to_string(most));
    return v;
  }
  // A JSON number in [least, most], whole or not.
  double real(double least, double most) const {
    if (!m_value.is_number()) refuse("expected a number");
    const double v = m_value.get<double>();
    if (v < least) refuse("value " + std::to_string(v) + " is below " + std::to_string(least));
    if (v > most) refuse("value " + std::to_string(v) + " is above " + std::to_string(most));
    return v;
  }
  bool boolean() const {
    if (!m_value.is_boolean()) refuse("expected true or false");
    return m_value.get<bool>();
  }
  std::string text(size_t maxLength = 256) const {
    if (!m_value.is_string()) refuse("expected a string");
    std::string s = m_value.get<std::string>();
    if (s.size() > maxLength) refuse("longer than " + std::to_string(maxLength) + " characters");
    return s;
  }

 private:
  const json& m_value;
  std::string m_path;
};

IdentityDescription readIdentity(const Field& f) {
  f.expectObject({"model", "serial", "firmware", "sectors", "lba48", "smart", "trim", "sanitize", "sct",
                  "rotationRate", "word106", "logicalSectorWords", "wwn", "word133", "words"});
  IdentityDescription identity;
  if (f.has("model")) identity.model = f["model"].text(40);
  if (f.has("serial")) identity.serial = f["serial"].text(20);
  if (f.has("firmware")) identity.firmware = f["firmware"].text(8);
  if (!f.has("sectors")) f.refuse("sectors is required");
  identity.sectors = f["sectors"].number(0xFFFFFFFFFFFFull);
  if (identity.sectors == 0) f["sectors"].refuse("a drive has at least one sector");
  if (f.has("lba48")) identity.lba48 = f["lba48"].boolean();
  if (!identity.lba48 && identity.sectors > 0x0FFFFFFF) f["sectors"].refuse("needs lba48 above 268435455");
  if (f.has("smart")) identity.smart = f["smart"].boolean();
  if (f.has("trim")) identity.trim = f["trim"].boolean();
  if (f.has("sanitize")) identity.sanitize = f["sanitize"].boolean();
  if (f.has("sct")) identity.sct = f["sct"].boolean();
  if (f.has("rotationRate")) identity.rotationRate = static_cast<uint16_t>(f["rotationRate"].number(0xFFFF));
  if (f.has("word106")) identity.word106 = static_cast<uint16_t>(f["word106"].number(0xFFFF));
  if (f.has("logicalSectorWords")) {
    identity.logicalSectorWords = static_cast<uint32_t>(f["logicalSectorWords"].number(0xFFFFFFFF));
  }
  if (f.has("wwn")) identity.wwn = f["wwn"].number();
  if (f.has("word133")) identity.word133 = static_cast<uint16_t>(f["word133"].number(0xFFFF));
  if (f.has("words")) {
    const Field words = f["words"];
    if (!words.raw().is_object()) words.refuse("expected an object of word number to value");
    for (auto it = words.raw().begin(); it != words.raw().end(); ++it) {
      const Field w(it.value(), words.path() + "." + it.key());
      int index = -1;
      try {
        size_t used = 0;
        index = std::stoi(it.key(), &used);
        if (used != it.key().size()) index = -1;
      } catch (const std::exception&) {
        index = -1;
      }
      if (index < 0 || index > 255) w.refuse("word numbers run from 0 to 255");
      identity.words[index] = static_cast<uint16_t>(w.number(0xFFFF));
    }
  }
  return identity;
}

// Entries a bad-sector list may hold: with ranges kept as ranges, loading stays linear in
// the description's size, and this bounds what one description may ask for.
constexpr size_t kMaxSectorListEntries = 10000;

// Which mark a sector list sets.
enum class SectorMark { Unreadable, Unwritable, LostWrite };

void readSectorList(const Field& f, uint64_t sectors, SimMedia& media, SectorMark mark) {
  const size_t n = f.arraySize();
  if (n > kMaxSectorListEntries) {
    f.refuse("lists of more than " + std::to_string(kMaxSectorListEntries) + " entries are not supported");
  }
  for (size_t i = 0; i < n; ++i) {
    const Field e = f.at(i);
    uint64_t first = 0;
    uint64_t last = 0;
    if (e.raw().is_array()) {
      if (e.arraySize() != 2) e.refuse("a range is [first, last]");
      first = e.at(0).number();
      last = e.at(1).number();
      if (last < first) e.refuse("last is before first");
      if (last - first > 100000) e.refuse("ranges of more than 100000 sectors are not supported");
    } else {
      first = last = e.number();
    }
    if (last >= sectors) e.refuse("beyond the unit's " + std::to_string(sectors) + " sectors");
    switch (mark) {
      case SectorMark::Unreadable: media.markUnreadable(first, last); break;
      case SectorMark::Unwritable: media.markUnwritable(first, last); break;
      case SectorMark::LostWrite: media.markLostWrites(first, last); break;
    }
  }
}

// Slow regions: {"first": F, "last": L, "milliseconds": M}, each transfer touching F..L
// taking M milliseconds on the drive's clock. The ranges may be as long as the media:
// they are kept as ranges, not sector by sector.
void readSlowRegions(const Field& f, uint64_t sectors, SimMedia& media) {
  const size_t n = f.arraySize();
  if (n > kMaxSectorListEntries) {
    f.refuse("lists of more than " + std::to_string(kMaxSectorListEntries) + " entries are not supported");
  }
  for (size_t i = 0; i < n; ++i) {
    const Field e = f.at(i);
    e.expectObject({"first", "last", "milliseconds"});
    if (!e.has("first") || !e.has("last") || !e.has("milliseconds")) e.refuse("first, last and milliseconds are required");
    const uint64_t first = e["first"].number();
    const uint64_t last = e["last"].number();
    if (last < first) e.refuse("last is before first");
    if (last >= sectors) e.refuse("beyond the unit's " + std::to_string(sectors) + " sectors");
    // An hour per transfer is already a drive nobody waits for.
    media.markSlow(first, last, e["milliseconds"].number(3'600'000) * 1000);
  }
}

SimSmart readSmart(const Field& f) {
  f.expectObject({"enabled", "attributes", "reportExceeded"});
  SimSmart smart;
  if (f.has("enabled")) smart.enabled = f["enabled"].boolean();
  if (f.has("reportExceeded")) smart.reportExceeded = f["reportExceeded"].boolean();
  if (f.has("attributes")) {
    const Field list = f["attributes"];
    const size_t n = list.arraySize();
    if (n > 30) list.refuse("a SMART page holds at most 30 attributes");
    for (size_t i = 0; i < n; ++i) {
      const Field a = list.at(i);
      a.expectObject({"id", "flags", "value", "worst", "raw", "threshold"});
      SimAttribute attr;
      if (!a.has("id")) a.refuse("id is required");
      attr.id = static_cast<uint8_t>(a["id"].number(255));
      if (attr.id == 0) a["id"].refuse("attribute id 0 marks an unused entry");
      if (a.has("flags")) attr.flags = static_cast<uint16_t>(a["flags"].number(0xFFFF));
      if (a.has("value")) attr.value = static_cast<uint8_t>(a["value"].number(255));
      if (a.has("worst")) attr.worst = static_cast<uint8_t>(a["worst"].number(255));
      if (a.has("raw")) attr.raw = a["raw"].number(0xFFFFFFFFFFFFull);
      if (a.has("threshold")) attr.threshold = static_cast<uint8_t>(a["threshold"].number(255));
      smart.attributes.push_back(attr);
    }
  }
  return smart;
}

// A temperature in degrees Celsius, as the drive's signed bytes hold it.
int8_t celsius(const Field& f) { return static_cast<int8_t>(f.integer(-127, 127)); }

SimSelfTestLogEntry readSelfTestEntry(const Field& e) {
  e.expectObject({"test", "status", "hours", "lba", "remaining", "checkpoint"});
  SimSelfTestLogEntry entry;
  if (e.has("test")) entry.test = static_cast<uint8_t>(e["test"].number(255));
  if (e.has("status")) entry.status = static_cast<uint8_t>(e["status"].number(15));
  if (e.has("hours")) entry.hours = static_cast<uint16_t>(e["hours"].number(0xFFFF));
  // 48 bits of the failing sector; the SMART self-test log keeps the low 28 of them.
  if (e.has("lba")) entry.failingLba = e["lba"].number(0xFFFFFFFFFFFFull);
  if (e.has("remaining")) {
    const uint64_t percent = e["remaining"].number(90);
    if (percent % 10 != 0) e["remaining"].refuse("the log keeps tens of percent: 0, 10, ... 90");
    entry.remainingTenths = static_cast<uint8_t>(percent / 10);
  }
  if (e.has("checkpoint")) entry.checkpoint = static_cast<uint8_t>(e["checkpoint"].number(255));
  return entry;
}

SimErrorEntry readErrorEntry(const Field& e) {
  e.expectObject({"hours", "error", "status", "count", "lba", "device", "state", "commands"});
  SimErrorEntry entry;
  if (e.has("hours")) entry.hours = static_cast<uint16_t>(e["hours"].number(0xFFFF));
  if (e.has("error")) entry.error = static_cast<uint8_t>(e["error"].number(255));
  if (e.has("status")) entry.status = static_cast<uint8_t>(e["status"].number(255));
  if (e.has("count")) entry.count = static_cast<uint16_t>(e["count"].number(0xFFFF));
  if (e.has("lba")) entry.lba = e["lba"].number(0xFFFFFFFFFFFFull);
  if (e.has("device")) entry.device = static_cast<uint8_t>(e["device"].number(255));
  if (e.has("state")) entry.state = static_cast<uint8_t>(e["state"].number(255));
  if (e.has("commands")) {
    for (const Field& c : e["commands"].items(5, "an error log structure holds 5 commands")) {
      c.expectObject({"command", "features", "count", "lba", "device", "deviceControl", "timestampMs"});
      SimErrorCommand command;
      if (!c.has("command")) c.refuse("command is required");
      command.command = static_cast<uint8_t>(c["command"].number(255));
      if (c.has("features")) command.features = static_cast<uint16_t>(c["features"].number(0xFFFF));
      if (c.has("count")) command.count = static_cast<uint16_t>(c["count"].number(0xFFFF));
      if (c.has("lba")) command.lba = c["lba"].number(0xFFFFFFFFFFFFull);
      if (c.has("device")) command.device = static_cast<uint8_t>(c["device"].number(255));
      if (c.has("deviceControl")) command.deviceControl = static_cast<uint8_t>(c["deviceControl"].number(255));
      if (c.has("timestampMs")) command.timestampMs = static_cast<uint32_t>(c["timestampMs"].number(0xFFFFFFFF));
      entry.commands.push_back(command);
    }
  }
  return entry;
}

SimDeviceStatistics readStatistics(const Field& f) {
  f.expectObject({"powerOnResets", "logicalSectorsWritten", "writeCommands", "logicalSectorsRead", "readCommands",
                  "uncorrectableErrors", "resetsDuringCommands", "averageShortTermTemperature",
                  "averageLongTermTemperature", "overTemperatureMinutes", "underTemperatureMinutes"});
  SimDeviceStatistics s;
  const std::pair<const char*, std::optional<uint64_t>*> counters[] = {
      {"powerOnResets", &s.powerOnResets},
      {"logicalSectorsWritten", &s.logicalSectorsWritten},
      {"writeCommands", &s.writeCommands},
      {"logicalSectorsRead", &s.logicalSectorsRead},
      {"readCommands", &s.readCommands},
      {"uncorrectableErrors", &s.uncorrectableErrors},
      {"resetsDuringCommands", &s.resetsDuringCommands},
      {"overTemperatureMinutes", &s.overTemperatureMinutes},
      {"underTemperatureMinutes", &s.underTemperatureMinutes}};
  for (const auto& [key, value] : counters) {
    if (f.has(key)) *value = f[key].number(0xFFFFFFFFFFFFull);  // a statistic holds 48 bits
  }
  if (f.has("averageShortTermTemperature")) s.averageShortTermTemperature = celsius(f["averageShortTermTemperature"]);
  if (f.has("averageLongTermTemperature")) s.averageLongTermTemperature = celsius(f["averageLongTermTemperature"]);
  return s;
}

// The SCT temperature history table holds this many samples after its header.
constexpr size_t kMostTemperatureSamples = 478;

SimTemperature readTemperature(const Field& f) {
  f.expectObject({"current", "min", "max", "lifetimeMin", "lifetimeMax", "overLimitCount", "underLimitCount",
                  "limits", "samplingMinutes", "intervalMinutes", "history"});
  SimTemperature t;
  const std::pair<const char*, std::optional<int8_t>*> readings[] = {
      {"current", &t.current}, {"min", &t.min}, {"max", &t.max}, {"lifetimeMin", &t.lifetimeMin},
      {"lifetimeMax", &t.lifetimeMax}};
  for (const auto& [key, value] : readings) {
    if (f.has(key)) *value = celsius(f[key]);
  }
  if (f.has("overLimitCount")) t.overLimitCount = static_cast<uint32_t>(f["overLimitCount"].number(0xFFFFFFFF));
  if (f.has("underLimitCount")) t.underLimitCount = static_cast<uint32_t>(f["underLimitCount"].number(0xFFFFFFFF));
  if (f.has("limits")) {
    const Field l = f["limits"];
    l.expectObject({"maxOperating", "overLimit", "minOperating", "underLimit"});
    if (l.has("maxOperating")) t.maxOperating = celsius(l["maxOperating"]);
    if (l.has("overLimit")) t.overLimit = celsius(l["overLimit"]);
    if (l.has("minOperating")) t.minOperating = celsius(l["minOperating"]);
    if (l.has("underLimit")) t.underLimit = celsius(l["underLimit"]);
    if (t.minOperating > t.maxOperating) l.refuse("minOperating is above maxOperating");
  }
  if (f.has("samplingMinutes")) t.samplingMinutes = static_cast<uint16_t>(f["samplingMinutes"].number(0xFFFF));
  if (f.has("intervalMinutes")) t.intervalMinutes = static_cast<uint16_t>(f["intervalMinutes"].number(0xFFFF));
  if (f.has("history")) {
    const std::string tooMany =
        "the temperature history holds " + std::to_string(kMostTemperatureSamples) + " samples";
    for (const Field& sample : f["history"].items(kMostTemperatureSamples, tooMany)) {
      t.history.push_back(celsius(sample));
    }
  }
  return t;
}

// The error logs keep their newest 64 errors (the self-test log's ring of 21 is the
// page's own).
constexpr size_t kErrorRing = 64;

SimDriveLogs readLogs(const Field& f) {
  // "gpl" and "sct" are IDENTIFY bits, which readUnit takes before it makes the words.
  f.expectObject({"powerOnHours", "selfTests", "errors", "errorCount", "statistics", "temperature", "gpl", "sct"});
  SimDriveLogs logs;
  if (f.has("powerOnHours")) logs.powerOnHours = f["powerOnHours"].number(0xFFFFFFFF);
  if (f.has("selfTests")) {
    const Field list = f["selfTests"];
    for (size_t i = 0; i < list.arraySize(); ++i) logSelfTest(logs, readSelfTestEntry(list.at(i)));
  }
  if (f.has("errors")) {
    const Field list = f["errors"];
    const size_t n = list.arraySize();
    for (size_t i = 0; i < n; ++i) {
      SimErrorEntry entry = readErrorEntry(list.at(i));
      if (i + kErrorRing >= n) logs.errors.push_back(std::move(entry));
    }
    logs.errorCount = static_cast<uint32_t>(std::min<size_t>(n, 0xFFFFFFFF));
  }
  if (f.has("errorCount")) {
    const uint64_t count = f["errorCount"].number(0xFFFFFFFF);
    if (count < logs.errorCount) f["errorCount"].refuse("fewer than the errors listed");
    logs.errorCount = static_cast<uint32_t>(count);
  }
  if (f.has("statistics")) logs.statistics = readStatistics(f["statistics"]);
  if (f.has("temperature")) logs.temperature = readTemperature(f["temperature"]);
  return logs;
}

SimUnit readUnit(const Field& f) {
  SimUnit unit;
  if (!f.has("identity")) f.refuse("identity is required");
  IdentityDescription identity = readIdentity(f["identity"]);
  if (f.has("logs")) {
    const Field logs = f["logs"];
    if (!logs.raw().is_object()) logs.refuse("expected an object");
    if (logs.has("gpl")) identity.gpl = logs["gpl"].boolean();
    if (logs.has("sct")) {
      if (f["identity"].has("sct")) logs.refuseAt("sct", "give sct in identity or in logs, not both");
      identity.sct = logs["sct"].boolean();
    }
  }
  // IDENTIFY's self-test bit says what the SMART data page's capability byte says.
  if (f.has("offlineCapability")) identity.selfTestLog = (f["offlineCapability"].number(255) & 0x10) != 0;
  unit.identify = makeIdentify(identity);
  if (f.has("identitySwitched")) unit.identifySwitched = makeIdentify(readIdentity(f["identitySwitched"]));
  uint32_t sectorSize = 512;
  if (f.has("sectorSize")) {
    sectorSize = static_cast<uint32_t>(f["sectorSize"].number(65536));
    if (sectorSize < 512 || (sectorSize & (sectorSize - 1)) != 0) {
      f["sectorSize"].refuse("a power of two from 512");
    }
  }
  uint64_t mediaSectors = identity.sectors;
  if (f.has("mediaSectors")) {
    mediaSectors = f["mediaSectors"].number(0xFFFFFFFFFFFFull);
    // Without a sector the unit's last LBA would be all ones, a capacity no drive has.
    if (mediaSectors == 0) f["mediaSectors"].refuse("a unit has at least one sector");
  }
  // A Host Protected Area (a drive's field, read here since it sizes the media): the media
  // holds the native sectors, the host sees the identity's.
  if (f.has("nativeSectors")) {
    if (f.has("mediaSectors")) f["nativeSectors"].refuse("give nativeSectors or mediaSectors, not both");
    mediaSectors = f["nativeSectors"].number(0xFFFFFFFFFFFFull);
    if (mediaSectors <= identity.sectors) f["nativeSectors"].refuse("must be above the identity's sectors");
  }
  unit.media = SimMedia(mediaSectors, sectorSize);
  if (f.has("nativeSectors")) unit.media.setHostSectors(identity.sectors);
  if (f.has("capabilities")) unit.identifyLogPage3 = makeCapabilitiesPage(f["capabilities"].number());
  if (f.has("smart")) unit.smart = readSmart(f["smart"]);
  if (f.has("selfTest")) {
    const Field t = f["selfTest"];
    t.expectObject({"shortSeconds", "extendedSeconds", "conveyanceSeconds", "result", "checkpoint", "failingLba"});
    if (t.has("shortSeconds")) unit.selfTest.shortSeconds = static_cast<uint32_t>(t["shortSeconds"].number(86400));
    if (t.has("extendedSeconds")) unit.selfTest.extendedSeconds = static_cast<uint32_t>(t["extendedSeconds"].number(864000));
    if (t.has("conveyanceSeconds")) {
      unit.selfTest.conveyanceSeconds = static_cast<uint32_t>(t["conveyanceSeconds"].number(86400));
    }
    if (t.has("result")) unit.selfTest.result = static_cast<uint8_t>(t["result"].number(15));
    if (t.has("checkpoint")) unit.selfTest.checkpoint = static_cast<uint8_t>(t["checkpoint"].number(255));
    if (t.has("failingLba")) {
      unit.selfTest.failingLba = t["failingLba"].number();
      if (*unit.selfTest.failingLba >= mediaSectors) {
        t["failingLba"].refuse("beyond the unit's " + std::to_string(mediaSectors) + " sectors");
      }
    }
  }
  if (f.has("logs")) unit.logs = readLogs(f["logs"]);
  if (f.has("offlineCapability")) unit.offlineCapability = static_cast<uint8_t>(f["offlineCapability"].number(255));
  if (f.has("pollMinutes")) {
    const Field p = f["pollMinutes"];
    p.expectObject({"short", "extended", "conveyance"});
    if (p.has("short")) unit.shortPollMinutes = static_cast<uint8_t>(p["short"].number(255));
    if (p.has("extended")) unit.extendedPollMinutes = static_cast<uint8_t>(p["extended"].number(255));
    if (p.has("conveyance")) unit.conveyancePollMinutes = static_cast<uint8_t>(p["conveyance"].number(255));
  }
  if (f.has("unreadable")) readSectorList(f["unreadable"], mediaSectors, unit.media, SectorMark::Unreadable);
  if (f.has("unwritable")) readSectorList(f["unwritable"], mediaSectors, unit.media, SectorMark::Unwritable);
  if (f.has("lostWrites")) readSectorList(f["lostWrites"], mediaSectors, unit.media, SectorMark::LostWrite);
  if (f.has("slowRegions")) readSlowRegions(f["slowRegions"], mediaSectors, unit.media);
  return unit;
}

#define PALVORO_UNIT_FIELDS                                                                                  \
  "identity", "identitySwitched", "sectorSize", "mediaSectors", "capabilities", "smart", "unreadable", "unwritable", \
      "lostWrites", "slowRegions", "selfTest", "offlineCapability", "pollMinutes", "logs"

// Bytes given as a hexadecimal string ("00 80 00 04 41 42 43 44", blanks allowed).
std::vector<uint8_t> readHexBytes(const Field& f, size_t maxCharacters = 4096) {
  const std::string text = f.text(maxCharacters);
  std::vector<uint8_t> bytes;
  int pending = -1;
  for (char c : text) {
    if (c == ' ') continue;
    int digit = 0;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else f.refuse("bad hexadecimal digit");
    if (pending < 0) {
      pending = digit;
    } else {
      bytes.push_back(static_cast<uint8_t>((pending << 4) | digit));
      pending = -1;
    }
  }
  if (pending >= 0) f.refuse("odd number of hexadecimal digits");
  return bytes;
}

// A page map: {"0x80": {"text": "serial"} or {"hex": "..."}}.
void readPages(const Field& f, std::map<uint8_t, std::vector<uint8_t>>& pages, bool serialText, uint8_t peripheral) {
  if (!f.raw().is_object()) f.refuse("expected an object of page code to page");
  for (auto it = f.raw().begin(); it != f.raw().end(); ++it) {
    const Field page(it.value(), f.path() + "." + it.key());
    uint64_t number = 0;
    try {
      number = Field(json(it.key()), f.path() + "." + it.key()).number(255);
    } catch (const MachineDescriptionError&) {
      page.refuse("page codes are numbers 0..255 or \"0x..\"");
    }
    page.expectObject({"hex", "serial"});
    if (page.has("hex")) {
      pages[static_cast<uint8_t>(number)] = readHexBytes(page["hex"]);
    } else if (page.has("serial") && serialText) {
      pages[static_cast<uint8_t>(number)] = makeSerialPage(peripheral, page["serial"].text(251));
    } else {
      page.refuse("give the page as \"hex\"" + std::string(serialText ? " or \"serial\"" : ""));
    }
  }
}

// Temperatures are described in degrees Celsius and kept in kelvin, as NVMe reports them.
constexpr uint16_t kKelvinAtZeroCelsius = 273;
constexpr uint64_t kMostCelsius = 200;
uint16_t kelvin(const Field& f) { return static_cast<uint16_t>(f.number(kMostCelsius) + kKelvinAtZeroCelsius); }

// A raw page in place of the one the controller would make: at most `size` bytes, the rest
// zeros. Three characters a byte leaves room for blanks between them.
std::vector<uint8_t> readRawPage(const Field& f, size_t size) {
  std::vector<uint8_t> bytes = readHexBytes(f, 3 * size);
  if (bytes.size() > size) f.refuse("a page of " + std::to_string(size) + " bytes cannot hold " + std::to_string(bytes.size()));
  return bytes;
}

SimNvmeHealth readNvmeHealth(const Field& f) {
  f.expectObject({"criticalWarning", "temperature", "temperatureKelvin", "availableSpare", "spareThreshold",
                  "percentageUsed", "dataUnitsRead", "dataUnitsWritten", "hostReads", "hostWrites", "busyMinutes",
                  "powerCycles", "powerOnHours", "unsafeShutdowns", "mediaErrors", "errorLogEntries",
                  "warningTemperatureMinutes", "criticalTemperatureMinutes", "sensors"});
  SimNvmeHealth h;
  // Bits 6 and 7 of the critical warning are reserved.
  if (f.has("criticalWarning")) h.criticalWarning = static_cast<uint8_t>(f["criticalWarning"].number(0x3F));
  if (f.has("temperature") && f.has("temperatureKelvin")) f.refuse("give temperature or temperatureKelvin, not both");
  if (f.has("temperature")) h.temperatureKelvin = kelvin(f["temperature"]);
  if (f.has("temperatureKelvin")) h.temperatureKelvin = static_cast<uint16_t>(f["temperatureKelvin"].number(0xFFFF));
  if (f.has("availableSpare")) h.availableSpare = static_cast<uint8_t>(f["availableSpare"].number(100));
  if (f.has("spareThreshold")) h.spareThreshold = static_cast<uint8_t>(f["spareThreshold"].number(100));
  if (f.has("percentageUsed")) h.percentageUsed = static_cast<uint8_t>(f["percentageUsed"].number(255));
  const std::pair<const char*, uint64_t*> counters[] = {
      {"dataUnitsRead", &h.dataUnitsRead},     {"dataUnitsWritten", &h.dataUnitsWritten},
      {"hostReads", &h.hostReads},             {"hostWrites", &h.hostWrites},
      {"busyMinutes", &h.busyMinutes},         {"powerCycles", &h.powerCycles},
      {"powerOnHours", &h.powerOnHours},       {"unsafeShutdowns", &h.unsafeShutdowns},
      {"mediaErrors", &h.mediaErrors},         {"errorLogEntries", &h.errorLogEntries}};
  for (const auto& [key, value] : counters) {
    if (f.has(key)) *value = f[key].number();
  }
  if (f.has("warningTemperatureMinutes")) {
    h.warningTemperatureMinutes = static_cast<uint32_t>(f["warningTemperatureMinutes"].number(0xFFFFFFFF));
  }
  if (f.has("criticalTemperatureMinutes")) {
    h.criticalTemperatureMinutes = static_cast<uint32_t>(f["criticalTemperatureMinutes"].number(0xFFFFFFFF));
  }
  if (f.has("sensors")) {
    for (const Field& sensor : f["sensors"].items(8, "a controller reports at most 8 temperature sensors")) {
      h.sensorsKelvin.push_back(kelvin(sensor));
    }
  }
  return h;
}

// The failing LBA of a self-test lies in the namespace.
uint64_t readFailingLba(const Field& f, uint64_t blocks) {
  const uint64_t lba = f.number();
  if (lba >= blocks) f.refuse("beyond the namespace's " + std::to_string(blocks) + " blocks");
  return lba;
}

SimNvmeSelfTest readNvmeSelfTest(const Field& f, uint64_t blocks) {
  f.expectObject({"supported", "shortSeconds", "extendedMinutes", "result", "segment", "failingLba"});
  SimNvmeSelfTest t;
  if (f.has("supported")) t.supported = f["supported"].boolean();
  if (f.has("shortSeconds")) t.shortSeconds = static_cast<uint32_t>(f["shortSeconds"].number(86400));
  if (f.has("extendedMinutes")) t.extendedMinutes = static_cast<uint16_t>(f["extendedMinutes"].number(0xFFFF));
  if (f.has("result")) t.result = static_cast<uint8_t>(f["result"].number(9));
  if (f.has("segment")) t.segment = static_cast<uint8_t>(f["segment"].number(255));
  if (f.has("failingLba")) t.failingLba = readFailingLba(f["failingLba"], blocks);
  return t;
}

std::vector<SimNvmeSelfTestEntry> readNvmeSelfTestLog(const Field& f, uint64_t blocks) {
  std::vector<SimNvmeSelfTestEntry> log;
  for (const Field& e : f.items(20, "the self-test log holds 20 entries")) {
    e.expectObject({"code", "result", "segment", "powerOnHours", "failingLba"});
    SimNvmeSelfTestEntry entry;
    if (e.has("code")) {
      entry.code = static_cast<uint8_t>(e["code"].number(15));
      if (entry.code != 1 && entry.code != 2) e["code"].refuse("1 (short) or 2 (extended)");
    }
    if (e.has("result")) entry.result = static_cast<uint8_t>(e["result"].number(9));
    if (e.has("segment")) entry.segment = static_cast<uint8_t>(e["segment"].number(255));
    if (e.has("powerOnHours")) entry.powerOnHours = e["powerOnHours"].number();
    if (e.has("failingLba")) entry.failingLba = readFailingLba(e["failingLba"], blocks);
    log.push_back(entry);
  }
  return log;
}

// The error information log, newest first: each entry's error count is its own and
// below the one before it.
std::vector<SimNvmeErrorEntry> readNvmeErrorLog(const Field& f, uint32_t diskNsid) {
  std::vector<SimNvmeErrorEntry> log;
  for (const Field& e : f.items(64, "the error information log holds 64 entries")) {
    e.expectObject({"errorCount", "sqid", "cid", "status", "parameterErrorLocation", "lba", "nsid", "transportType",
                    "commandSpecific"});
    SimNvmeErrorEntry entry;
    if (!e.has("errorCount")) e.refuse("errorCount is required");
    entry.errorCount = e["errorCount"].number();
    if (entry.errorCount == 0) e["errorCount"].refuse("an entry with error count 0 is an empty one");
    if (!log.empty() && entry.errorCount >= log.back().errorCount) {
      e["errorCount"].refuse("entries run newest first, each error count below the one before");
    }
    if (e.has("sqid")) entry.sqid = static_cast<uint16_t>(e["sqid"].number(0xFFFF));
    if (e.has("cid")) entry.cid = static_cast<uint16_t>(e["cid"].number(0xFFFF));
    // (type << 8) | code, the type in 3 bits.
    if (e.has("status")) entry.status = static_cast<uint16_t>(e["status"].number(0x7FF));
    if (e.has("parameterErrorLocation")) {
      entry.parameterErrorLocation = static_cast<uint16_t>(e["parameterErrorLocation"].number(0xFFFF));
    }
    if (e.has("lba")) entry.lba = e["lba"].number();
    entry.nsid = e.has("nsid") ? static_cast<uint32_t>(e["nsid"].number(0xFFFFFFFF)) : diskNsid;
    if (e.has("transportType")) entry.transportType = static_cast<uint8_t>(e["transportType"].number(255));
    if (e.has("commandSpecific")) entry.commandSpecific = e["commandSpecific"].number();
    log.push_back(entry);
  }
  return log;
}

// How the drive serves queued transfers: a real device takes up to a few hundred requests
// at once and a few MiB in one.
SimQueueModel readQueueModel(const Field& f) {
  f.expectObject({"depth", "maxTransferKiB", "requestMicroseconds", "megabytesPerSecond", "rotational"});
  SimQueueModel q;
  if (f.has("depth")) q.depth = static_cast<uint32_t>(f["depth"].integer(1, 256));
  if (f.has("maxTransferKiB")) q.maxTransferBytes = static_cast<uint32_t>(f["maxTransferKiB"].integer(4, 4096)) * 1024;
  if (f.has("requestMicroseconds")) q.requestMicroseconds = f["requestMicroseconds"].number(10'000'000);
  if (f.has("megabytesPerSecond")) q.megabytesPerSecond = f["megabytesPerSecond"].number(1'000'000);
  if (f.has("rotational")) q.rotational = f["rotational"].boolean();
  return q;
}

// How the drive's temperature follows its work. Degrees within what a drive's signed
// temperature byte holds; the rates are per gigabyte and per minute, so a few hundred
// degrees is already a drive that glows.
SimThermal readThermal(const Field& f) {
  f.expectObject({"start", "ambient", "perGigabyte", "coolingPerIdleMinute"});
  SimThermal t;
  if (f.has("start")) t.start = f["start"].real(-127, 127);
  t.ambient = f.has("ambient") ? f["ambient"].real(-127, 127) : t.start;
  if (f.has("perGigabyte")) t.perGigabyte = f["perGigabyte"].real(0, 1000);
  if (f.has("coolingPerIdleMinute")) t.coolingPerIdleMinute = f["coolingPerIdleMinute"].real(0, 1000);
  if (t.ambient > t.start) f.refuseAt("ambient", "a drive starts at or above the temperature it cools to");
  t.celsius = t.start;
  return t;
}

// Format NVM and Sanitize of the drive's "nvme" object; the format in use must have the
// namespace's block size.
void readNvmeErase(const Field& f, uint32_t sectorSize, SimNvmeErase& e) {
  if (f.has("formatNvm")) e.formatNvm = f["formatNvm"].boolean();
  if (f.has("fna")) e.fna = static_cast<uint8_t>(f["fna"].number(0x7));
  if (f.has("sanicap")) e.sanicap = static_cast<uint8_t>(f["sanicap"].number(0x7));
  if (f.has("dlfeat")) e.dlfeat = static_cast<uint8_t>(f["dlfeat"].number(0x7));
  if (f.has("sanitizeSeconds")) e.sanitizeSeconds = static_cast<uint32_t>(f["sanitizeSeconds"].number(7 * 86400));
  if (f.has("sanitizeFails")) e.sanitizeFails = f["sanitizeFails"].boolean();
  if (f.has("lbaFormats")) {
    for (const Field& l : f["lbaFormats"].items(16, "a namespace has at most 16 LBA formats")) {
      l.expectObject({"dataSize", "metadataSize"});
      SimNvmeLbaFormat format;
      if (l.has("dataSize")) format.dataBytes = static_cast<uint32_t>(l["dataSize"].number(4096));
      if (format.dataBytes != 512 && format.dataBytes != 4096) l["dataSize"].refuse("512 or 4096");
      if (l.has("metadataSize")) format.metadataBytes = static_cast<uint16_t>(l["metadataSize"].number(0xFFFF));
      e.lbaFormats.push_back(format);
    }
    if (e.lbaFormats.empty()) f["lbaFormats"].refuse("at least one LBA format");
  }
  if (f.has("formatInUse")) {
    if (e.lbaFormats.empty()) f["formatInUse"].refuse("names an entry of lbaFormats, which is absent");
    e.formatInUse = static_cast<uint8_t>(f["formatInUse"].number(e.lbaFormats.size() - 1));
  }
  if (!e.lbaFormats.empty() && e.lbaFormats[e.formatInUse].dataBytes != sectorSize) {
    f.refuseAt("formatInUse", "the format in use has " + std::to_string(e.lbaFormats[e.formatInUse].dataBytes) +
                                  "-byte blocks, the namespace " + std::to_string(sectorSize));
  }
}

// The controller of an NVMe drive: its texts and size come from `identity`, the rest from
// the drive's "nvme" object.
SimNvme readNvme(const Field& drive, const IdentityDescription& identity, uint32_t sectorSize) {
  SimNvme nvme;
  nvme.model = identity.model;
  nvme.serial = identity.serial;
  nvme.firmware = identity.firmware;
  if (!drive.has("nvme")) return nvme;
  const Field f = drive["nvme"];
  f.expectObject({"pciVendorId", "ieeeOui", "namespaces", "nsid", "warningTemperature", "criticalTemperature",
                  "health", "selfTest", "selfTestLog", "errorLog", "pages", "formatNvm", "fna", "sanicap", "dlfeat",
                  "lbaFormats", "formatInUse", "sanitizeSeconds", "sanitizeFails"});
  readNvmeErase(f, sectorSize, nvme.erase);
  if (f.has("pciVendorId")) nvme.pciVendorId = static_cast<uint16_t>(f["pciVendorId"].number(0xFFFF));
  if (f.has("ieeeOui")) nvme.ieeeOui = static_cast<uint32_t>(f["ieeeOui"].number(0xFFFFFF));
  if (f.has("namespaces")) {
    nvme.namespaces = static_cast<uint32_t>(f["namespaces"].number(1024));
    if (nvme.namespaces == 0) f["namespaces"].refuse("a controller has at least one namespace");
  }
  if (f.has("nsid")) nvme.nsid = static_cast<uint32_t>(f["nsid"].number(0xFFFFFFFF));
  if (nvme.nsid == 0 || nvme.nsid > nvme.namespaces) {
    f.refuseAt("nsid", "the disk's namespace is one of the controller's, 1 to " + std::to_string(nvme.namespaces));
  }
  if (f.has("warningTemperature")) nvme.warningTemperatureKelvin = kelvin(f["warningTemperature"]);
  if (f.has("criticalTemperature")) nvme.criticalTemperatureKelvin = kelvin(f["criticalTemperature"]);
  if (f.has("health")) nvme.health = readNvmeHealth(f["health"]);
  if (f.has("selfTest")) nvme.selfTest = readNvmeSelfTest(f["selfTest"], identity.sectors);
  if (f.has("selfTestLog")) nvme.selfTest.log = readNvmeSelfTestLog(f["selfTestLog"], identity.sectors);
  if (f.has("errorLog")) nvme.errorLog = readNvmeErrorLog(f["errorLog"], nvme.nsid);
  if (f.has("pages")) {
    const Field pages = f["pages"];
    pages.expectObject({"identifyController", "identifyNamespace", "health"});
    if (pages.has("identifyController")) nvme.identifyControllerPage = readRawPage(pages["identifyController"], 4096);
    if (pages.has("identifyNamespace")) nvme.identifyNamespacePage = readRawPage(pages["identifyNamespace"], 4096);
    if (pages.has("health")) nvme.healthPage = readRawPage(pages["health"], 512);
  }
  return nvme;
}

// SANITIZE of a SCSI device: the service actions it takes, by name.
SimScsiSanitize readScsiSanitize(const Field& f) {
  f.expectObject({"actions", "reportsOpcodes", "bridgeRefuses", "seconds", "fails"});
  SimScsiSanitize s;
  static const std::map<std::string, uint8_t> kActions = {{"overwrite", 1}, {"block", 2}, {"crypto", 3}};
  if (f.has("actions")) {
    for (const Field& a : f["actions"].items(3, "at most the three actions")) {
      const auto known = kActions.find(a.text());
      if (known == kActions.end()) a.refuse("overwrite, block or crypto");
      s.actions = static_cast<uint8_t>(s.actions | (1u << known->second));
    }
  }
  if (f.has("reportsOpcodes")) s.reportsOpcodes = f["reportsOpcodes"].boolean();
  if (f.has("bridgeRefuses")) s.bridgeRefuses = f["bridgeRefuses"].boolean();
  if (f.has("seconds")) s.seconds = static_cast<uint32_t>(f["seconds"].number(7 * 86400));
  if (f.has("fails")) s.fails = f["fails"].boolean();
  return s;
}

// What an NVMe drive's description may not hold: the fields of an ATA drive and of the
// bridges in front of one, and the identity words only IDENTIFY DEVICE has.
void refuseAtaFields(const Field& f) {
  for (const char* key : {"identitySwitched", "capabilities", "smart", "selfTest", "offlineCapability",
                          "pollMinutes", "secondUnit", "mediaSectors", "bridgeSignature", "sctVendorSwitch",
                          "dsmXl", "smartDriver", "sat12", "sat16", "atacb", "logs", "refusedLogs", "security",
                          "sanitize", "nativeSectors", "dcoSectors", "refusesPurge"}) {
    if (f.has(key)) f.refuseAt(key, "not a field of an NVMe drive");
  }
  const Field identity = f["identity"];
  if (!identity.raw().is_object()) return;  // the identity's own reading refuses it
  for (auto it = identity.raw().begin(); it != identity.raw().end(); ++it) {
    const std::string& key = it.key();
    if (key != "model" && key != "serial" && key != "firmware" && key != "sectors") {
      identity.refuseAt(key.c_str(), "an NVMe drive's identity is its model, serial, firmware and sectors");
    }
  }
  if (f.has("sectorSize")) {
    const uint64_t size = f["sectorSize"].number(65536);
    if (size != 512 && size != 4096) f["sectorSize"].refuse("an NVMe namespace has blocks of 512 or 4096 bytes");
  }
}

// The drive's own erase and its hidden areas: "security", "sanitize", "nativeSectors",
// "dcoSectors" and a bridge's "refusesPurge".
void readPurgeFields(const Field& f, SimDrive& drive) {
  SimAtaDrive& ata = drive.ata;
  if (f.has("security")) {
    const Field s = f["security"];
    s.expectObject({"enabled", "locked", "frozen", "enhanced", "maximum", "attemptsLeft", "userPassword",
                    "masterPassword", "eraseMinutes", "enhancedMinutes"});
    SimSecurity& sec = ata.security.emplace();
    if (s.has("enabled")) sec.enabled = s["enabled"].boolean();
    if (s.has("locked")) sec.locked = s["locked"].boolean();
    if (s.has("frozen")) sec.frozen = s["frozen"].boolean();
    if (s.has("enhanced")) sec.enhanced = s["enhanced"].boolean();
    if (s.has("maximum")) sec.masterMaximum = s["maximum"].boolean();
    if (s.has("attemptsLeft")) sec.attemptsLeft = static_cast<uint8_t>(s["attemptsLeft"].number(5));
    if (s.has("userPassword")) sec.userPassword = s["userPassword"].text(32);
    if (s.has("masterPassword")) sec.masterPassword = s["masterPassword"].text(32);
    if (s.has("eraseMinutes")) sec.eraseMinutes = static_cast<uint16_t>(s["eraseMinutes"].number(65532));
    if (s.has("enhancedMinutes")) sec.enhancedMinutes = static_cast<uint16_t>(s["enhancedMinutes"].number(65532));
    if (sec.enabled && sec.userPassword.empty()) s.refuseAt("userPassword", "enabled security needs the user password");
    if (sec.locked && !sec.enabled) s.refuseAt("locked", "only a drive with security enabled is locked");
    // A drive is frozen or locked from power-on, never both: it powers up locked.
    if (sec.locked && sec.frozen) s.refuseAt("frozen", "a locked drive is not frozen");
  }
  if (f.has("sanitize")) {
    const Field s = f["sanitize"];
    s.expectObject({"crypto", "block", "overwrite", "seconds", "erasedValue", "fails"});
    SimSanitize& san = ata.sanitizeSet.emplace();
    if (s.has("crypto")) san.crypto = s["crypto"].boolean();
    if (s.has("block")) san.block = s["block"].boolean();
    if (s.has("overwrite")) san.overwrite = s["overwrite"].boolean();
    if (s.has("seconds")) san.seconds = static_cast<uint32_t>(s["seconds"].number(864000));
    if (s.has("erasedValue")) san.erasedValue = static_cast<uint8_t>(s["erasedValue"].number(255));
    if (s.has("fails")) san.fails = s["fails"].boolean();
  }
  if (f.has("nativeSectors")) ata.nativeSectors = ata.units.at(0).media.sectorCount();
  if (f.has("dcoSectors")) {
    ata.dcoSectors = f["dcoSectors"].number(0xFFFFFFFFFFFFull);
    if (*ata.dcoSectors < ata.units.at(0).media.sectorCount()) {
      f["dcoSectors"].refuse("must be at least the drive's native sectors");
    }
  }
  if (f.has("refusesPurge")) {
    if (drive.transport != Transport::UsbSat && drive.transport != Transport::UsbAtacb) {
      f["refusesPurge"].refuse("only a USB bridge (usb-sat, usb-atacb) refuses the erase commands");
    }
    drive.scsi.refusesPurge = f["refusesPurge"].boolean();
  }
}

// Long on purpose: one short statement per field a drive description may hold, so every
// field the format accepts is read in one place.
SimDrive readDrive(const Field& f) {
  f.expectObject({"number", "transport", "bridgeSignature", "sctVendorSwitch", "dsmXl", "secondUnit", "busType",
                  "smartDriver", "inquiry", "vpd", "diagnostic", "sat12", "sat16", "atacb", "readCapacityFails",
                  "readCapacity16Fails", "readCapacity16", "memberB", "virtual", "statusInterface", "nvme",
                  "refusedLogs", "queue", "thermal", "security", "sanitize", "nativeSectors", "dcoSectors",
                  "refusesPurge", "scsiSanitize", PALVORO_UNIT_FIELDS});
  SimDrive drive;
  if (!f.has("number")) f.refuse("number is required");
  drive.number = static_cast<int>(f["number"].number(255));
  static const std::map<std::string, Transport> kTransports = {
      {"ata", Transport::Ata},           {"usb-sat", Transport::UsbSat}, {"usb-atacb", Transport::UsbAtacb},
      {"firewire", Transport::FireWire}, {"scsi", Transport::Scsi},      {"raid", Transport::Raid},
      {"optical", Transport::Optical},   {"nvme", Transport::Nvme}};
  const std::string transport = f.has("transport") ? f["transport"].text() : "ata";
  const auto known = kTransports.find(transport);
  if (known == kTransports.end()) {
    f["transport"].refuse("unknown transport \"" + transport +
                          "\" (known: ata, usb-sat, usb-atacb, firewire, scsi, raid, optical, nvme)");
  }
  drive.transport = known->second;
  if (drive.transport == Transport::Nvme && f.has("identity")) refuseAtaFields(f);
  drive.ata.units[0] = readUnit(f);
  if (drive.transport == Transport::Nvme) {
    drive.nvme = readNvme(f, readIdentity(f["identity"]), drive.disk().sectorSize());
  } else if (f.has("nvme")) {
    f["nvme"].refuse("only an nvme drive has an NVMe controller");
  }
  if (f.has("secondUnit")) {
    const Field second = f["secondUnit"];
    second.expectObject({PALVORO_UNIT_FIELDS});
    drive.ata.units[2] = readUnit(second);
  }
  applyTransportDefaults(drive);
  if (f.has("memberB")) {
    if (drive.transport != Transport::Raid) f["memberB"].refuse("only a raid enclosure has a member B");
    const Field member = f["memberB"];
    member.expectObject({PALVORO_UNIT_FIELDS});
    drive.memberB->units.clear();
    drive.memberB->units[0] = readUnit(member);
    refreshRaidMemberPages(drive);
  }
  if (f.has("busType")) drive.busType = static_cast<int>(f["busType"].number(255));
  if (f.has("smartDriver")) {
    const Field d = f["smartDriver"];
    d.expectObject({"present", "rejectsReceive", "failsReturnStatus", "deviceMap"});
    if (d.has("present")) drive.smartDriver.present = d["present"].boolean();
    if (d.has("rejectsReceive")) drive.smartDriver.rejectsReceive = d["rejectsReceive"].boolean();
    if (d.has("failsReturnStatus")) drive.smartDriver.failsReturnStatus = d["failsReturnStatus"].boolean();
    if (d.has("deviceMap")) drive.smartDriver.deviceMap = static_cast<uint8_t>(d["deviceMap"].number(255));
  }
  if (f.has("inquiry")) {
    const Field q = f["inquiry"];
    q.expectObject({"vendor", "product", "revision", "peripheralType", "text", "hex"});
    if (q.has("hex")) {
      drive.scsi.inquiry = readHexBytes(q["hex"]);
    } else {
      std::vector<uint8_t>& data = drive.scsi.inquiry;
      if (data.size() < 96) data.resize(96, 0);
      if (q.has("peripheralType")) data[0] = static_cast<uint8_t>(q["peripheralType"].number(31));
      if (q.has("vendor")) putInquiryText(data, 8, 8, q["vendor"].text(8));
      if (q.has("product")) putInquiryText(data, 16, 16, q["product"].text(16));
      if (q.has("revision")) putInquiryText(data, 32, 4, q["revision"].text(4));
      if (q.has("text")) {
        const Field texts = q["text"];
        if (!texts.raw().is_object()) texts.refuse("expected an object of byte offset to text");
        for (auto it = texts.raw().begin(); it != texts.raw().end(); ++it) {
          const Field t(it.value(), texts.path() + "." + it.key());
          const uint64_t at = Field(json(it.key()), t.path()).number(95);
          const std::string text = t.text(96);
          if (at + text.size() > 96) t.refuse("runs past the 96 bytes of INQUIRY data");
          for (size_t i = 0; i < text.size(); ++i) data[at + i] = static_cast<uint8_t>(text[i]);
        }
      }
    }
  }
  const uint8_t peripheral = drive.scsi.inquiry.empty() ? 0 : static_cast<uint8_t>(drive.scsi.inquiry[0] & 0x1F);
  if (f.has("vpd")) readPages(f["vpd"], drive.scsi.vpd, true, peripheral);
  if (f.has("diagnostic")) readPages(f["diagnostic"], drive.scsi.diagnostic, false, peripheral);
  if (f.has("sat12")) drive.scsi.sat12 = f["sat12"].boolean();
  if (f.has("sat16")) drive.scsi.sat16 = f["sat16"].boolean();
  if (f.has("readCapacityFails")) drive.scsi.readCapacityFails = f["readCapacityFails"].boolean();
  if (f.has("readCapacity16Fails")) drive.scsi.readCapacity16Fails = f["readCapacity16Fails"].boolean();
  if (f.has("readCapacity16")) drive.scsi.readCapacity16 = f["readCapacity16"].boolean();
  if (f.has("atacb")) {
    const Field a = f["atacb"];
    a.expectObject({"capabilitiesFail", "supported", "signatureFails", "signature"});
    drive.scsi.atacb = true;
    if (a.has("capabilitiesFail")) drive.scsi.atacbDriver.capabilitiesFail = a["capabilitiesFail"].boolean();
    if (a.has("supported")) drive.scsi.atacbDriver.supported = a["supported"].boolean();
    if (a.has("signatureFails")) drive.scsi.atacbDriver.signatureFails = a["signatureFails"].boolean();
    if (a.has("signature")) {
      const uint64_t sig = a["signature"].number(0xFFFF);
      drive.scsi.atacbDriver.signature = {static_cast<uint8_t>(sig >> 8), static_cast<uint8_t>(sig & 0xFF)};
    }
  }
  if (f.has("refusedLogs")) {
    const Field list = f["refusedLogs"];
    const bool bridge = drive.transport == Transport::UsbSat || drive.transport == Transport::UsbAtacb ||
                        drive.transport == Transport::FireWire || drive.transport == Transport::Raid;
    if (!bridge) list.refuse("only a bridge (usb-sat, usb-atacb, firewire, raid) refuses logs");
    for (size_t i = 0; i < list.arraySize(); ++i) {
      drive.scsi.refusedLogs.insert(static_cast<uint8_t>(list.at(i).number(255)));
    }
  }
  if (f.has("scsiSanitize")) drive.scsi.sanitize = readScsiSanitize(f["scsiSanitize"]);
  if (f.has("queue")) drive.queue = readQueueModel(f["queue"]);
  if (f.has("thermal")) drive.thermal = readThermal(f["thermal"]);
  if (f.has("virtual")) drive.virtualDisk = f["virtual"].boolean();
  if (f.has("statusInterface")) drive.statusInterface = f["statusInterface"].boolean();
  if (f.has("bridgeSignature")) drive.ata.bridgeSignature = f["bridgeSignature"].boolean();
  if (f.has("sctVendorSwitch")) drive.ata.sctVendorSwitch = f["sctVendorSwitch"].boolean();
  if (f.has("dsmXl")) drive.ata.dsmXl = f["dsmXl"].boolean();
  readPurgeFields(f, drive);
  return drive;
}

SimVolume readVolume(const Field& f) {
  f.expectObject({"letter", "drive", "partition", "start", "sectors", "type", "fileSystem", "label", "openFiles",
                  "sizeBytes", "freeBytes", "mediaPresent"});
  SimVolume v;
  if (!f.has("letter")) f.refuse("letter is required");
  const std::string letter = f["letter"].text(1);
  if (letter.size() != 1 || letter[0] < 'A' || letter[0] > 'Z') f["letter"].refuse("one capital letter A..Z");
  v.letter = letter[0];
  v.drive = f.has("drive") ? static_cast<int>(f["drive"].number(255)) : -1;
  if (f.has("partition")) v.partitionNumber = static_cast<uint32_t>(f["partition"].number(4));
  if (v.drive >= 0 && v.partitionNumber == 0) f["partition"].refuse("partitions are numbered 1 to 4");
  if (f.has("start")) v.startSector = f["start"].number(0xFFFFFFFF);
  if (f.has("sectors")) v.sectorCount = f["sectors"].number(0xFFFFFFFF);
  const std::string type = f.has("type") ? f["type"].text() : "fixed";
  if (type == "fixed") v.driveType = 3;
  else if (type == "removable") v.driveType = 2;
  else if (type == "network") v.driveType = 4;
  else if (type == "cdrom") v.driveType = 5;
  else if (type == "ramdisk") v.driveType = 6;
  else f["type"].refuse("unknown type \"" + type + "\" (fixed, removable, network, cdrom, ramdisk)");
  if (f.has("fileSystem")) v.fileSystem = f["fileSystem"].text(32);
  if (f.has("label")) v.label = f["label"].text(32);
  if (f.has("openFiles")) v.openFiles = static_cast<int>(f["openFiles"].number(1000000));
  if (f.has("sizeBytes")) v.sizeBytes = f["sizeBytes"].number();
  if (f.has("freeBytes")) v.freeBytes = f["freeBytes"].number();
  if (f.has("mediaPresent")) v.mediaPresent = f["mediaPresent"].boolean();
  return v;
}

SimMachine readMachine(const json& doc) {
  const Field root(doc, "machine");
  root.expectObject({"name", "os", "administrator", "windowsDirectory", "drives", "volumes", "windows"});
  SimMachine m;
  if (root.has("name")) m.name = root["name"].text(64);
  if (root.has("os")) {
    const Field os = root["os"];
    os.expectObject({"major", "minor"});
    if (os.has("major")) m.osMajor = static_cast<uint32_t>(os["major"].number(255));
    if (os.has("minor")) m.osMinor = static_cast<uint32_t>(os["minor"].number(255));
  }
  if (root.has("administrator")) m.administrator = root["administrator"].boolean();
  if (root.has("windowsDirectory")) {
    m.windowsDirectory = root["windowsDirectory"].text(200);
    if (m.windowsDirectory.size() < 2 || m.windowsDirectory[1] != ':') {
      root["windowsDirectory"].refuse("must begin with a drive letter and a colon");
    }
  }
  if (root.has("drives")) {
    const Field drives = root["drives"];
    for (size_t i = 0; i < drives.arraySize(); ++i) {
      SimDrive d = readDrive(drives.at(i));
      if (m.findDrive(d.number) != nullptr) drives.at(i).refuseAt("number", "drive number used twice");
      m.drives.push_back(std::move(d));
    }
  }
  if (root.has("volumes")) {
    const Field volumes = root["volumes"];
    for (size_t i = 0; i < volumes.arraySize(); ++i) {
      SimVolume v = readVolume(volumes.at(i));
      const Field f = volumes.at(i);
      if (m.findVolume(v.letter) != nullptr) f.refuseAt("letter", "letter used twice");
      if (v.drive >= 0) {
        SimDrive* d = m.findDrive(v.drive);
        if (d == nullptr) f.refuseAt("drive", "no drive with that number");
        const uint64_t driveSectors = d->ata.units.at(0).media.sectorCount();
        if (v.startSector == 0 || v.sectorCount == 0 || v.startSector >= driveSectors ||
            v.sectorCount > driveSectors - v.startSector) {
          f.refuse("start and sectors must lie on the drive, after sector 0");
        }
        for (const SimVolume& other : m.volumes) {
          if (other.drive == v.drive && other.partitionNumber == v.partitionNumber) {
            f.refuseAt("partition", "partition number used twice on the drive");
          }
        }
      }
      m.volumes.push_back(v);
    }
  }
  if (root.has("windows")) {
    const Field windows = root["windows"];
    for (size_t i = 0; i < windows.arraySize(); ++i) {
      const Field w = windows.at(i);
      w.expectObject({"title", "visible", "style"});
      TopLevelWindow window;
      if (w.has("title")) window.title = w["title"].text(1024);
      if (w.has("visible")) window.visible = w["visible"].boolean();
      if (w.has("style")) window.style = static_cast<uint32_t>(w["style"].number(0xFFFFFFFF));
      m.windows.push_back(window);
    }
  }
  return m;
}

}  // namespace

SimMachine loadMachine(const std::string& text) {
  json doc;
  try {
    doc = json::parse(text);
  } catch (const json::exception& e) {
    // Not only syntax: a number too large for a double is the library's out-of-range error.
    throw MachineDescriptionError(std::string("machine description is not valid JSON: ") + e.what());
  }
  try {
    return readMachine(doc);
  } catch (const json::exception& e) {
    // Every field is looked at through a check that refuses in its own words; this is the
    // net under them, so that no description can end a program with the library's error.
    throw MachineDescriptionError(std::string("machine description: ") + e.what());
  }
}

}  // namespace palvoro::sim
