// The system commands: the metrics panel (once, or redrawn every second as top does), the
// installed applications, and the start of one application's uninstaller after a question.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <iomanip>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/commands/command_support.h"
#include "cli/commands/command_table.h"
#include "cli/common/human_readable.h"
#include "cli/common/json.h"

namespace pel_mora::cli {

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

// Readers of reply fields that never fail: a host that sends a field of another type (or none)
// gets a panel with a blank instead of a client that stops.
const EncodableValue* Field(const EncodableMap& map, const char* key) {
  const auto found = map.find(EncodableValue(key));
  return found == map.end() ? nullptr : &found->second;
}

const EncodableMap& MapField(const EncodableMap& map, const char* key) {
  static const EncodableMap empty;
  const EncodableValue* value = Field(map, key);
  const auto* inner = value == nullptr ? nullptr : std::get_if<EncodableMap>(value);
  return inner != nullptr ? *inner : empty;
}

const EncodableList& ListField(const EncodableMap& map, const char* key) {
  static const EncodableList empty;
  const EncodableValue* value = Field(map, key);
  const auto* inner = value == nullptr ? nullptr : std::get_if<EncodableList>(value);
  return inner != nullptr ? *inner : empty;
}

int64_t IntegerField(const EncodableMap& map, const char* key) {
  const EncodableValue* value = Field(map, key);
  if (value != nullptr && (std::holds_alternative<int32_t>(*value) || std::holds_alternative<int64_t>(*value))) {
    return value->LongValue();
  }
  return 0;
}

double NumberField(const EncodableMap& map, const char* key) {
  const EncodableValue* value = Field(map, key);
  if (value != nullptr && std::holds_alternative<double>(*value)) {
    return std::get<double>(*value);
  }
  return static_cast<double>(IntegerField(map, key));
}

std::string TextField(const EncodableMap& map, const char* key) {
  const EncodableValue* value = Field(map, key);
  const auto* text = value == nullptr ? nullptr : std::get_if<std::string>(value);
  return text != nullptr ? *text : std::string();
}

bool FlagField(const EncodableMap& map, const char* key) {
  const EncodableValue* value = Field(map, key);
  const auto* flag = value == nullptr ? nullptr : std::get_if<bool>(value);
  return flag != nullptr && *flag;
}

// ---------------------------------------------------------------------------------------------
// metrics

constexpr int kBarWidth = 20;

std::string Percent(double percent) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(1) << percent << " %";
  return text.str();
}

// "[#########...........]  45.0 %", the percentage clamped to 0..100 for the bar only.
std::string Bar(double percent) {
  const double clamped = std::isfinite(percent) ? std::clamp(percent, 0.0, 100.0) : 0.0;
  const int filled = static_cast<int>(std::lround(clamped * kBarWidth / 100.0));
  // Appended piece by piece: GCC 12 reports a false overlap (-Wrestrict) for a chain of +.
  std::string bar = "[";
  bar.append(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kBarWidth - filled), '.');
  bar.append("] ");
  const std::string shown = Percent(percent);
  if (shown.size() < 7) {
    bar.append(7 - shown.size(), ' ');
  }
  bar.append(shown);
  return bar;
}

std::string Rate(int64_t bytes_per_second) {
  return FormatSize(bytes_per_second) + "/s";
}

// Link speeds are decimal bits per second, as network hardware states them.
std::string LinkSpeed(int64_t bits_per_second) {
  if (bits_per_second <= 0) {
    return "speed unknown";
  }
  struct Unit {
    double size;
    const char* name;
  };
  for (const Unit& unit : {Unit{1e9, "Gbit/s"}, Unit{1e6, "Mbit/s"}, Unit{1e3, "kbit/s"}}) {
    if (static_cast<double>(bits_per_second) >= unit.size) {
      std::ostringstream text;
      const double value = static_cast<double>(bits_per_second) / unit.size;
      text << std::setprecision(value < 10 ? 2 : 4) << value << ' ' << unit.name;
      return text.str();
    }
  }
  return std::to_string(bits_per_second) + " bit/s";
}

