// Small helpers every test program shares: published vectors from tests/data/,
// the message of an expected failure, a clock that moves only when slept on,
// scripted randomness and a temporary folder.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/files.h"
#include "base/json.h"

namespace orwenna::testing {

// The parsed JSON of tests/data/<name>; throws when the file is missing or is
// not JSON, so a lost vector file fails loudly instead of testing nothing.
inline Json loadTestJson(const std::string& name) {
  auto text = readFile(std::string(ORWENNA_TEST_DATA_DIR) + "/" + name);
  if (!text) throw std::runtime_error("missing test data " + name);
  auto json = parseJson(*text);
  if (!json) throw std::runtime_error("test data " + name + " is not JSON");
  return *json;
}

// The message of the exception `f` throws, or "" when it returns normally.
inline std::string errorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

// Fails the test unless `f` throws with exactly this message.
inline void expectFailure(const std::function<void()>& f, const std::string& message) {
  EXPECT_EQ(errorOf(f), message);
}

// Stands still until slept on: each sleep moves both readings on and is
// recorded, so retry waits are checked without waiting. Thread-safe.
class FixedClock final : public Clock {
 public:
  explicit FixedClock(std::int64_t now = 1'800'000'000'000) : start_(now) {}
  std::int64_t nowMillis() const override {
    std::lock_guard lock(mutex_);
    return start_ + elapsed_;
  }
  std::int64_t monotonicMillis() const override {
    std::lock_guard lock(mutex_);
    return elapsed_;
  }
  void sleepFor(std::int64_t millis) override {
    std::lock_guard lock(mutex_);
    sleeps_.push_back(millis);
    elapsed_ += millis;
  }
  std::vector<std::int64_t> sleeps() const {
    std::lock_guard lock(mutex_);
    return sleeps_;
  }

 private:
  mutable std::mutex mutex_;
  std::int64_t start_;
  std::int64_t elapsed_ = 0;
  std::vector<std::int64_t> sleeps_;
};

// Hands out the given bytes, then counts upward from 1.
class ScriptedRandom final : public Random {
 public:
  explicit ScriptedRandom(std::vector<std::uint8_t> bytes = {}) : bytes_(std::move(bytes)) {}
  void fill(std::span<std::uint8_t> out) override {
    for (auto& b : out) b = next_ < bytes_.size() ? bytes_[next_++] : static_cast<std::uint8_t>(++counter_);
  }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t next_ = 0;
  std::uint8_t counter_ = 0;
};

// A fresh folder under the system's temporary folder, removed with all it
// holds (read-only entries included) when the value goes away.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orwenna-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary folder");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace orwenna::testing
