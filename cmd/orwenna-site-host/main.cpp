// orwenna-site-host --socket PATH: started by Chromium for our extension. It
// carries native-messaging frames (a 4-byte length in the machine's byte
// order, then JSON) from standard input to the app's site socket as lines, and
// the socket's lines back as frames. It holds nothing and decides nothing;
// when either side closes, it ends, and the extension answers what was
// waiting.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace {

// Chromium takes at most 1 MB in one message from a host.
constexpr std::size_t kMaxToBrowser = 1024 * 1024;
constexpr std::size_t kMaxFromBrowser = 64 * 1024 * 1024;

bool writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool frameToBrowser(std::string_view json) {
  // The app keeps its replies below the limit; anything else is not ours to pass.
  if (json.size() > kMaxToBrowser) return true;
  const auto length = static_cast<std::uint32_t>(json.size());
  char header[4];
  std::memcpy(header, &length, 4);
  return writeAll(STDOUT_FILENO, std::string_view(header, 4)) && writeAll(STDOUT_FILENO, json);
}

int connectTo(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) return -1;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

int main(int argc, char** argv) {
  std::string socketPath;
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--socket" && i + 1 < argc) socketPath = argv[++i];
  }
  if (socketPath.empty()) {
    const char usage[] = "usage: orwenna-site-host --socket PATH (started by the browser)\n";
    (void)::write(STDERR_FILENO, usage, sizeof(usage) - 1);
    return 2;
  }
  const int app = connectTo(socketPath);
  if (app < 0) return 1;  // orwenna isn't running: the extension tells the page

  std::string fromBrowser, fromApp;
  char chunk[65536];
  pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {app, POLLIN, 0}};
  for (;;) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return 1;
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      ssize_t n = ::read(STDIN_FILENO, chunk, sizeof(chunk));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return 0;
      fromBrowser.append(chunk, static_cast<std::size_t>(n));
      while (fromBrowser.size() >= 4) {
        std::uint32_t length = 0;
        std::memcpy(&length, fromBrowser.data(), 4);
        if (length > kMaxFromBrowser) return 1;
        if (fromBrowser.size() < 4 + static_cast<std::size_t>(length)) break;
        std::string line = fromBrowser.substr(4, length);
        fromBrowser.erase(0, 4 + static_cast<std::size_t>(length));
        // JSON from the browser holds no raw line breaks; drop any anyway.
        for (char& c : line) {
          if (c == '\n' || c == '\r') c = ' ';
        }
        if (!writeAll(app, line + "\n")) return 1;
      }
    }
    if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
      ssize_t n = ::read(app, chunk, sizeof(chunk));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return 0;
      fromApp.append(chunk, static_cast<std::size_t>(n));
      std::size_t newline;
      while ((newline = fromApp.find('\n')) != std::string::npos) {
        if (!frameToBrowser(std::string_view(fromApp).substr(0, newline))) return 0;
        fromApp.erase(0, newline + 1);
      }
    }
  }
}
