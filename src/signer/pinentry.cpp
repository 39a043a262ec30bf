#include "signer/pinentry.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/process.h"
#include "signing/secret.h"

namespace orwenna {

namespace {

using PinClock = std::chrono::steady_clock;

// Assuan lines are at most 1000 bytes; the description is cut below that,
// on a UTF-8 boundary, so the command never overflows.
constexpr std::size_t kMaxArgumentBytes = 900;

// libgpg-error codes pinentry answers with (the low 16 bits of ERR).
constexpr unsigned kErrTimeout = 62;
constexpr unsigned kErrCanceled = 99;
constexpr unsigned kErrNotConfirmed = 114;

std::string cutToLine(std::string escaped) {
  if (escaped.size() <= kMaxArgumentBytes) return escaped;
  std::size_t end = kMaxArgumentBytes;
  // Never split a %XX escape or a UTF-8 sequence.
  while (end > 0 && (escaped[end - 1] == '%' || (end > 1 && escaped[end - 2] == '%'))) --end;
  while (end > 0 && (static_cast<unsigned char>(escaped[end]) & 0xC0) == 0x80) --end;
  escaped.resize(end);
  return escaped + "…";
}

// One pinentry run: a child with its standard input and output on pipes.
class PinentryChild {
 public:
  PinentryChild(const std::filesystem::path& program, const std::vector<std::string>& environment,
                PinClock::time_point deadline)
      : deadline_(deadline) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error(std::strerror(errno));
    if (::pipe2(out, O_CLOEXEC) != 0) {
      ::close(in[0]);
      ::close(in[1]);
      throw std::runtime_error(std::strerror(errno));
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::string path = program.string();
    std::vector<char*> argv{path.data(), nullptr};
    std::vector<std::string> env = environment;
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    int rc = posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    write_ = in[1];
    read_ = out[0];
    if (rc != 0) {
      pid_ = -1;
      throw std::runtime_error(std::strerror(rc));
    }
  }

  ~PinentryChild() {
    if (write_ >= 0) ::close(write_);
    if (read_ >= 0) ::close(read_);
    if (pid_ > 0) {
      int status = 0;
      // A pinentry that said BYE exits by itself; one still running is stuck.
      for (int i = 0; i < 20; ++i) {
        pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_ || (r < 0 && errno != EINTR)) return;
        ::usleep(5000);
      }
      ::kill(pid_, SIGKILL);
      while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
    }
    wipeString(buffer_);
  }

  void kill() {
    if (pid_ > 0) ::kill(pid_, SIGKILL);
  }

  // false when the pipe is closed.
  bool send(const std::string& line) {
    std::string data = line + "\n";
    std::size_t done = 0;
    while (done < data.size()) {
      ssize_t n = ::write(write_, data.data() + done, data.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

  enum class Read { line, closed, timedOut };
  Read readLine(std::string& line) {
    for (;;) {
      auto nl = buffer_.find('\n');
      if (nl != std::string::npos) {
        line.assign(buffer_, 0, nl);
        // Shift in place so no copy of a PIN is left behind in freed memory.
        std::size_t rest = buffer_.size() - nl - 1;
        std::memmove(buffer_.data(), buffer_.data() + nl + 1, rest);
        std::memset(buffer_.data() + rest, 0, nl + 1);
        buffer_.resize(rest);
        return Read::line;
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - PinClock::now()).count();
      if (left <= 0) return Read::timedOut;
      pollfd p{read_, POLLIN, 0};
      int rc = ::poll(&p, 1, static_cast<int>(left));
      if (rc < 0 && errno == EINTR) continue;
      if (rc == 0) return Read::timedOut;
      char chunk[512];
      ssize_t n = ::read(read_, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return Read::closed;
      if (buffer_.size() + static_cast<std::size_t>(n) > 64 * 1024) return Read::closed;
      buffer_.reserve(64 * 1024);  // one allocation, so the PIN is never copied by a regrowth
      buffer_.append(chunk, static_cast<std::size_t>(n));
      wipeBytes(std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(chunk), sizeof chunk));
    }
  }

 private:
  pid_t pid_ = -1;
  int write_ = -1;
  int read_ = -1;
  PinClock::time_point deadline_;
  std::string buffer_;
};

unsigned errorCode(std::string_view line) {
  // "ERR 83886179 Operation cancelled <Pinentry>"
  unsigned long code = 0;
  std::size_t i = 4;
  while (i < line.size() && line[i] >= '0' && line[i] <= '9') {
    code = code * 10 + static_cast<unsigned>(line[i] - '0');
    if (code > 0xFFFFFFFFul) break;
    ++i;
  }
  return static_cast<unsigned>(code & 0xFFFF);
}

}  // namespace

PromptAnswer::PromptAnswer(PromptAnswer&& other) noexcept { *this = std::move(other); }

PromptAnswer& PromptAnswer::operator=(PromptAnswer&& other) noexcept {
  if (this != &other) {
    outcome = other.outcome;
    wipeString(pin);
    pin = other.pin;
    wipeString(other.pin);
    error = std::move(other.error);
  }
  return *this;
}

PromptAnswer::~PromptAnswer() { wipeString(pin); }

std::string assuanEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '%') {
      out += "%25";
    } else if (c == '\r') {
      out += "%0D";
    } else if (c == '\n') {
      out += "%0A";
    } else {
      out += c;
    }
  }
  return out;
}

