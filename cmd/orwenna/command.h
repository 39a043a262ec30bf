// The command-line surface of `orwenna`.
//
// Each tool file defines a static `CommandRegistrar` whose function adds its
// subcommands to the CLI11 app; main() runs them all before parsing. A tool
// prints human text by default and JSON with `--json` where it offers it, and
// reports a failure by throwing `CommandFailure` (or any module error), which
// main() prints on stderr with exit status 1.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/error.h"

namespace orwenna::cmd {

using Registration = std::function<void(CLI::App&)>;

std::vector<Registration>& registrations();

struct CommandRegistrar {
  explicit CommandRegistrar(Registration r) { registrations().push_back(std::move(r)); }
};

// A tool's refusal with its finished sentence and an exit status.
class CommandFailure : public Error {
 public:
  explicit CommandFailure(const std::string& message, int status = 1)
      : Error(message), status_(status) {}
  int status() const { return status_; }

 private:
  int status_;
};

// Reads all of standard input; secrets arrive this way, never through argv.
std::string readStandardInput();

// One line of standard input without its line ending. On a terminal the
// prompt goes to stderr and the typed text is not echoed. Throws
// CommandFailure when nothing could be read.
std::string readSecretLine(const char* prompt);

}  // namespace orwenna::cmd
