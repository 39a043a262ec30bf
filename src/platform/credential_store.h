// Small secrets kept per service and account: model keys and tokens, node keys.
//
// On disk this is one JSON object in `configDir/credentials.json`, mode 0600,
// shaped {"<service>": {"<account>": <value>}}, rewritten atomically on every
// change. A missing, unreadable or malformed file or entry reads as nothing:
// callers treat that as "no credential", never as an error to show.
// Thread-safe.
#pragma once

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "base/json.h"

namespace orwenna {

class CredentialStore {
 public:
  virtual ~CredentialStore() = default;
  [[nodiscard]] virtual std::optional<Json> load(const std::string& service, const std::string& account) = 0;
  // Replaces any existing entry. Throws FileError when the file cannot be written.
  virtual void save(const std::string& service, const std::string& account, const Json& value) = 0;
  // Removing a missing entry is not an error. Throws FileError when the file cannot be written.
  virtual void remove(const std::string& service, const std::string& account) = 0;
};

class FileCredentialStore final : public CredentialStore {
 public:
  explicit FileCredentialStore(std::filesystem::path file);
  // `AppPaths::fromEnvironment().configDir / "credentials.json"`.
  static FileCredentialStore& shared();

  std::optional<Json> load(const std::string& service, const std::string& account) override;
  void save(const std::string& service, const std::string& account, const Json& value) override;
  void remove(const std::string& service, const std::string& account) override;

  const std::filesystem::path& file() const { return file_; }

 private:
  Json readAll() const;
  void writeAll(const Json& all) const;

  std::filesystem::path file_;
  std::mutex mutex_;
  std::map<std::pair<std::string, std::string>, Json> cache_;
};

// Keeps entries in memory only; for tests and for runs that must not touch disk.
class MemoryCredentialStore final : public CredentialStore {
 public:
  std::optional<Json> load(const std::string& service, const std::string& account) override;
  void save(const std::string& service, const std::string& account, const Json& value) override;
  void remove(const std::string& service, const std::string& account) override;

 private:
  std::mutex mutex_;
  std::map<std::pair<std::string, std::string>, Json> entries_;
};

}  // namespace orwenna
