// Starting other programs without a shell: posix_spawn with pipes.
//
// `runProcess` feeds standard input, hands standard output to a callback line
// by line, keeps the tail of standard error, and stops the child (SIGTERM, then
// SIGKILL) when the time limit passes or the cancellation is set. Arguments
// never pass through a shell, so no quoting can change their meaning.
// Each call is independent; thread-safe.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "base/http.h"

namespace orwenna {

// A program that could not be started; the message says which and why.
class ProcessError : public Error {
 public:
  using Error::Error;
};

struct ProcessSpec {
  std::filesystem::path program;
  std::vector<std::string> arguments;  // without the program name
  std::vector<std::string> environment;  // "NAME=value" entries, the whole environment
  std::string input;  // written to standard input, which is then closed
  std::chrono::milliseconds timeLimit{60000};
  const Cancellation* cancellation = nullptr;
};

struct ProcessResult {
  int exitStatus = 0;  // the exit code, or 128 + signal number
  bool timedOut = false;
  bool cancelled = false;
  std::string errorTail;  // the last few kilobytes of standard error
};

// Receives one line of standard output without its "\n" (and trailing "\r").
using ProcessLineHandler = std::function<void(std::string_view line)>;

// Throws ProcessError when the program cannot be started.
ProcessResult runProcess(const ProcessSpec& spec, const ProcessLineHandler& onLine);

// Starts a program and lets it run on its own (a browser opener, say); its
// output is discarded and it is reaped in the background. Throws ProcessError.
void spawnDetached(const std::filesystem::path& program, const std::vector<std::string>& arguments);

// This process's environment as "NAME=value" entries.
std::vector<std::string> currentEnvironment();
// `environment` without `name`, then with "name=value" added when a value is given.
std::vector<std::string> withVariable(std::vector<std::string> environment, std::string_view name,
                                      std::optional<std::string_view> value);

// The folder holding this process's executable (from /proc/self/exe).
// Throws ProcessError when it cannot be read.
std::filesystem::path executableDirectory();

[[nodiscard]] bool isExecutableFile(const std::filesystem::path& path);
// The first executable `name` in the ":"-separated folders of `searchPath`.
[[nodiscard]] std::optional<std::filesystem::path> findOnPath(std::string_view name, std::string_view searchPath);
// findOnPath with $PATH.
[[nodiscard]] std::optional<std::filesystem::path> findProgram(std::string_view name);

}  // namespace orwenna
