#include "platform/defaults.h"

#include <mutex>

#include "base/files.h"
#include "base/log.h"

namespace orwenna {
namespace {

std::mutex& writeMutex() {
  static std::mutex m;
  return m;
}

}  // namespace

std::filesystem::path Defaults::defaultFile() { return AppPaths::fromEnvironment().configDir / "defaults.json"; }

std::optional<Json> Defaults::value(std::string_view key) const {
  std::optional<std::string> text;
  try {
    text = readFile(file_);
  } catch (const FileError& e) {
    log::warn("settings not read: {}", e.what());
    return std::nullopt;
  }
  if (!text) return std::nullopt;
  auto json = parseJson(*text);
  if (!json || !json->is_object()) {
    log::warn("settings not read: {} is not a JSON object", file_.string());
    return std::nullopt;
  }
  auto it = json->find(std::string(key));
  if (it == json->end()) return std::nullopt;
  return *it;
}

void Defaults::setValue(std::string_view key, Json value, std::string_view what) const {
  std::lock_guard lock(writeMutex());
  Json all = Json::object();
  if (auto text = readFile(file_)) {
    auto json = parseJson(*text);
    if (!json || !json->is_object())
      throw FileError(file_.string() + " is not a JSON object; " + std::string(what) + " was not saved.");
    all = std::move(*json);
  }
  all[std::string(key)] = std::move(value);
  ensureDirectory(file_.parent_path());
  writeFileAtomically(file_, all.dump(2) + "\n");
}

}  // namespace orwenna
