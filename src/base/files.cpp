#include "base/files.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

namespace orwenna {

namespace fs = std::filesystem;

namespace {

std::string reason() { return std::strerror(errno); }

std::optional<std::string> env(const char* name) {
  const char* v = std::getenv(name);
  if (!v || !*v) return std::nullopt;
  return std::string(v);
}

// Closes a descriptor when it goes out of scope.
struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

void writeAll(int fd, std::string_view data, const fs::path& path) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      throw FileError(fmt::format("Could not write {}: {}", path.string(), reason()));
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
}

void syncFolder(const fs::path& folder) {
  Fd dir{::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  if (dir.fd < 0 || ::fsync(dir.fd) != 0) {
    throw FileError(fmt::format("Could not flush folder {}: {}", folder.string(), reason()));
  }
}

}  // namespace

AppPaths AppPaths::fromEnvironment() {
  AppPaths p;
  if (auto home = env("ORWENNA_HOME")) {
    fs::path root(*home);
    p.dataDir = root / "data";
    p.configDir = root / "config";
    p.runtimeDir = root / "run";
    return p;
  }
  fs::path userHome = env("HOME").value_or("/tmp");
  p.dataDir = fs::path(env("XDG_DATA_HOME").value_or((userHome / ".local/share").string())) / "orwenna";
  p.configDir = fs::path(env("XDG_CONFIG_HOME").value_or((userHome / ".config").string())) / "orwenna";
  if (auto runtime = env("XDG_RUNTIME_DIR")) {
    p.runtimeDir = fs::path(*runtime) / "orwenna";
  } else {
    p.runtimeDir = fs::temp_directory_path() / fmt::format("orwenna-{}", ::getuid());
  }
  return p;
}

void AppPaths::ensureExist() const {
  ensureDirectory(dataDir);
  ensureDirectory(configDir);
  ensureDirectory(runtimeDir);
}

void ensureDirectory(const fs::path& path, mode_t mode) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) return;
  fs::path partial;
  for (const auto& part : path) {
    partial /= part;
    if (fs::is_directory(partial, ec)) continue;
    if (::mkdir(partial.c_str(), mode) != 0 && errno != EEXIST) {
      throw FileError(fmt::format("Could not create folder {}: {}", partial.string(), reason()));
    }
  }
}

void writeFileAtomically(const fs::path& path, std::string_view contents, mode_t mode) {
  fs::path folder = path.parent_path();
  std::string name = ".";
  name += path.filename().string();
  name += ".XXXXXX";
  std::string tmpl = (folder / name).string();
  Fd file{::mkostemp(tmpl.data(), O_CLOEXEC)};
  if (file.fd < 0) throw FileError(fmt::format("Could not write {}: {}", path.string(), reason()));
  try {
    if (::fchmod(file.fd, mode) != 0) throw FileError(fmt::format("Could not set mode of {}: {}", path.string(), reason()));
    writeAll(file.fd, contents, path);
    if (::fsync(file.fd) != 0) throw FileError(fmt::format("Could not flush {}: {}", path.string(), reason()));
    int fd = file.fd;
    file.fd = -1;
    if (::close(fd) != 0) throw FileError(fmt::format("Could not write {}: {}", path.string(), reason()));
    if (::rename(tmpl.c_str(), path.c_str()) != 0) {
      throw FileError(fmt::format("Could not replace {}: {}", path.string(), reason()));
    }
  } catch (...) {
    ::unlink(tmpl.c_str());
    throw;
  }
  syncFolder(folder);
}

void appendDurably(const fs::path& path, std::string_view contents, mode_t mode) {
  Fd file{::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, mode)};
  if (file.fd < 0) throw FileError(fmt::format("Could not open {}: {}", path.string(), reason()));
  writeAll(file.fd, contents, path);
  if (::fsync(file.fd) != 0) throw FileError(fmt::format("Could not flush {}: {}", path.string(), reason()));
}

std::optional<std::string> readFile(const fs::path& path) {
  Fd file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0) {
    if (errno == ENOENT) return std::nullopt;
    throw FileError(fmt::format("Could not read {}: {}", path.string(), reason()));
  }
  std::string out;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(file.fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw FileError(fmt::format("Could not read {}: {}", path.string(), reason()));
    }
    if (n == 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  return out;
}

std::optional<mode_t> fileMode(const fs::path& path) {
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return st.st_mode & 07777;
}

}  // namespace orwenna
