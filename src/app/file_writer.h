// The one writer of the app's JSON files. Each save replaces whatever was
// waiting for that file name; a single background thread writes everything
// waiting, shortly after the first save, each file atomically. A failed write
// stays waiting and is retried; the user is told once per run of failures.
// `flush` writes at once (quit, SIGTERM, tests).
//
// Reading a stored file goes through `loadStored`: a file that cannot be read
// or parsed is renamed aside, never replaced by an empty one, and the sentence
// saying so is returned.
//
// CoalescingWriter is thread-safe; the failure callback runs on the writer's
// thread (or the thread calling flush).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace orwenna {

class CoalescingWriter {
 public:
  using Notice = std::function<void(const std::string& sentence)>;

  // REQUIRES: `folder` exists or can be created.
  CoalescingWriter(std::filesystem::path folder, Notice onFailure,
                   std::chrono::milliseconds delay = std::chrono::milliseconds(200),
                   std::chrono::milliseconds retry = std::chrono::seconds(5));
  // Writes what is still waiting.
  ~CoalescingWriter();
  CoalescingWriter(const CoalescingWriter&) = delete;
  CoalescingWriter& operator=(const CoalescingWriter&) = delete;

  void save(const std::string& name, std::string contents);
  // For files whose text is costly to make: the writer asks `collect` for the
  // names marked dirty, once per delay, and the owner answers with save().
  // `collect` runs on the writer's thread.
  using Collect = std::function<void(const std::vector<std::string>& names)>;
  void setCollector(Collect collect);
  void markDirty(const std::string& name);
  // Never write this name again in this run (its stored file could not be set aside).
  void hold(const std::string& name);
  // Writes everything waiting now; true when nothing is left waiting.
  bool flush();
  std::size_t waiting() const;
  const std::filesystem::path& folder() const { return folder_; }

 private:
  void run();
  bool writeWaiting(std::unique_lock<std::mutex>& lock);

  std::filesystem::path folder_;
  Notice onFailure_;
  std::chrono::milliseconds delay_;
  std::chrono::milliseconds retry_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::map<std::string, std::string> waiting_;
  std::set<std::string> held_;
  std::set<std::string> dirty_;
  Collect collect_;
  std::set<std::string> failing_;  // told once until the next success
  bool writing_ = false;
  bool quit_ = false;
  std::thread thread_;
};

struct StoredText {
  std::optional<std::string> text;    // nothing: no file (or it was set aside)
  std::optional<std::string> notice;  // the sentence when the file was set aside
  bool held = false;                  // it could not even be set aside: never overwrite it
};

// Reads `folder`/`name` and checks it with `check` (which throws on a bad
// file). A file that fails either is renamed to "<name>.corrupt-<nowMillis>".
[[nodiscard]] StoredText loadStored(const std::filesystem::path& folder, const std::string& name,
                                    std::int64_t nowMillis, const std::function<void(std::string_view)>& check);

}  // namespace orwenna
