#include "app/file_writer.h"

#include <exception>

#include "base/files.h"
#include "base/log.h"

namespace orwenna {

CoalescingWriter::CoalescingWriter(std::filesystem::path folder, Notice onFailure, std::chrono::milliseconds delay,
                                   std::chrono::milliseconds retry)
    : folder_(std::move(folder)), onFailure_(std::move(onFailure)), delay_(delay), retry_(retry) {
  thread_ = std::thread([this] { run(); });
}

CoalescingWriter::~CoalescingWriter() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  thread_.join();
  flush();
}

void CoalescingWriter::save(const std::string& name, std::string contents) {
  {
    std::lock_guard lock(mutex_);
    if (held_.count(name)) return;
    waiting_[name] = std::move(contents);
  }
  wake_.notify_all();
}

void CoalescingWriter::setCollector(Collect collect) {
  std::lock_guard lock(mutex_);
  collect_ = std::move(collect);
}

void CoalescingWriter::markDirty(const std::string& name) {
  {
    std::lock_guard lock(mutex_);
    if (held_.count(name) || !dirty_.insert(name).second) return;
  }
  wake_.notify_all();
}

void CoalescingWriter::hold(const std::string& name) {
  std::lock_guard lock(mutex_);
  held_.insert(name);
  waiting_.erase(name);
}

std::size_t CoalescingWriter::waiting() const {
  std::lock_guard lock(mutex_);
  return waiting_.size() + (writing_ ? 1 : 0);
}

bool CoalescingWriter::flush() {
  std::unique_lock lock(mutex_);
  // Another flush or the thread may be mid-write; its failures stay waiting.
  wake_.wait(lock, [this] { return !writing_; });
  return writeWaiting(lock);
}

bool CoalescingWriter::writeWaiting(std::unique_lock<std::mutex>& lock) {
  std::map<std::string, std::string> batch;
  batch.swap(waiting_);
  writing_ = true;
  std::vector<std::string> notices;
  lock.unlock();
  std::map<std::string, std::string> failed;
  for (auto& [name, contents] : batch) {
    try {
      ensureDirectory(folder_);
      writeFileAtomically(folder_ / name, contents);
      std::lock_guard g(mutex_);
      failing_.erase(name);
    } catch (const std::exception& e) {
      log::warn("couldn't write {}: {}", name, e.what());
      std::lock_guard g(mutex_);
      if (failing_.insert(name).second)
        notices.push_back(name + " couldn't be saved (" + e.what() + "); it will be tried again.");
      failed.emplace(name, std::move(contents));
    }
  }
  lock.lock();
  // A newer save made meanwhile wins over the failed content.
  for (auto& [name, contents] : failed) waiting_.emplace(name, std::move(contents));
  writing_ = false;
  bool clean = waiting_.empty();
  lock.unlock();
  wake_.notify_all();
  if (onFailure_)
    for (const auto& n : notices) onFailure_(n);
  lock.lock();
  return clean;
}

void CoalescingWriter::run() {
  std::unique_lock lock(mutex_);
  while (!quit_) {
    wake_.wait(lock, [this] { return quit_ || ((!waiting_.empty() || !dirty_.empty()) && !writing_); });
    if (quit_) break;
    // Let the saves of one burst land on the same write.
    wake_.wait_for(lock, delay_, [this] { return quit_; });
    if (quit_) break;
    if (!dirty_.empty() && collect_) {
      std::vector<std::string> names(dirty_.begin(), dirty_.end());
      dirty_.clear();
      Collect collect = collect_;
      lock.unlock();
      collect(names);
      lock.lock();
      continue;
    }
    dirty_.clear();
    if (writing_ || waiting_.empty()) continue;
    if (!writeWaiting(lock)) wake_.wait_for(lock, retry_, [this] { return quit_; });
  }
}

StoredText loadStored(const std::filesystem::path& folder, const std::string& name, std::int64_t nowMillis,
                      const std::function<void(std::string_view)>& check) {
  const std::filesystem::path path = folder / name;
  std::string reason;
  try {
    auto text = readFile(path);
    if (!text) return {};
    check(*text);
    return StoredText{std::move(text), std::nullopt, false};
  } catch (const std::exception& e) {
    reason = e.what();
  }
  const std::string aside = name + ".corrupt-" + std::to_string(nowMillis);
  std::error_code ec;
  std::filesystem::rename(path, folder / aside, ec);
  if (ec) {
    log::error("couldn't set {} aside: {}", name, ec.message());
    return StoredText{std::nullopt,
                      name + " couldn't be read (" + reason + ") or set aside (" + ec.message() +
                          "), so it is left as it is and nothing is saved over it until the app restarts.",
                      true};
  }
  log::warn("{} set aside as {}: {}", name, aside, reason);
  return StoredText{std::nullopt,
                    name + " couldn't be read (" + reason + "), so it was set aside as " + aside +
                        " and a new one was started; nothing in it was deleted.",
                    false};
}

}  // namespace orwenna
