// verify, open, reveal, pick and secret: the shell actions, the signature check and the
// protected key store, one method call each.

#include <iostream>
#include <iterator>
#include <optional>
#include <string>

#include "cli/commands/command_support.h"
#include "cli/commands/command_table.h"
#include "cli/common/json.h"
#include "cli/connection/host_platform.h"
#include "cli/terminal/hidden_input.h"

namespace pel_mora::cli {
namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;

EncodableValue MapOf(std::initializer_list<std::pair<const char*, std::string>> entries) {
  EncodableMap map;
  for (const auto& [key, value] : entries) {
    map[EncodableValue(key)] = EncodableValue(value);
  }
  return EncodableValue(map);
}

// Calls `method`; an unsuccessful reply is reported and its exit status returned, a success
// gives its value.
struct CallOutcome {
  std::optional<EncodableValue> value;
  int status = kExitSuccess;
};

CallOutcome CallMethod(HostSession& session, const CliEnvironment& environment, const std::string& method,
                       const EncodableValue& arguments) {
  const Reply reply = session.Call(method, &arguments);
  const int status = ReportUnsuccessfulReply(*environment.err, method, reply);
  if (status != kExitSuccess) {
    return {std::nullopt, status};
  }
  return {reply.value, kExitSuccess};
}

void PrintJson(const CliEnvironment& environment, const EncodableValue& value) {
  *environment.out << FormatJson(value, JsonLayout::kCompact) << '\n';
}

// A reply that is not of the type the method promises, so nothing can be said about it.
int ReportUnexpectedReply(const CliEnvironment& environment, const std::string& method, const EncodableValue& value) {
  *environment.err << "pelmora-cli: unexpected reply to \"" << method
                   << "\": " << FormatJson(value, JsonLayout::kCompact) << '\n';
  return kExitFailure;
}

// --- verify ---------------------------------------------------------------------------------

SessionCommand PrepareVerify(const CliOptions& options, const CliEnvironment& environment) {
  RequireOperandCount(options, 1, 1, "verify FILE");
  const std::string operand = options.operands[0];
  CommandPath resolved = ResolveExistingPath(operand, options, environment);
  return [operand, resolved = std::move(resolved), &options, &environment](HostSession& session) -> int {
    const std::string& path = resolved.host_path;
    if (const int refused = RefuseIfLetterChanged(resolved.loan.get(), "nothing was verified", *environment.err);
        refused != kExitSuccess) {
      return refused;
    }
    const CallOutcome outcome = CallMethod(session, environment, "verifyAuthenticode", MapOf({{"path", path}}));
    if (!outcome.value) {
      return outcome.status;
    }
    const bool* verified = std::get_if<bool>(&*outcome.value);
    if (verified == nullptr) {
      return ReportUnexpectedReply(environment, "verifyAuthenticode", *outcome.value);
    }
    if (options.HasCommandOption("json")) {
      PrintJson(environment, EncodableValue(EncodableMap{{EncodableValue("path"), EncodableValue(path)},
                                                         {EncodableValue("verified"), EncodableValue(*verified)}}));
    } else if (*verified) {
      *environment.out << operand << ": signature verified\n";
    } else {
      *environment.out << operand << ": no valid signature (unsigned, altered, untrusted or unreadable)\n";
    }
    // Like a test command: scripts can branch on the status alone.
    return *verified ? kExitSuccess : kExitFailure;
  };
}

// --- open and reveal ------------------------------------------------------------------------

SessionCommand PrepareOpen(const CliOptions& options, const CliEnvironment& environment) {
  RequireOperandCount(options, 1, 1, "open PATH");
  RequireVisibleHost("open", options, environment);
  CommandPath resolved = ResolveExistingPath(options.operands[0], options, environment);
  return [resolved = std::move(resolved), &environment](HostSession& session) {
    const std::string& path = resolved.host_path;
    if (const int refused = RefuseIfLetterChanged(resolved.loan.get(), "nothing was opened", *environment.err);
        refused != kExitSuccess) {
      return refused;
    }
    const CallOutcome outcome = CallMethod(session, environment, "openFile", MapOf({{"path", path}}));
    if (outcome.value) {
      *environment.out << "Opened " << path << " with its application\n";
    }
    return outcome.status;
  };
}

SessionCommand PrepareReveal(const CliOptions& options, const CliEnvironment& environment) {
  RequireOperandCount(options, 1, 1, "reveal PATH");
  RequireVisibleHost("reveal", options, environment);
  CommandPath resolved = ResolveExistingPath(options.operands[0], options, environment);
  return [resolved = std::move(resolved), &environment](HostSession& session) {
    const std::string& path = resolved.host_path;
    if (const int refused = RefuseIfLetterChanged(resolved.loan.get(), "Explorer was not asked", *environment.err);
        refused != kExitSuccess) {
      return refused;
    }
    const CallOutcome outcome = CallMethod(session, environment, "openInExplorer", MapOf({{"path", path}}));
    if (outcome.value) {
      // The host cannot tell whether Explorer really appeared, so this says what was asked.
      *environment.out << "Asked Explorer to show " << path << '\n';
    }
    return outcome.status;
  };
}

// --- pick -----------------------------------------------------------------------------------

SessionCommand PreparePick(const CliOptions& options, const CliEnvironment& environment) {
  RequireOperandCount(options, 0, 0, "pick");
  RequireVisibleHost("pick", options, environment);
  return [&options, &environment](HostSession& session) -> int {
    *environment.err << "Waiting for a folder to be chosen in the host's dialog (Ctrl-C gives up)...\n";
    const Reply reply = session.Call("pickFolder", nullptr);
    if (const int status = ReportUnsuccessfulReply(*environment.err, "pickFolder", reply); status != kExitSuccess) {
      return status;
    }
    const std::string* folder = std::get_if<std::string>(&reply.value);
    if (folder == nullptr && !reply.value.IsNull()) {
      return ReportUnexpectedReply(environment, "pickFolder", reply.value);
    }
    if (options.HasCommandOption("json")) {
      PrintJson(environment, reply.value);
    } else if (folder != nullptr) {
      *environment.out << *folder << '\n';
    }
    if (folder == nullptr) {
      *environment.err << "No folder chosen (the dialog was cancelled)\n";
    }
    return folder != nullptr ? kExitSuccess : kExitFailure;
  };
}

// --- secret ---------------------------------------------------------------------------------

constexpr char kSecretSynopsis[] = "secret set KEY [VALUE] | secret get KEY | secret rm KEY";

// The value of "secret set" when the command line has none. From a terminal: one line, typed
// without echo. From a pipe or file: everything, less one final line break, so
// `printf 'x' | ...` and `echo x | ...` store the same "x".
std::string ReadSecretValue(const CliEnvironment& environment, const std::string& key) {
  if (environment.in == nullptr) {
    throw UsageError("no VALUE given and no standard input to read it from");
  }
  std::string value;
  if (environment.in_is_terminal) {
    *environment.err << "Value for " << key << " (not shown): " << std::flush;
    bool read = false;
    {
      // Only the process's own standard input has a terminal whose echo can be turned off.
      std::optional<HiddenTerminalInput> hidden;
      if (environment.in == &std::cin) {
        hidden.emplace();
      }
      read = static_cast<bool>(std::getline(*environment.in, value));
    }
    // The Enter that ended the line was not echoed either.
    *environment.err << '\n';
    if (environment.interrupt_count && environment.interrupt_count() > 0) {
      throw InterruptedError();
    }
    if (!read) {
      throw UsageError("no value was typed for " + key + " (end of input)");
    }
  } else {
    value.assign(std::istreambuf_iterator<char>(*environment.in), std::istreambuf_iterator<char>());
  }
  if (!value.empty() && value.back() == '\n') {
    value.pop_back();
  }
  if (!value.empty() && value.back() == '\r') {
    value.pop_back();
  }
  return value;
}

int RunSecretSet(HostSession& session, const CliEnvironment& environment, const std::string& key,
                 const std::string& value) {
  EncodableMap arguments{{EncodableValue("key"), EncodableValue(key)}, {EncodableValue("value"), EncodableValue(value)}};
  const CallOutcome outcome = CallMethod(session, environment, "secureWrite", EncodableValue(arguments));
  if (!outcome.value) {
    return outcome.status;
  }
  if (*outcome.value == EncodableValue(true)) {
    *environment.out << "Stored the secret " << key << '\n';
    return kExitSuccess;
  }
  if (*outcome.value == EncodableValue(false)) {
    *environment.err << "pelmora-cli: the host could not store the secret " << key << '\n';
    return kExitFailure;
  }
  return ReportUnexpectedReply(environment, "secureWrite", *outcome.value);
}

int RunSecretGet(HostSession& session, const CliOptions& options, const CliEnvironment& environment,
                 const std::string& key) {
  const CallOutcome outcome = CallMethod(session, environment, "secureRead", MapOf({{"key", key}}));
  if (!outcome.value) {
    return outcome.status;
  }
  const std::string* value = std::get_if<std::string>(&*outcome.value);
  if (value == nullptr && *outcome.value != EncodableValue(false)) {
    return ReportUnexpectedReply(environment, "secureRead", *outcome.value);
  }
  if (options.HasCommandOption("json")) {
    PrintJson(environment, value != nullptr ? *outcome.value : EncodableValue());
  } else if (value != nullptr) {
    *environment.out << *value << '\n';
  } else {
    *environment.err << "pelmora-cli: no secret stored under " << key << '\n';
  }
  return value != nullptr ? kExitSuccess : kExitFailure;
}

int RunSecretRemove(HostSession& session, const CliEnvironment& environment, const std::string& key) {
  // The store answers "gone" for a key that was never stored too, so ask first whether there is
  // one. The delete still runs either way: it also clears a file that no longer decrypts.
  const CallOutcome stored = CallMethod(session, environment, "secureRead", MapOf({{"key", key}}));
  if (!stored.value) {
    return stored.status;
  }
  const bool was_stored = std::holds_alternative<std::string>(*stored.value);
  const CallOutcome outcome = CallMethod(session, environment, "secureDelete", MapOf({{"key", key}}));
  if (!outcome.value) {
    return outcome.status;
  }
  if (*outcome.value == EncodableValue(true)) {
    if (!was_stored) {
      *environment.err << "pelmora-cli: no secret stored under " << key << "; nothing removed\n";
      return kExitFailure;
    }
    *environment.out << "Removed the secret " << key << '\n';
    return kExitSuccess;
  }
  if (*outcome.value == EncodableValue(false)) {
    *environment.err << "pelmora-cli: the host could not remove the secret " << key << '\n';
    return kExitFailure;
  }
  return ReportUnexpectedReply(environment, "secureDelete", *outcome.value);
}

SessionCommand PrepareSecret(const CliOptions& options, const CliEnvironment& environment) {
  if (options.operands.empty()) {
    throw UsageError(std::string("usage: pelmora-cli ") + kSecretSynopsis);
  }
  const std::string action = options.operands[0];
  if (action == "set") {
    RequireOperandCount(options, 2, 3, "secret set KEY [VALUE]");
    if (options.HasCommandOption("json") || options.HasCommandOption("yes")) {
      throw UsageError("secret set takes neither --json nor --yes");
    }
    const std::string key = options.operands[1];
    // Read before the host starts, so the person types while nothing else is printed.
    const std::string value = options.operands.size() == 3 ? options.operands[2] : ReadSecretValue(environment, key);
    return [key, value, &environment](HostSession& session) { return RunSecretSet(session, environment, key, value); };
  }
  if (action == "get") {
    RequireOperandCount(options, 2, 2, "secret get KEY");
    if (options.HasCommandOption("yes")) {
      throw UsageError("secret get does not take --yes");
    }
    const std::string key = options.operands[1];
    return [key, &options, &environment](HostSession& session) {
      return RunSecretGet(session, options, environment, key);
    };
  }
  if (action == "rm") {
    RequireOperandCount(options, 2, 2, "secret rm KEY");
    if (options.HasCommandOption("json")) {
      throw UsageError("secret rm does not take --json");
    }
    const std::string key = options.operands[1];
    if (ConfirmDeletion(options, environment, "Remove the secret " + key + "? It cannot be recovered.") ==
        Confirmation::kDeclined) {
      return [&environment](HostSession&) -> int {
        *environment.err << "Nothing removed\n";
        return kExitFailure;
      };
    }
    return [key, &environment](HostSession& session) { return RunSecretRemove(session, environment, key); };
  }
  throw UsageError("unknown secret action \"" + action + "\" (usage: pelmora-cli " + kSecretSynopsis + ")");
}

}  // namespace

std::vector<CommandDefinition> ShellCommands() {
  return {
      {"verify",
       "  verify FILE          check FILE's Authenticode signature; status 0 only when it verifies\n",
       {"json"},
       PrepareVerify},
      {"open", "  open PATH            open PATH with the application associated with its type\n", {}, PrepareOpen},
      {"reveal", "  reveal PATH          show PATH in Explorer, selected in its folder\n", {}, PrepareReveal},
      {"pick",
       "  pick                 show the host's folder picker and print the chosen folder\n",
       {"json"},
       PreparePick},
      {"secret",
       "  secret set KEY [VALUE]\n"
       "                       store VALUE under KEY in the protected key store; without VALUE\n"
       "                       it is read from standard input (typed unseen at a terminal)\n"
       "  secret get KEY       print the value stored under KEY\n"
       "  secret rm KEY        remove the value stored under KEY (asks first)\n",
       {"json", "yes"},
       PrepareSecret},
  };
}

}  // namespace pel_mora::cli
