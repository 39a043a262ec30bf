// The app's folders and durable file writes.
//
// Data (journal, activity, canvases, alerts) lives in $XDG_DATA_HOME/orwenna,
// settings and credentials in $XDG_CONFIG_HOME/orwenna, the signer's socket in
// $XDG_RUNTIME_DIR/orwenna. When ORWENNA_HOME is set all three live under it
// ($ORWENNA_HOME/data, /config, /run); tests always set it.
#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/types.h>

#include "base/error.h"

namespace orwenna {

// A file operation that failed; the message names the file and the reason.
class FileError : public Error {
 public:
  using Error::Error;
};

struct AppPaths {
  std::filesystem::path dataDir;
  std::filesystem::path configDir;
  std::filesystem::path runtimeDir;

  // From the environment, as described above. Does not create anything.
  static AppPaths fromEnvironment();
  // Creates the folders (mode 0700) when missing; throws FileError.
  void ensureExist() const;
};

// Writes `contents` so that a crash or failure never leaves half a file: a
// temporary file in the same folder is written, flushed, given `mode`, renamed
// over `path`, and the folder is flushed. On failure the old file is untouched
// and the temporary file is removed. Throws FileError.
void writeFileAtomically(const std::filesystem::path& path, std::string_view contents, mode_t mode = 0600);

// Appends one record and flushes it to disk (for append-only logs). Throws FileError.
void appendDurably(const std::filesystem::path& path, std::string_view contents, mode_t mode = 0600);

// The whole file, or nothing when it does not exist. Throws FileError when it
// exists but cannot be read.
[[nodiscard]] std::optional<std::string> readFile(const std::filesystem::path& path);

// Creates a folder and its parents with `mode` where missing. Throws FileError.
void ensureDirectory(const std::filesystem::path& path, mode_t mode = 0700);

// The permission bits of a file, or nothing when it does not exist.
[[nodiscard]] std::optional<mode_t> fileMode(const std::filesystem::path& path);

}  // namespace orwenna
