#include "app/data_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/log.h"

namespace orwenna {

DataLock::DataLock(const std::filesystem::path& dataDir) {
  const std::filesystem::path file = dataDir / kFileName;
  fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) {
    log::warn("{}: {}", file.string(), std::strerror(errno));
    return;
  }
  while (::flock(fd_, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    log::warn("{}: {}", file.string(), std::strerror(errno));
    break;
  }
}

DataLock::~DataLock() {
  if (fd_ >= 0) ::close(fd_);  // drops the flock
}

std::optional<FileStamp> FileStamp::of(const std::filesystem::path& file) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return std::nullopt;
  FileStamp s;
  s.inode = static_cast<std::uint64_t>(st.st_ino);
  s.size = static_cast<std::uint64_t>(st.st_size);
  s.mtimeNanos = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
  return s;
}

}  // namespace orwenna
