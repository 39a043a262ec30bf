// The execution journal: one JSON line per event of a money move, appended
// and flushed to disk before the move goes on, never rewritten. Every signed
// transaction or action is written `signed` before it is sent and its outcome
// after, so a move cut short by a crash, a quit or a lost reply can be found
// again (`open`) and settled later.
//
// A move is keyed by (chain, id): ids from different chains may look alike.
// A line torn by a crash mid-write is skipped when reading (and counted), and
// the next append starts on a fresh line, so one bad line never hides the
// rest. Each append opens the file anew and holds an exclusive flock while it
// writes; flock excludes other open files even within one process, so lines
// from threads and from other processes (the app and the command line) never
// interleave. A plain value; thread-safe.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "base/json.h"

namespace orwenna {

// The journal could not be read or written; the message names the file and
// the reason.
class JournalError : public Error {
 public:
  using Error::Error;
};

class Journal {
 public:
  struct Entry {
    // C++ reserves `signed`; its JSON form is "signed".
    enum class Kind { signed_, confirmed, failed, expired, settled };

    std::int64_t at = 0;  // milliseconds since 1970; JSON: ISO-8601
    std::string chain;    // "hyperliquid", "solana", "near", an EVM network, "relay", "1click", "cctp"
    std::string id;       // nonce, signature or hash, bridge request or deposit id
    Kind kind = Kind::signed_;
    std::string note;

    Json toJson() const;
    // Nothing when the line is not an entry.
    [[nodiscard]] static std::optional<Entry> fromJson(const Json& json);
    bool operator==(const Entry&) const = default;
  };

  static std::string_view kindName(Entry::Kind kind);
  [[nodiscard]] static std::optional<Entry::Kind> kindNamed(std::string_view name);

  struct Contents {
    std::vector<Entry> entries;
    std::size_t skippedLines = 0;  // torn or undecodable
  };

  static constexpr const char* kFileName = "journal.jsonl";

  explicit Journal(std::filesystem::path url);
  // <dataDir>/journal.jsonl
  static Journal inDataFolder(const std::filesystem::path& dataDir);

  const std::filesystem::path& url() const { return url_; }

  // Appends one line and flushes it to disk. The first append creates the
  // file (0600) and its folders. Throws JournalError; a move must not go on
  // as if the entry were written.
  void append(const Entry& entry);

  // Every readable entry in file order; a missing file is empty. Throws
  // JournalError when the file exists but cannot be read.
  Contents read() const;
  std::vector<Entry> entries() const { return read().entries; }

  // The moves whose last entry is `signed`: their `signed` entries.
  std::vector<Entry> open() const;
  // The open entries on a bridge ("relay", "1click", "cctp") written less than
  // `windowSeconds` before `nowMillis`.
  std::vector<Entry> pendingBridges(std::int64_t nowMillis, std::int64_t windowSeconds) const;

  // The open moves among `entries`, for callers that already read them.
  static std::vector<Entry> openAmong(const std::vector<Entry>& entries);

 private:
  std::filesystem::path url_;
};

bool isBridgeChain(std::string_view chain);

}  // namespace orwenna
