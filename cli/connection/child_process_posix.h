#pragma once

// A child process of this client (POSIX): started in a process group of its own, so the
// terminal's Ctrl-C reaches only the client, which then closes the host in order.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace pel_mora::cli {

enum class ChildOutput {
  kDiscard,  // standard output and error to /dev/null
  kPipe,     // standard output and error into one pipe that output_descriptor() reads
};

class ChildProcess {
 public:
  // Starts `arguments` (the first is the program, looked up in PATH when it has no slash) with
  // exactly the variables of `environment` ("NAME=value"), in `working_directory` (empty: the
  // current one), with standard input from /dev/null. Throws std::runtime_error naming the
  // failing call; a program that cannot be run is reported with the reason exec gave.
  ChildProcess(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
               const std::string& working_directory, ChildOutput output);

  // A child still running is killed (it is ours, by its id) and reaped.
  ~ChildProcess();

  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }

  // The read end of the output pipe (kPipe only), non-blocking; -1 otherwise.
  int output_descriptor() const { return output_descriptor_; }

  // The exit status once the child has ended: its exit code, or 128 + the signal that ended it.
  std::optional<int> TryWait();
  std::optional<int> WaitFor(std::chrono::milliseconds timeout);

 private:
  pid_t pid_ = -1;
  int output_descriptor_ = -1;
  std::optional<int> exit_status_;
};

// Runs a program to its end with its output discarded; returns its exit status.
int RunChildToEnd(const std::vector<std::string>& arguments, const std::vector<std::string>& environment);

// The same, keeping what the program wrote (standard output and error, its last 4 KiB) in
// `output`, to say why it failed. Reading stops when the program has ended, not at the end of
// the pipe: a server it started (a wineserver) may hold the pipe open for long after.
int RunChildToEndKeepingOutput(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                               std::string* output);

// The path exec would run for `program`: itself when it contains a slash, else the first
// executable of that name in PATH. Empty when there is none.
std::string FindProgram(const std::string& program);

}  // namespace pel_mora::cli
