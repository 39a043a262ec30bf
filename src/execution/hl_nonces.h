// HLNonces: the one source of Hyperliquid nonces for an account, shared by L1
// and user-signed actions. Each nonce is max(now in milliseconds, last + 1),
// so nonces strictly increase even within one millisecond; seeded from the
// highest "hyperliquid" id in the journal, the floor survives restarts and a
// clock that stepped back.
//
// Thread-safe: next() takes and stores the nonce under one lock.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string_view>

#include "base/clock.h"
#include "execution/journal.h"

namespace orwenna {

class HLNonces {
 public:
  // REQUIRES: clock outlives this value.
  explicit HLNonces(const Clock& clock, std::uint64_t last = 0) : clock_(clock), last_(last) {}
  // Seeded from the journal's highest Hyperliquid id. Throws JournalError
  // when the journal exists but cannot be read.
  static std::uint64_t highestIn(const Journal& journal);

  std::uint64_t next();
  std::uint64_t last() const;

  // A journal id that is a nonce: decimal digits only.
  [[nodiscard]] static std::optional<std::uint64_t> parseId(std::string_view id);

 private:
  const Clock& clock_;
  mutable std::mutex mutex_;
  std::uint64_t last_;
};

}  // namespace orwenna
