// The user's settings file, defaults.json: one JSON object whose keys belong to
// different modules ("riskPolicy", "agentMemory", "endpoints" — the last read
// once by the wiring root, app/endpoints.h —, …).
//
// A writer replaces only its own key and keeps every other key; the file is
// rewritten atomically, and a file that exists but is not a JSON object is
// never overwritten (the user's hand edit is kept and the write refused).
// Reads never throw: an unreadable file reads as empty, with a log line.
// Read-modify-write is serialised within the process; two processes writing
// at once may lose one key's update (the last rename wins).
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

#include "base/json.h"

namespace orwenna {

class Defaults {
 public:
  explicit Defaults(std::filesystem::path file) : file_(std::move(file)) {}
  // <configDir>/defaults.json of AppPaths::fromEnvironment().
  static std::filesystem::path defaultFile();
  static Defaults standard() { return Defaults(defaultFile()); }

  const std::filesystem::path& file() const { return file_; }

  // The stored value, or nothing when the file, or the key, is missing or the
  // file cannot be read as a JSON object.
  [[nodiscard]] std::optional<Json> value(std::string_view key) const;
  // Throws FileError when the file cannot be written, or when it exists but is
  // not a JSON object (`what` names the setting in the message).
  void setValue(std::string_view key, Json value, std::string_view what) const;

 private:
  std::filesystem::path file_;
};

}  // namespace orwenna
