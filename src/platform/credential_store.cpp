#include "platform/credential_store.h"

#include "base/files.h"
#include "base/log.h"

namespace orwenna {

FileCredentialStore::FileCredentialStore(std::filesystem::path file) : file_(std::move(file)) {}

FileCredentialStore& FileCredentialStore::shared() {
  static FileCredentialStore store(AppPaths::fromEnvironment().configDir / "credentials.json");
  return store;
}

Json FileCredentialStore::readAll() const {
  try {
    std::optional<std::string> text = readFile(file_);
    if (!text) return Json::object();
    std::optional<Json> parsed = parseJson(*text);
    if (parsed && parsed->is_object()) return *parsed;
    log::warn("credential file {} is not a JSON object; treating it as empty", file_.string());
  } catch (const FileError& e) {
    log::warn("credential file unreadable: {}", e.what());
  }
  return Json::object();
}

void FileCredentialStore::writeAll(const Json& all) const {
  ensureDirectory(file_.parent_path());
  writeFileAtomically(file_, all.dump(2) + "\n", 0600);
}

std::optional<Json> FileCredentialStore::load(const std::string& service, const std::string& account) {
  std::lock_guard lock(mutex_);
  auto key = std::make_pair(service, account);
  if (auto hit = cache_.find(key); hit != cache_.end()) return hit->second;
  Json all = readAll();
  auto s = all.find(service);
  if (s == all.end() || !s->is_object()) return std::nullopt;
  auto a = s->find(account);
  if (a == s->end() || a->is_null()) return std::nullopt;
  cache_[key] = *a;
  return *a;
}

void FileCredentialStore::save(const std::string& service, const std::string& account, const Json& value) {
  std::lock_guard lock(mutex_);
  // Read fresh so entries written by another process since we last looked survive.
  Json all = readAll();
  Json& s = all[service];
  if (!s.is_object()) s = Json::object();
  s.erase(account);
  s[account] = value;
  writeAll(all);
  cache_[std::make_pair(service, account)] = value;
}

void FileCredentialStore::remove(const std::string& service, const std::string& account) {
  std::lock_guard lock(mutex_);
  cache_.erase(std::make_pair(service, account));
  Json all = readAll();
  auto s = all.find(service);
  if (s == all.end() || !s->is_object() || !s->contains(account)) return;
  s->erase(account);
  writeAll(all);
}

std::optional<Json> MemoryCredentialStore::load(const std::string& service, const std::string& account) {
  std::lock_guard lock(mutex_);
  auto it = entries_.find({service, account});
  if (it == entries_.end()) return std::nullopt;
  return it->second;
}

void MemoryCredentialStore::save(const std::string& service, const std::string& account, const Json& value) {
  std::lock_guard lock(mutex_);
  entries_[{service, account}] = value;
}

void MemoryCredentialStore::remove(const std::string& service, const std::string& account) {
  std::lock_guard lock(mutex_);
  entries_.erase({service, account});
}

}  // namespace orwenna
