// "Keep running": two systemd user units that start the app in the
// background every 60 seconds when it isn't running — a timer and the
// service it starts (`orwenna serve --background`). A timer firing while the
// service is active does nothing, and a hand-started app is caught by the
// app's single-instance lock, so at most one app runs.
//
// The units live in $XDG_CONFIG_HOME/systemd/user (~/.config/systemd/user);
// under ORWENNA_HOME in $ORWENNA_HOME/systemd/user. systemctl is reached
// through the Systemctl function given, so tests run without systemd.
// Stateless functions; thread-safe as far as the file system is.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/error.h"

namespace orwenna {

class KeepRunningError : public Error {
 public:
  using Error::Error;
};

namespace KeepRunning {

inline constexpr const char* kTimer = "app.orwenna.keeprunning.timer";
inline constexpr const char* kService = "app.orwenna.keeprunning.service";

// Runs `systemctl --user ARGS…`; its exit status and standard output.
struct SystemctlResult {
  int status = 0;
  std::string output;
};
using Systemctl = std::function<SystemctlResult(const std::vector<std::string>& args)>;

// The units' folder, from the environment.
std::filesystem::path unitFolder();
// systemctl from PATH through runProcess; nothing when it isn't installed.
std::optional<Systemctl> systemSystemctl();

// The unit files' text. `program` is the absolute path of the app.
std::string serviceText(const std::filesystem::path& program);
std::string timerText();
// A command-line word as systemd reads it in ExecStart=: quoted, with
// backslashes, quotes, "%" and "$" escaped.
std::string systemdQuoted(const std::string& word);

// Writes both units, then daemon-reload and enable --now of the timer when
// systemctl is given. Throws KeepRunningError (or FileError) on failure.
void turnOn(const std::filesystem::path& folder, const std::filesystem::path& program,
            const std::optional<Systemctl>& systemctl);
// disable --now of the timer and stop of the service when systemctl is given,
// then removes both files and reloads. Throws KeepRunningError.
void turnOff(const std::filesystem::path& folder, const std::optional<Systemctl>& systemctl);

struct Status {
  bool installed = false;          // both unit files are there
  std::optional<std::string> timer;  // "active", "inactive", … as systemctl says
};
[[nodiscard]] Status status(const std::filesystem::path& folder, const std::optional<Systemctl>& systemctl);

}  // namespace KeepRunning
}  // namespace orwenna
