#include "cli/common/cli_options.h"

#include <charconv>

namespace pel_mora::cli {

namespace {

std::optional<uint16_t> ParsePort(const std::string& text) {
  unsigned value = 0;
  const char* first = text.data();
  const char* last = text.data() + text.size();
  const auto [end, error] = std::from_chars(first, last, value);
  if (text.empty() || error != std::errc() || end != last || value < 1 || value > 65535) {
    return std::nullopt;
  }
  return static_cast<uint16_t>(value);
}

enum class OptionValue { kNone, kRequired };

// Options that only some commands take. Their values are checked by the commands themselves.
struct CommandOptionDefinition {
  std::string_view name;
  OptionValue value;
};
constexpr CommandOptionDefinition kCommandOptions[] = {
    {"json", OptionValue::kNone},      // print the reply as JSON, for scripts
    {"yes", OptionValue::kNone},       // delete without asking
    {"drive", OptionValue::kRequired},  // clean: the drive whose categories are cleaned
    {"empty", OptionValue::kNone},     // bin: empty the Recycle Bin
    {"ext", OptionValue::kRequired},   // search: extension list
    {"min", OptionValue::kRequired},   // search: smallest size
    {"max", OptionValue::kRequired},   // search: largest size
    {"limit", OptionValue::kRequired},  // search: most results
    {"watch", OptionValue::kNone},     // metrics: redraw every second
    {"save", OptionValue::kRequired},   // scan: write the whole scan to a file
    {"load", OptionValue::kRequired},   // browse: a scan saved with scan --save
};

}  // namespace

std::optional<std::string> CliOptions::CommandOptionValue(const std::string& name) const {
  const auto found = command_options.find(name);
  if (found == command_options.end()) {
    return std::nullopt;
  }
  return found->second;
}

CliOptionsResult ParseCliOptions(const std::vector<std::string>& arguments) {
  CliOptionsResult result;
  CliOptions& options = result.options;
  std::vector<std::string> positional;
  bool options_ended = false;
  for (size_t index = 0; index < arguments.size(); ++index) {
    const std::string& argument = arguments[index];
    // Only "--" words are options, so a JSON operand such as -1 or "-" text stays an operand.
    if (options_ended || argument.rfind("--", 0) != 0) {
      if (argument == "-h" && !options_ended) {
        options.help = true;
        continue;
      }
      positional.push_back(argument);
      continue;
    }
    if (argument == "--") {
      options_ended = true;
      continue;
    }
    const size_t equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    const bool has_inline_value = equals != std::string::npos;
    const auto take_value = [&](std::string* value) {
      if (has_inline_value) {
        *value = argument.substr(equals + 1);
        return true;
      }
      if (index + 1 >= arguments.size()) {
        result.error = "option " + name + " needs a value";
        return false;
      }
      *value = arguments[++index];
      return true;
    };
    const auto no_value = [&] {
      if (has_inline_value) {
        result.error = "option " + name + " takes no value";
        return false;
      }
      return true;
    };
    if (name == "--port") {
      std::string value;
      if (!take_value(&value)) {
        return result;
      }
      options.port = ParsePort(value);
      if (!options.port) {
        result.error = "--port needs a port number from 1 to 65535, not \"" + value + "\"";
        return result;
      }
    } else if (name == "--host") {
      if (!take_value(&options.host_path)) {
        return result;
      }
      if (options.host_path.empty()) {
        result.error = "--host needs the path of pelmora.exe";
        return result;
      }
    } else if (name == "--display") {
      if (!no_value()) {
        return result;
      }
      options.display = DisplayMode::kRealDisplay;
    } else if (name == "--raw") {
      if (!no_value()) {
        return result;
      }
      options.raw = true;
    } else if (name == "--report") {
      if (!take_value(&options.report_path)) {
        return result;
      }
      if (options.report_path.empty()) {
        result.error = "--report needs the path of the HTML file to write";
        return result;
      }
    } else if (name == "--version") {
      if (!no_value()) {
        return result;
      }
      options.version = true;
    } else if (name == "--help") {
      if (!no_value()) {
        return result;
      }
      options.help = true;
    } else {
      const std::string bare_name = name.substr(2);
      const CommandOptionDefinition* definition = nullptr;
      for (const CommandOptionDefinition& candidate : kCommandOptions) {
        if (candidate.name == bare_name) {
          definition = &candidate;
        }
      }
      if (definition == nullptr) {
        result.error = "unknown option " + name;
        return result;
      }
      std::string value;
      if (definition->value == OptionValue::kRequired ? !take_value(&value) : !no_value()) {
        return result;
      }
      options.command_options[bare_name] = value;
    }
  }
  if (!positional.empty()) {
    options.command = positional.front();
    options.operands.assign(positional.begin() + 1, positional.end());
  }
  if (options.command == "help") {
    options.help = true;
  }
  return result;
}

std::string UsageText(std::string_view family_commands) {
  std::string text = R"(Usage: pelmora-cli [OPTIONS] COMMAND [ARGUMENTS]

Talks to the Pelmora host (pelmora.exe) over its interface bridge. By default it starts the
host under Wine, with Wine settings of its own, and closes it when the command is done.

Commands:
  call METHOD [JSON]   call METHOD on "com.pelmora.app/native" with the JSON value as its
                       arguments, and print the reply as JSON
  drives               list the drives: letter, type, label, file system, used, free, total;
                       --json for the reply
  scan LETTER|FOLDER   scan a whole drive (a Linux folder: through a drive letter lent for the
                       command) with live progress, then print the totals and the 20 largest
                       folders and files; Ctrl-C cancels and shows the partial result; --json
                       prints them as JSON; --save FILE.json also writes every entry, for
                       report and browse --load
  map LETTER FOLDER    give a Linux folder a drive letter in the client's Wine settings
  map                  list the drive letters of the client's Wine settings
  maps                 the same list
  unmap LETTER         remove a drive letter made with map (never C: or Z:)
)";
  text.append(family_commands);
  text.append(R"(  help [COMMAND]       show this text, or only COMMAND's lines (also: COMMAND --help)

Options:
  --port N      use the host already listening on 127.0.0.1:N instead of starting one
  --host PATH   the pelmora.exe to start (default: build/windows/runner/pelmora.exe of the
                build this client belongs to)
  --display     give the host the real display instead of Wine's null graphics driver
  --version     print the client's version
  --raw         with call and drives: also print the reply's bytes in hexadecimal
  --report FILE with scan: also write FILE, an HTML page with a treemap of the drive, the
                largest folders and files and a table of extensions
  --json        with the commands that mention it: print the reply as JSON, for scripts
  --yes         with the commands that delete: do not ask first (required when standard
                input is not a terminal)

JSON numbers: integers that fit 32 bits are sent as int32, larger ones as int64, others as
double. Quote the JSON for the shell: pelmora-cli call startScan '{"driveLetter": "C"}'

Exit status: 0 success; 1 an error reply, a method the host does not implement, or a drive
that cannot be read; 2 a usage or connection error, or a host that did not start;
130 interrupted (a scan cancelled with Ctrl-C).
)");
  return text;
}

}  // namespace pel_mora::cli
