#include "platform/keep_running.h"

#include <cstdlib>

#include "base/files.h"
#include "base/text.h"
#include "platform/process.h"

namespace orwenna::KeepRunning {

namespace {

std::optional<std::string> environment(const char* name) {
  const char* v = std::getenv(name);
  if (!v || !*v) return std::nullopt;
  return std::string(v);
}

void call(const Systemctl& systemctl, const std::vector<std::string>& args) {
  SystemctlResult r = systemctl(args);
  if (r.status != 0) {
    throw KeepRunningError("systemctl --user " + text::join(args, " ") + " failed (exit status " +
                           std::to_string(r.status) + ").");
  }
}

}  // namespace

std::filesystem::path unitFolder() {
  if (auto home = environment("ORWENNA_HOME")) return std::filesystem::path(*home) / "systemd" / "user";
  if (auto config = environment("XDG_CONFIG_HOME")) return std::filesystem::path(*config) / "systemd" / "user";
  return std::filesystem::path(environment("HOME").value_or("/tmp")) / ".config" / "systemd" / "user";
}

std::optional<Systemctl> systemSystemctl() {
  auto program = findProgram("systemctl");
  if (!program) return std::nullopt;
  return Systemctl([path = *program](const std::vector<std::string>& args) {
    ProcessSpec spec;
    spec.program = path;
    spec.arguments = {"--user"};
    spec.arguments.insert(spec.arguments.end(), args.begin(), args.end());
    spec.environment = currentEnvironment();
    spec.timeLimit = std::chrono::milliseconds(30000);
    SystemctlResult out;
    ProcessResult r = runProcess(spec, [&out](std::string_view line) {
      out.output += line;
      out.output += '\n';
    });
    out.status = r.exitStatus;
    return out;
  });
}

std::string systemdQuoted(const std::string& word) {
  std::string out = "\"";
  for (char c : word) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '%') out += '%';
    if (c == '$') out += '$';
    out += c;
  }
  return out + "\"";
}

std::string serviceText(const std::filesystem::path& program) {
  return "[Unit]\n"
         "Description=orwenna in the background (alerts, scheduled tasks, the guardian)\n"
         "\n"
         "[Service]\n"
         "Type=simple\n"
         "ExecStart=" + systemdQuoted(program.string()) + " serve --background\n";
}

std::string timerText() {
  // Inactive-since as well as active-since: a timer counting only from the
  // last start would never fire again while the app stays up, nor after it ends.
  return std::string("[Unit]\n"
                     "Description=Start orwenna in the background when it isn't running\n"
                     "\n"
                     "[Timer]\n"
                     "OnActiveSec=60\n"
                     "OnUnitActiveSec=60\n"
                     "OnUnitInactiveSec=60\n"
                     "Unit=") + kService + "\n"
                     "\n"
                     "[Install]\n"
                     "WantedBy=timers.target\n";
}

void turnOn(const std::filesystem::path& folder, const std::filesystem::path& program,
            const std::optional<Systemctl>& systemctl) {
  if (!program.is_absolute()) throw KeepRunningError("The app's path must be absolute: " + program.string());
  ensureDirectory(folder, 0755);
  writeFileAtomically(folder / kService, serviceText(program), 0644);
  writeFileAtomically(folder / kTimer, timerText(), 0644);
  if (!systemctl) return;
  call(*systemctl, {"daemon-reload"});
  call(*systemctl, {"enable", "--now", kTimer});
}

void turnOff(const std::filesystem::path& folder, const std::optional<Systemctl>& systemctl) {
  const bool present = std::filesystem::exists(folder / kTimer) || std::filesystem::exists(folder / kService);
  if (systemctl && present) call(*systemctl, {"disable", "--now", kTimer});
  std::error_code ec;
  std::filesystem::remove(folder / kTimer, ec);
  if (ec) throw KeepRunningError("Can't remove " + (folder / kTimer).string() + ": " + ec.message());
  std::filesystem::remove(folder / kService, ec);
  if (ec) throw KeepRunningError("Can't remove " + (folder / kService).string() + ": " + ec.message());
  if (systemctl && present) call(*systemctl, {"daemon-reload"});
}

Status status(const std::filesystem::path& folder, const std::optional<Systemctl>& systemctl) {
  Status s;
  s.installed = std::filesystem::exists(folder / kTimer) && std::filesystem::exists(folder / kService);
  if (systemctl) {
    // is-active exits non-zero for an inactive unit; its word is the answer.
    SystemctlResult r = (*systemctl)({"is-active", kTimer});
    std::string word = text::trimmed(r.output);
    if (!word.empty()) s.timer = word;
  }
  return s;
}

}  // namespace orwenna::KeepRunning
