// pelmora-cli: a command-line interface to the Pelmora host over its interface bridge.

#include <atomic>
#include <csignal>
#include <iostream>

#include "cli/commands/commands.h"
#include "cli/connection/process_platform.h"

namespace {

// Written by the signal handlers, read by the waiting loops. Lock-free, so a handler may store
// to it.
std::atomic<unsigned> g_interrupt_count{0};
static_assert(std::atomic<unsigned>::is_always_lock_free);

extern "C" void OnInterrupt(int signal_number) {
  const unsigned previous = g_interrupt_count.fetch_add(1);
  // The first Ctrl-C cancels in order and the second stops the waiting; a third one is left to
  // the default action, for a client that no longer responds at all. (Some C runtimes also reset
  // the handler before calling it; setting it again keeps the second press ours.)
  std::signal(signal_number, previous == 0 ? OnInterrupt : SIG_DFL);
}

extern "C" void OnTerminate(int) {
  // Asked to end (or the terminal went away): no cancelled scan to wait for, only the host to
  // close.
  g_interrupt_count.fetch_add(2);
}

}  // namespace

int main(int argc, char** argv) {
  pel_mora::cli::PrepareConsoleOutput();
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnTerminate);
#ifdef SIGHUP
  std::signal(SIGHUP, OnTerminate);
#endif
#ifdef SIGPIPE
  // The reader of the output went away ("pelmora-cli scan P | head"): stop as when asked to end,
  // so the host is closed in order and a drive letter lent for the command is removed, where the
  // default action would end the client on the spot and leave both behind. Writes then fail
  // quietly instead.
  std::signal(SIGPIPE, OnTerminate);
#endif

  const std::unique_ptr<pel_mora::cli::HostPlatform> platform = pel_mora::cli::CreateHostPlatform();
  pel_mora::cli::CliEnvironment environment;
  environment.out = &std::cout;
  environment.err = &std::cerr;
  environment.err_is_terminal = pel_mora::cli::StandardErrorIsTerminal();
  environment.err_columns = pel_mora::cli::StandardErrorColumns;
  environment.in = &std::cin;
  environment.in_is_terminal = pel_mora::cli::StandardInputIsTerminal();
  environment.interrupt_count = [] { return g_interrupt_count.load(); };
  environment.platform = platform.get();
  return pel_mora::cli::RunCli(pel_mora::cli::CommandLineArguments(argc, argv), environment);
}