std::optional<std::string> assuanUnescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) {
      wipeString(out);
      return std::nullopt;
    }
    int hi = hex(text[i + 1]), lo = hex(text[i + 2]);
    if (hi < 0 || lo < 0) {
      wipeString(out);
      return std::nullopt;
    }
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return out;
}

PinentryPrompter::PinentryPrompter(std::filesystem::path program, std::vector<std::string> environment,
                                   std::chrono::milliseconds timeLimit)
    : program_(std::move(program)), environment_(std::move(environment)), timeLimit_(timeLimit) {}

std::optional<std::filesystem::path> PinentryPrompter::locate() {
  if (const char* chosen = std::getenv("ORWENNA_PINENTRY"); chosen && *chosen) {
    std::filesystem::path path(chosen);
    if (path.is_absolute()) return isExecutableFile(path) ? std::optional(path) : std::nullopt;
    return findProgram(chosen);
  }
  return findProgram("pinentry");
}

PromptAnswer PinentryPrompter::confirm(const PromptText& text) { return run(text, false); }

PromptAnswer PinentryPrompter::passphrase(const PromptText& text) { return run(text, true); }

PromptAnswer PinentryPrompter::run(const PromptText& text, bool wantPin) {
  using Outcome = PromptAnswer::Outcome;
  if (program_.empty()) {
    return {Outcome::failed, {}, "no pinentry program was found: install pinentry-curses, or set ORWENNA_PINENTRY"};
  }
  const auto deadline = PinClock::now() + timeLimit_;
  std::optional<PinentryChild> child;
  try {
    child.emplace(program_, environment_, deadline);
  } catch (const std::exception& e) {
    return {Outcome::failed, {}, "pinentry (" + program_.string() + ") did not start: " + e.what()};
  }
  std::string line;
  auto timedOut = [&] {
    child->kill();
    return PromptAnswer(Outcome::timedOut);
  };
  // One command and its final OK or ERR; data lines are handed to `onData`.
  enum class Reply { ok, err, closed, timedOut };
  auto transact = [&](const std::string& command, std::string* data) -> Reply {
    if (!command.empty() && !child->send(command)) return Reply::closed;
    for (;;) {
      switch (child->readLine(line)) {
        case PinentryChild::Read::closed:
          return Reply::closed;
        case PinentryChild::Read::timedOut:
          return Reply::timedOut;
        case PinentryChild::Read::line:
          break;
      }
      if (line == "OK" || line.rfind("OK ", 0) == 0) return Reply::ok;
      if (line.rfind("ERR", 0) == 0) return Reply::err;
      if (line.rfind("D ", 0) == 0 && data) {
        data->append(line, 2, std::string::npos);
        wipeString(line);
      } else if (line.rfind("INQUIRE", 0) == 0) {
        if (!child->send("CAN")) return Reply::closed;
      }
      // "S" status and "#" comment lines are ignored.
    }
  };

  switch (transact("", nullptr)) {  // the greeting
    case Reply::ok:
      break;
    case Reply::timedOut:
      return timedOut();
    default:
      return {Outcome::failed, {}, "pinentry (" + program_.string() + ") did not greet"};
  }
  std::vector<std::string> setup;
  for (const auto& e : environment_) {
    if (e.rfind("GPG_TTY=", 0) == 0) setup.push_back("OPTION ttyname=" + assuanEscape(e.substr(8)));
    if (e.rfind("TERM=", 0) == 0) setup.push_back("OPTION ttytype=" + assuanEscape(e.substr(5)));
  }
  setup.push_back("SETTIMEOUT " + std::to_string(std::chrono::duration_cast<std::chrono::seconds>(timeLimit_).count()));
  setup.push_back("SETTITLE " + cutToLine(assuanEscape(text.title)));
  setup.push_back("SETDESC " + cutToLine(assuanEscape(text.description)));
  if (wantPin) setup.push_back("SETPROMPT " + cutToLine(assuanEscape(text.prompt)));
  if (wantPin && !text.repeat.empty()) setup.push_back("SETREPEAT " + cutToLine(assuanEscape(text.repeat)));
  for (const auto& command : setup) {
    // Options a given pinentry lacks answer ERR; the prompt still works.
    Reply r = transact(command, nullptr);
    if (r == Reply::timedOut) return timedOut();
    if (r == Reply::closed) return {Outcome::failed, {}, "pinentry closed the connection"};
  }

  std::string data;
  Reply r = transact(wantPin ? "GETPIN" : "CONFIRM", wantPin ? &data : nullptr);
  if (r == Reply::timedOut) {
    wipeString(data);
    return timedOut();
  }
  if (r == Reply::closed) {
    wipeString(data);
    return {Outcome::failed, {}, "pinentry closed the connection"};
  }
  if (r == Reply::err) {
    wipeString(data);
    unsigned code = errorCode(line);
    child->send("BYE");
    if (code == kErrTimeout) return PromptAnswer(Outcome::timedOut);
    if (code == kErrCanceled || code == kErrNotConfirmed) return PromptAnswer(Outcome::declined);
    return {Outcome::failed, {}, "pinentry answered " + line};
  }
  child->send("BYE");
  if (!wantPin) return PromptAnswer(Outcome::approved);
  auto pin = assuanUnescape(data);
  wipeString(data);
  if (!pin) return {Outcome::failed, {}, "pinentry sent a malformed passphrase line"};
  PromptAnswer answer(Outcome::approved, *pin);
  wipeString(*pin);
  return answer;
}

}  // namespace orwenna