double Share(int64_t part, int64_t whole) {
  return whole > 0 ? static_cast<double>(part) * 100.0 / static_cast<double>(whole) : 0.0;
}

std::string Label(const char* label) {
  std::string text = label;
  if (text.size() < 12) {
    text.append(12 - text.size(), ' ');
  }
  return text;
}

std::string FormatMetricsPanel(const EncodableMap& metrics) {
  std::ostringstream panel;
  const EncodableMap& cpu = MapField(metrics, "cpu");
  panel << Label("Processor") << TextField(cpu, "brandName") << ", " << IntegerField(cpu, "logicalCores")
        << " logical cores\n";
  panel << Label("  load") << Bar(NumberField(cpu, "usagePercent")) << '\n';
  panel << Label("  tasks") << FormatCount(IntegerField(cpu, "processCount")) << " processes, "
        << FormatCount(IntegerField(cpu, "threadCount")) << " threads, up "
        << FormatDuration(IntegerField(cpu, "uptimeSeconds") * 1000) << '\n';

  const EncodableMap& memory = MapField(metrics, "memory");
  panel << Label("Memory") << Bar(NumberField(memory, "usagePercent")) << "  "
        << FormatSize(IntegerField(memory, "usedPhysicalBytes")) << " of "
        << FormatSize(IntegerField(memory, "totalPhysicalBytes")) << " used, "
        << FormatSize(IntegerField(memory, "freePhysicalBytes")) << " free\n";
  const int64_t page_total = IntegerField(memory, "totalPageFileBytes");
  const int64_t page_used = IntegerField(memory, "usedPageFileBytes");
  panel << Label("Page file") << Bar(Share(page_used, page_total)) << "  " << FormatSize(page_used) << " of "
        << FormatSize(page_total) << " used\n";

  const EncodableMap& battery = MapField(metrics, "battery");
  panel << Label("Battery");
  if (!FlagField(battery, "hasBattery")) {
    panel << TextField(battery, "batteryStatus") << ", " << TextField(battery, "powerSource") << '\n';
  } else {
    const int64_t percent = IntegerField(battery, "batteryPercent");
    panel << (percent >= 0 ? std::to_string(percent) + " %" : std::string("charge unknown")) << ", "
          << TextField(battery, "batteryStatus") << ", " << TextField(battery, "powerSource");
    const int64_t remaining = IntegerField(battery, "batteryLifeRemainingSec");
    if (remaining >= 0) {
      panel << ", " << FormatDuration(remaining * 1000) << " left";
    }
    if (FlagField(battery, "isBatterySaver")) {
      panel << ", battery saver on";
    }
    panel << '\n';
  }

  const EncodableMap& network = MapField(metrics, "network");
  panel << Label("Network") << "down " << Rate(IntegerField(network, "downloadSpeedBps")) << ", up "
        << Rate(IntegerField(network, "uploadSpeedBps")) << " (received "
        << FormatSize(IntegerField(network, "totalBytesReceived")) << ", sent "
        << FormatSize(IntegerField(network, "totalBytesSent")) << ")\n";
  for (const EncodableValue& item : ListField(network, "adapters")) {
    const auto* adapter = std::get_if<EncodableMap>(&item);
    if (adapter == nullptr) {
      continue;
    }
    panel << "  " << TextField(*adapter, "alias") << " (" << TextField(*adapter, "type") << ", "
          << TextField(*adapter, "name") << "): " << TextField(*adapter, "status") << ", "
          << LinkSpeed(IntegerField(*adapter, "linkSpeedBps"));
    const std::string ipv4 = TextField(*adapter, "ipv4");
    if (!ipv4.empty()) {
      panel << ", " << ipv4;
    }
    const std::string mac = TextField(*adapter, "mac");
    if (!mac.empty()) {
      panel << ", " << mac;
    }
    panel << "\n    down " << Rate(IntegerField(*adapter, "downloadSpeedBps")) << ", up "
          << Rate(IntegerField(*adapter, "uploadSpeedBps")) << " (received "
          << FormatSize(IntegerField(*adapter, "bytesReceived")) << ", sent "
          << FormatSize(IntegerField(*adapter, "bytesSent")) << ")\n";
  }

  const EncodableMap& os = MapField(metrics, "os");
  panel << Label("System") << TextField(os, "osName");
  const std::string version = TextField(os, "osVersion");
  if (!version.empty()) {
    panel << ' ' << version;
  }
  const std::string build = TextField(os, "buildNumber");
  if (!build.empty()) {
    panel << " (build " << build << ')';
  }
  panel << ", " << TextField(os, "architecture") << '\n';
  panel << Label("  computer") << TextField(os, "computerName") << ", user " << TextField(os, "userName") << '\n';
  return panel.str();
}

