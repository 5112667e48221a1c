#include "cli/connection/child_process_posix.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <utility>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace pel_mora::cli {

namespace {

[[noreturn]] void ThrowSystemError(const std::string& call, int error) {
  throw std::runtime_error(call + " failed: " + std::generic_category().message(error));
}

// Owns one file descriptor.
class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
  ~Descriptor() { Reset(); }
  Descriptor(Descriptor&& other) noexcept : descriptor_(other.Release()) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) {
      Reset();
      descriptor_ = other.Release();
    }
    return *this;
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int get() const { return descriptor_; }
  int Release() {
    const int descriptor = descriptor_;
    descriptor_ = -1;
    return descriptor;
  }
  void Reset() {
    if (descriptor_ >= 0) {
      ::close(descriptor_);
      descriptor_ = -1;
    }
  }

 private:
  int descriptor_ = -1;
};

struct Pipe {
  Descriptor read_end;
  Descriptor write_end;
};

Pipe MakePipe() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) < 0) {
    ThrowSystemError("pipe2", errno);
  }
  return Pipe{Descriptor(ends[0]), Descriptor(ends[1])};
}

int DecodeWaitStatus(int status) {
  if (WIFEXITED(status)) {
    return WEXITSTATUS(status);
  }
  if (WIFSIGNALED(status)) {
    return 128 + WTERMSIG(status);
  }
  return 255;
}

// Hands errno to the parent through the report pipe and ends the child.
[[noreturn]] void ReportAndExit(int report) {
  const int error = errno;
  const ssize_t written = ::write(report, &error, sizeof(error));
  (void)written;  // nothing more can be done about a failed report
  ::_exit(127);
}

// Only async-signal-safe calls from here on: the parent may have other threads, and the child
// is a copy of just this one. On any failure the errno goes to the parent through `report`.
[[noreturn]] void RunInChild(const char* program, char* const* arguments, char* const* environment,
                             const char* working_directory, int output, int report, pid_t parent) {
  // Its own process group: a Ctrl-C at the terminal goes to the client alone.
  ::setpgid(0, 0);
#ifdef __linux__
  // If the client dies without closing it, the host is told to end instead of lingering.
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (::getppid() != parent) {
    ::_exit(127);
  }
#else
  (void)parent;
#endif
  const int null_input = ::open("/dev/null", O_RDONLY);
  if (null_input < 0 || ::dup2(null_input, STDIN_FILENO) < 0) {
    ReportAndExit(report);
  }
  if (::dup2(output, STDOUT_FILENO) < 0 || ::dup2(output, STDERR_FILENO) < 0) {
    ReportAndExit(report);
  }
  if (working_directory[0] != '\0' && ::chdir(working_directory) < 0) {
    ReportAndExit(report);
  }
  ::execve(program, arguments, environment);
  ReportAndExit(report);
}

std::vector<char*> PointerArray(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& text : strings) {
    pointers.push_back(text.data());
  }
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

std::string FindProgram(const std::string& program) {
  if (program.find('/') != std::string::npos) {
    return program;
  }
  const char* path = std::getenv("PATH");
  std::string directories = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= directories.size()) {
    const size_t end = std::min(directories.find(':', start), directories.size());
    std::string directory = directories.substr(start, end - start);
    const std::string candidate = (directory.empty() ? std::string(".") : directory) + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    start = end + 1;
  }
  return std::string();
}

ChildProcess::ChildProcess(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                           const std::string& working_directory, ChildOutput output) {
  if (arguments.empty()) {
    throw std::invalid_argument("a child process needs a program");
  }
  // Everything the child needs is prepared here, before fork: the child may not allocate.
  const std::string program = FindProgram(arguments.front());
  if (program.empty()) {
    throw std::runtime_error(arguments.front() + " was not found on PATH");
  }
  std::vector<std::string> argument_copies = arguments;
  std::vector<std::string> environment_copies = environment;
  const std::vector<char*> argument_pointers = PointerArray(argument_copies);
  const std::vector<char*> environment_pointers = PointerArray(environment_copies);

  Descriptor output_read;
  Descriptor output_write;
  if (output == ChildOutput::kPipe) {
    Pipe pipe = MakePipe();
    output_read = std::move(pipe.read_end);
    output_write = std::move(pipe.write_end);
  } else {
    output_write = Descriptor(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    if (output_write.get() < 0) {
      ThrowSystemError("open /dev/null", errno);
    }
  }
  // Closed on a successful exec, so reading it gives either EOF or the child's errno.
  Pipe report = MakePipe();

  const pid_t parent = ::getpid();
  const pid_t child = ::fork();
  if (child < 0) {
    ThrowSystemError("fork", errno);
  }
  if (child == 0) {
    RunInChild(program.c_str(), argument_pointers.data(), environment_pointers.data(), working_directory.c_str(),
               output_write.get(), report.write_end.get(), parent);
  }
  pid_ = child;
  ::setpgid(child, child);  // also here, so the group exists whichever side runs first
  report.write_end.Reset();
  output_write.Reset();

  int child_error = 0;
  ssize_t count = 0;
  do {
    count = ::read(report.read_end.get(), &child_error, sizeof(child_error));
  } while (count < 0 && errno == EINTR);
  if (count == static_cast<ssize_t>(sizeof(child_error))) {
    WaitFor(std::chrono::milliseconds(5000));
    pid_ = -1;
    ThrowSystemError("running " + program, child_error);
  }
  if (output == ChildOutput::kPipe) {
    ::fcntl(output_read.get(), F_SETFL, ::fcntl(output_read.get(), F_GETFL) | O_NONBLOCK);
    output_descriptor_ = output_read.Release();
  }
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !TryWait()) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  if (output_descriptor_ >= 0) {
    ::close(output_descriptor_);
  }
}

std::optional<int> ChildProcess::TryWait() {
  if (exit_status_ || pid_ <= 0) {
    return exit_status_;
  }
  int status = 0;
  const pid_t result = ::waitpid(pid_, &status, WNOHANG);
  if (result == pid_) {
    exit_status_ = DecodeWaitStatus(status);
  }
  return exit_status_;
}

std::optional<int> ChildProcess::WaitFor(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    if (const std::optional<int> status = TryWait()) {
      return status;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

int RunChildToEndKeepingOutput(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                               std::string* output) {
  constexpr size_t kKept = 4096;
  ChildProcess child(arguments, environment, std::string(), ChildOutput::kPipe);
  const auto drain = [&child, output] {
    char buffer[1024];
    ssize_t count;
    while ((count = ::read(child.output_descriptor(), buffer, sizeof buffer)) > 0) {
      output->append(buffer, static_cast<size_t>(count));
      if (output->size() > kKept) {
        output->erase(0, output->size() - kKept);
      }
    }
  };
  while (true) {
    pollfd readable{child.output_descriptor(), POLLIN, 0};
    ::poll(&readable, 1, 100);
    drain();
    if (const std::optional<int> status = child.TryWait()) {
      drain();
      return *status;
    }
  }
}

int RunChildToEnd(const std::vector<std::string>& arguments, const std::vector<std::string>& environment) {
  ChildProcess child(arguments, environment, std::string(), ChildOutput::kDiscard);
  while (true) {
    if (const std::optional<int> status = child.WaitFor(std::chrono::hours(1))) {
      return *status;
    }
  }
}

}  // namespace pel_mora::cli
