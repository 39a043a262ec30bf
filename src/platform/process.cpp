#include "platform/process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fmt/format.h>

extern char** environ;

namespace orwenna {

namespace {

constexpr std::size_t kErrorTailBytes = 4096;
constexpr std::size_t kMaxLineBytes = 16u << 20;

void ignoreBrokenPipes() {
  // A child that exits before reading all its input must not kill us.
  static std::once_flag once;
  std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

struct Fd {
  int fd = -1;
  Fd() = default;
  explicit Fd(int f) : fd(f) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { close(); }
  void close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
};

void makePipe(Fd& readEnd, Fd& writeEnd) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw ProcessError(fmt::format("Couldn't make a pipe: {}.", std::strerror(errno)));
  readEnd.fd = fds[0];
  writeEnd.fd = fds[1];
}

std::vector<char*> cStrings(std::vector<std::string>& strings) {
  std::vector<char*> out;
  out.reserve(strings.size() + 1);
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

int statusOf(int waitStatus) {
  if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
  if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
  return -1;
}

// Stops the child and collects its status: a polite signal first, then a firm one.
int stopChild(pid_t pid) {
  int status = 0;
  ::kill(pid, SIGTERM);
  for (int i = 0; i < 20; ++i) {
    if (waitpid(pid, &status, WNOHANG) == pid) return statusOf(status);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ::kill(pid, SIGKILL);
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return statusOf(status);
}

}  // namespace

ProcessResult runProcess(const ProcessSpec& spec, const ProcessLineHandler& onLine) {
  ignoreBrokenPipes();
  Fd inRead, inWrite, outRead, outWrite, errRead, errWrite;
  makePipe(inRead, inWrite);
  makePipe(outRead, outWrite);
  makePipe(errRead, errWrite);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, inRead.fd, 0);
  posix_spawn_file_actions_adddup2(&actions, outWrite.fd, 1);
  posix_spawn_file_actions_adddup2(&actions, errWrite.fd, 2);

  std::vector<std::string> argv{spec.program.string()};
  argv.insert(argv.end(), spec.arguments.begin(), spec.arguments.end());
  std::vector<std::string> envp = spec.environment;
  auto argvC = cStrings(argv);
  auto envpC = cStrings(envp);

  pid_t pid = 0;
  int rc = posix_spawn(&pid, spec.program.c_str(), &actions, nullptr, argvC.data(), envpC.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    throw ProcessError(fmt::format("Couldn't start {}: {}.", spec.program.string(), std::strerror(rc)));
  }
  inRead.close();
  outWrite.close();
  errWrite.close();
  fcntl(inWrite.fd, F_SETFL, O_NONBLOCK);

  ProcessResult result;
  std::size_t written = 0;
  if (spec.input.empty()) inWrite.close();
  std::string pendingLine;
  auto deadline = std::chrono::steady_clock::now() + spec.timeLimit;
  bool stop = false;

  auto deliver = [&](std::string_view data) {
    pendingLine.append(data);
    std::size_t start = 0;
    for (std::size_t nl; (nl = pendingLine.find('\n', start)) != std::string::npos; start = nl + 1) {
      std::string_view line(pendingLine.data() + start, nl - start);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      onLine(line);
    }
    pendingLine.erase(0, start);
    if (pendingLine.size() > kMaxLineBytes) pendingLine.clear();  // a runaway line is dropped, not kept in memory
  };

  try {
    while (outRead.fd >= 0 || errRead.fd >= 0) {
      if (spec.cancellation && spec.cancellation->isCancelled()) {
        result.cancelled = true;
        stop = true;
        break;
      }
      auto now = std::chrono::steady_clock::now();
      if (now >= deadline) {
        result.timedOut = true;
        stop = true;
        break;
      }
      pollfd fds[3];
      nfds_t n = 0;
      int outIndex = -1, errIndex = -1, inIndex = -1;
      if (outRead.fd >= 0) fds[outIndex = static_cast<int>(n++)] = {outRead.fd, POLLIN, 0};
      if (errRead.fd >= 0) fds[errIndex = static_cast<int>(n++)] = {errRead.fd, POLLIN, 0};
      if (inWrite.fd >= 0) fds[inIndex = static_cast<int>(n++)] = {inWrite.fd, POLLOUT, 0};
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
      int waitMs = static_cast<int>(std::min<long long>(left, 100));
      if (poll(fds, n, waitMs) < 0) {
        if (errno == EINTR) continue;
        throw ProcessError(fmt::format("Couldn't read from {}: {}.", spec.program.string(), std::strerror(errno)));
      }
      char buffer[8192];
      if (inIndex >= 0 && (fds[inIndex].revents & (POLLOUT | POLLERR | POLLHUP))) {
        ssize_t w = ::write(inWrite.fd, spec.input.data() + written, spec.input.size() - written);
        if (w > 0) written += static_cast<std::size_t>(w);
        if ((w < 0 && errno != EAGAIN && errno != EINTR) || written == spec.input.size()) inWrite.close();
      }
      if (outIndex >= 0 && (fds[outIndex].revents & (POLLIN | POLLHUP | POLLERR))) {
        ssize_t r = ::read(outRead.fd, buffer, sizeof buffer);
        if (r > 0) deliver(std::string_view(buffer, static_cast<std::size_t>(r)));
        else if (r == 0 || (errno != EAGAIN && errno != EINTR)) outRead.close();
      }
      if (errIndex >= 0 && (fds[errIndex].revents & (POLLIN | POLLHUP | POLLERR))) {
        ssize_t r = ::read(errRead.fd, buffer, sizeof buffer);
        if (r > 0) {
          result.errorTail.append(buffer, static_cast<std::size_t>(r));
          if (result.errorTail.size() > kErrorTailBytes)
            result.errorTail.erase(0, result.errorTail.size() - kErrorTailBytes);
        } else if (r == 0 || (errno != EAGAIN && errno != EINTR)) {
          errRead.close();
        }
      }
    }
  } catch (...) {
    stopChild(pid);
    throw;
  }
  inWrite.close();

  if (stop) {
    result.exitStatus = stopChild(pid);
    return result;
  }
  if (!pendingLine.empty()) {
    std::string last = std::move(pendingLine);
    pendingLine.clear();
    if (!last.empty() && last.back() == '\r') last.pop_back();
    onLine(last);
  }
  // Output is closed; the child should be exiting. Hold it to the same deadline.
  int status = 0;
  while (true) {
    pid_t w = waitpid(pid, &status, WNOHANG);
    if (w == pid) {
      result.exitStatus = statusOf(status);
      return result;
    }
    if (w < 0 && errno != EINTR) {
      result.exitStatus = -1;
      return result;
    }
    bool cancelled = spec.cancellation && spec.cancellation->isCancelled();
    if (cancelled || std::chrono::steady_clock::now() >= deadline) {
      result.cancelled = cancelled;
      result.timedOut = !cancelled;
      result.exitStatus = stopChild(pid);
      return result;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void spawnDetached(const std::filesystem::path& program, const std::vector<std::string>& arguments) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> argv{program.string()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  auto argvC = cStrings(argv);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argvC.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw ProcessError(fmt::format("Couldn't start {}: {}.", program.string(), std::strerror(rc)));
  std::thread([pid] {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

std::filesystem::path executableDirectory() {
  std::error_code error;
  auto path = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) throw ProcessError(fmt::format("Couldn't find this program's folder: {}.", error.message()));
  return path.parent_path();
}

std::vector<std::string> currentEnvironment() {
  std::vector<std::string> out;
  for (char** e = environ; e && *e; ++e) out.emplace_back(*e);
  return out;
}

std::vector<std::string> withVariable(std::vector<std::string> environment, std::string_view name,
                                      std::optional<std::string_view> value) {
  std::string prefix = std::string(name) + "=";
  std::erase_if(environment, [&](const std::string& entry) { return entry.rfind(prefix, 0) == 0; });
  if (value) environment.push_back(prefix + std::string(*value));
  return environment;
}

bool isExecutableFile(const std::filesystem::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::optional<std::filesystem::path> findOnPath(std::string_view name, std::string_view searchPath) {
  if (name.empty() || name.find('/') != std::string_view::npos) return std::nullopt;
  std::size_t start = 0;
  while (start <= searchPath.size()) {
    std::size_t end = searchPath.find(':', start);
    if (end == std::string_view::npos) end = searchPath.size();
    std::string_view folder = searchPath.substr(start, end - start);
    // An empty entry means the current folder; a program we run on the user's
    // behalf is never taken from there.
    if (!folder.empty() && folder.front() == '/') {
      std::filesystem::path candidate = std::filesystem::path(folder) / name;
      if (isExecutableFile(candidate)) return candidate;
    }
    start = end + 1;
  }
  return std::nullopt;
}

std::optional<std::filesystem::path> findProgram(std::string_view name) {
  const char* path = std::getenv("PATH");
  return findOnPath(name, path ? path : "/usr/local/bin:/usr/bin:/bin");
}

}  // namespace orwenna