// Moves the cursor home and clears the screen, so each frame replaces the last one.
constexpr char kClearScreen[] = "\x1b[H\x1b[2J";

bool Interrupted(const CliEnvironment& environment) {
  return environment.interrupt_count && environment.interrupt_count() > 0;
}

int RunMetrics(HostSession& session, const CliOptions& options, const CliEnvironment& environment) {
  const bool watch = options.HasCommandOption("watch");
  for (;;) {
    const Reply reply = session.Call("getSystemMetrics", nullptr);
    if (reply.kind != ReplyKind::kSuccess) {
      environment.out->flush();
      return ReportUnsuccessfulReply(*environment.err, "getSystemMetrics", reply);
    }
    const auto* metrics = std::get_if<EncodableMap>(&reply.value);
    if (metrics == nullptr) {
      *environment.err << "pelmora-cli: the reply to \"getSystemMetrics\" is not a map: "
                       << FormatJson(reply.value, JsonLayout::kCompact) << '\n';
      return kExitUsage;
    }
    if (options.HasCommandOption("json")) {
      *environment.out << FormatJson(reply.value, watch ? JsonLayout::kCompact : JsonLayout::kIndented) << '\n';
    } else {
      *environment.out << (watch ? kClearScreen : "") << FormatMetricsPanel(*metrics);
    }
    environment.out->flush();
    if (!watch) {
      return kExitSuccess;
    }
    // One second between frames, in short steps so Ctrl-C ends the watch at once.
    const auto next_frame = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (std::chrono::steady_clock::now() < next_frame) {
      if (Interrupted(environment)) {
        throw InterruptedError();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
}

// ---------------------------------------------------------------------------------------------
// apps and uninstall

struct InstalledApp {
  std::string name;
  std::string version;
  std::string publisher;
  std::string uninstall_command;
  int64_t size_bytes = 0;
  EncodableValue record;
};

// Letters A to Z folded to lower case; other bytes, UTF-8 included, compare as they are.
std::string FoldCase(std::string text) {
  for (char& character : text) {
    if (character >= 'A' && character <= 'Z') {
      character = static_cast<char>(character - 'A' + 'a');
    }
  }
  return text;
}

// The applications of the reply sorted by name (case folded, then as sent), or an error status.
int ReadInstalledApps(HostSession& session, const CliEnvironment& environment, std::vector<InstalledApp>& apps) {
  const Reply reply = session.Call("getInstalledApps", nullptr);
  if (reply.kind != ReplyKind::kSuccess) {
    environment.out->flush();
    return ReportUnsuccessfulReply(*environment.err, "getInstalledApps", reply);
  }
  const auto* list = std::get_if<EncodableList>(&reply.value);
  if (list == nullptr) {
    *environment.err << "pelmora-cli: the reply to \"getInstalledApps\" is not a list: "
                     << FormatJson(reply.value, JsonLayout::kCompact) << '\n';
    return kExitUsage;
  }
  for (const EncodableValue& item : *list) {
    const auto* entry = std::get_if<EncodableMap>(&item);
    if (entry == nullptr) {
      continue;
    }
    apps.push_back(InstalledApp{TextField(*entry, "displayName"), TextField(*entry, "displayVersion"),
                                TextField(*entry, "publisher"), TextField(*entry, "uninstallString"),
                                IntegerField(*entry, "estimatedSizeBytes"), item});
  }
  std::stable_sort(apps.begin(), apps.end(), [](const InstalledApp& left, const InstalledApp& right) {
    const std::string left_folded = FoldCase(left.name);
    const std::string right_folded = FoldCase(right.name);
    return left_folded != right_folded ? left_folded < right_folded : left.name < right.name;
  });
  return kExitSuccess;
}

// Characters a terminal shows for UTF-8 text: every byte that does not continue a sequence.
size_t DisplayWidth(const std::string& text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
  }));
}

