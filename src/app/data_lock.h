// Keeping the automation files (alerts.json, the tasks in defaults.json) the
// one truth when several processes use them: the app, `orwenna chat` and
// `serve` at once, and the command line's `alerts`/`tasks`. Every
// read-modify-write holds an exclusive flock on a lock file in the data
// folder, and a store reloads a file whose stamp (inode, size, mtime) is not
// the one it last saw or wrote — writes replace the file by rename, so the
// inode alone tells a new version.
//
// A DataLock blocks until it holds the lock; it excludes other open files
// even within one process. Not copyable; one thread owns it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace orwenna {

class DataLock {
 public:
  static constexpr const char* kFileName = "automations.lock";

  // Locks `<dataDir>/automations.lock`. When the file can't be opened the
  // write goes on unlocked (logged): a read-only folder fails at the write.
  explicit DataLock(const std::filesystem::path& dataDir);
  ~DataLock();
  DataLock(const DataLock&) = delete;
  DataLock& operator=(const DataLock&) = delete;

 private:
  int fd_ = -1;
};

struct FileStamp {
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  std::int64_t mtimeNanos = 0;
  friend bool operator==(const FileStamp&, const FileStamp&) = default;

  // Nothing when the file is missing.
  [[nodiscard]] static std::optional<FileStamp> of(const std::filesystem::path& file);
};

}  // namespace orwenna
