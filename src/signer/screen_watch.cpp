#include "signer/screen_watch.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/process.h"

extern char** environ;

namespace orwenna {

ScreenWatch::ScreenWatch(const std::filesystem::path& monitor, std::function<void()> onLock)
    : onLock_(std::move(onLock)) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return;
  if (::pipe2(stop_, O_CLOEXEC) != 0) {
    ::close(out[0]);
    ::close(out[1]);
    stop_[0] = stop_[1] = -1;
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::string program = monitor.string();
  std::string a1 = "monitor", a2 = "--system", a3 = "--dest", a4 = "org.freedesktop.login1";
  char* argv[] = {program.data(), a1.data(), a2.data(), a3.data(), a4.data(), nullptr};
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (rc != 0) {
    ::close(out[0]);
    return;
  }
  pid_ = pid;
  output_ = out[0];
  thread_ = std::thread([this] { follow(); });
}

ScreenWatch::~ScreenWatch() {
  if (stop_[1] >= 0) {
    char byte = 0;
    (void)!::write(stop_[1], &byte, 1);
  }
  if (thread_.joinable()) thread_.join();
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  for (int fd : {output_, stop_[0], stop_[1]}) {
    if (fd >= 0) ::close(fd);
  }
}

std::optional<std::filesystem::path> ScreenWatch::locate() { return findProgram("gdbus"); }

bool ScreenWatch::endsSession(std::string_view line) {
  return line.find(".Manager.PrepareForSleep (true") != std::string_view::npos ||
         line.find(".Session.Lock ()") != std::string_view::npos ||
         line.find("'LockedHint': <true>") != std::string_view::npos;
}

void ScreenWatch::follow() {
  std::string buffer;
  for (;;) {
    pollfd fds[2] = {{output_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    char chunk[1024];
    const ssize_t n = ::read(output_, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the monitor ended: no bus here
    buffer.append(chunk, static_cast<std::size_t>(n));
    for (auto nl = buffer.find('\n'); nl != std::string::npos; nl = buffer.find('\n')) {
      if (endsSession(std::string_view(buffer).substr(0, nl))) onLock_();
      buffer.erase(0, nl + 1);
    }
    if (buffer.size() > 64 * 1024) buffer.clear();
  }
}

}  // namespace orwenna