// `text` cut to `width` shown characters (the last one an ellipsis when cut), then padded.
std::string Column(const std::string& text, size_t width) {
  if (DisplayWidth(text) <= width) {
    return text + std::string(width - DisplayWidth(text), ' ');
  }
  std::string cut;
  size_t shown = 0;
  for (const char byte : text) {
    const bool starts_character = (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
    if (starts_character && ++shown > width - 1) {
      break;
    }
    cut += byte;
  }
  return cut + "\xE2\x80\xA6";
}

std::string FormatAppTable(const std::vector<InstalledApp>& apps) {
  size_t name_width = 4;
  size_t version_width = 7;
  size_t publisher_width = 9;
  for (const InstalledApp& app : apps) {
    name_width = std::max(name_width, std::min<size_t>(DisplayWidth(app.name), 48));
    version_width = std::max(version_width, std::min<size_t>(DisplayWidth(app.version), 20));
    publisher_width = std::max(publisher_width, std::min<size_t>(DisplayWidth(app.publisher), 32));
  }
  std::ostringstream table;
  table << Column("Name", name_width) << "  " << Column("Version", version_width) << "  "
        << Column("Publisher", publisher_width) << "  " << std::setw(10) << "Size" << '\n';
  int64_t total = 0;
  for (const InstalledApp& app : apps) {
    total += app.size_bytes;
    table << Column(app.name, name_width) << "  " << Column(app.version, version_width) << "  "
          << Column(app.publisher, publisher_width) << "  " << std::setw(10)
          << (app.size_bytes > 0 ? FormatSize(app.size_bytes) : std::string("-")) << '\n';
  }
  table << FormatCount(static_cast<int64_t>(apps.size())) << (apps.size() == 1 ? " application" : " applications")
        << ", " << FormatSize(total) << " as estimated by their installers\n";
  return table.str();
}

int RunApps(HostSession& session, const CliOptions& options, const CliEnvironment& environment) {
  std::vector<InstalledApp> apps;
  if (const int status = ReadInstalledApps(session, environment, apps); status != kExitSuccess) {
    return status;
  }
  if (!options.operands.empty()) {
    const std::string filter = FoldCase(options.operands[0]);
    apps.erase(std::remove_if(apps.begin(), apps.end(),
                              [&filter](const InstalledApp& app) {
                                return FoldCase(app.name).find(filter) == std::string::npos &&
                                       FoldCase(app.publisher).find(filter) == std::string::npos;
                              }),
               apps.end());
  }
  if (options.HasCommandOption("json")) {
    EncodableList records;
    for (const InstalledApp& app : apps) {
      records.push_back(app.record);
    }
    *environment.out << FormatJson(EncodableValue(std::move(records)), JsonLayout::kIndented) << '\n';
  } else {
    *environment.out << FormatAppTable(apps);
  }
  environment.out->flush();
  return kExitSuccess;
}

// The one entry `name` means: the entries named exactly so (case folded), else those whose name
// contains it. Entries alike in name and command (one application registered in both views of
// the registry) count as one.
std::vector<InstalledApp> Candidates(const std::vector<InstalledApp>& apps, const std::string& name) {
  const std::string wanted = FoldCase(name);
  std::vector<InstalledApp> exact;
  std::vector<InstalledApp> partial;
  for (const InstalledApp& app : apps) {
    const std::string folded = FoldCase(app.name);
    if (folded == wanted) {
      exact.push_back(app);
    } else if (folded.find(wanted) != std::string::npos) {
      partial.push_back(app);
    }
  }
  std::vector<InstalledApp> candidates = exact.empty() ? partial : exact;
  std::vector<InstalledApp> distinct;
  for (const InstalledApp& app : candidates) {
    const bool seen = std::any_of(distinct.begin(), distinct.end(), [&app](const InstalledApp& other) {
      return other.name == app.name && other.uninstall_command == app.uninstall_command;
    });
    if (!seen) {
      distinct.push_back(app);
    }
  }
  return distinct;
}

int RunUninstall(HostSession& session, const CliOptions& options, const CliEnvironment& environment) {
  std::vector<InstalledApp> apps;
  if (const int status = ReadInstalledApps(session, environment, apps); status != kExitSuccess) {
    return status;
  }
  const std::string& name = options.operands[0];
  const std::vector<InstalledApp> candidates = Candidates(apps, name);
  if (candidates.empty()) {
    *environment.err << "pelmora-cli: no installed application is called \"" << name
                     << "\" (see pelmora-cli apps)\n";
    return kExitFailure;
  }
  if (candidates.size() > 1) {
    *environment.err << "pelmora-cli: \"" << name << "\" names " << candidates.size()
                     << " applications; give the whole name of one:\n";
    for (const InstalledApp& app : candidates) {
      *environment.err << "  " << app.name << (app.version.empty() ? "" : " " + app.version) << '\n';
    }
    return kExitUsage;
  }
  const InstalledApp& app = candidates.front();
  *environment.out << app.name << (app.version.empty() ? "" : " " + app.version)
                   << (app.publisher.empty() ? "" : " (" + app.publisher + ")") << '\n'
                   << "  uninstall command: " << app.uninstall_command << '\n'
                   << std::flush;
  if (ConfirmDeletion(options, environment, "Start the uninstaller of " + app.name + "?") ==
      Confirmation::kDeclined) {
    *environment.out << "Nothing was started.\n";
    return kExitFailure;
  }
  const EncodableValue arguments(EncodableMap{{EncodableValue("command"), EncodableValue(app.uninstall_command)}});
  const Reply reply = session.Call("launchUninstaller", &arguments);
  if (reply.kind != ReplyKind::kSuccess) {
    return ReportUnsuccessfulReply(*environment.err, "launchUninstaller", reply);
  }
  const auto* started = std::get_if<bool>(&reply.value);
  if (started == nullptr || !*started) {
    *environment.err << "pelmora-cli: the uninstaller of " << app.name << " could not be started\n";
    return kExitFailure;
  }
  *environment.out << "The uninstaller of " << app.name << " was started; it continues on its own.\n";
  return kExitSuccess;
}

SessionCommand PrepareMetrics(const CliOptions& options, const CliEnvironment& environment) {
  RequireOperandCount(options, 0, 0, "metrics [--watch] [--json]");
  return [&options, &environment](HostSession& session) { return RunMetrics(session, options, environment); };
}

SessionCommand PrepareApps(const CliOptions& options, const CliEnvironment& environment) {
  RequireOperandCount(options, 0, 1, "apps [FILTER] [--json]");
  return [&options, &environment](HostSession& session) { return RunApps(session, options, environment); };
}

SessionCommand PrepareUninstall(const CliOptions& options, const CliEnvironment& environment) {
  RequireOperandCount(options, 1, 1, "uninstall NAME [--yes]");
  if (options.operands[0].empty()) {
    throw UsageError("usage: pelmora-cli uninstall NAME [--yes] (NAME may not be empty)");
  }
  return [&options, &environment](HostSession& session) { return RunUninstall(session, options, environment); };
}

}  // namespace

std::vector<CommandDefinition> SystemCommands() {
  return {
      {"metrics",
       "  metrics [--watch]    processor load, memory and page file, battery, network adapters and\n"
       "                       the operating system; --watch redraws it every second until Ctrl-C\n",
       {"watch", "json"},
       PrepareMetrics},
      {"apps",
       "  apps [FILTER]        installed applications sorted by name, with version, publisher and\n"
       "                       size; FILTER keeps those whose name or publisher contains it (--json)\n",
       {"json"},
       PrepareApps},
      {"uninstall",
       "  uninstall NAME       show the uninstall command of one application and start it after\n"
       "                       asking (--yes: without asking)\n",
       {"yes"},
       PrepareUninstall},
  };
}

}  // namespace pel_mora::cli
