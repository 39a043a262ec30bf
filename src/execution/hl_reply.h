// HLReply: the outcome of one action posted to Hyperliquid's exchange
// endpoint, read from the reply bytes. The one-line outcome (`kind`) follows
// the exchange's rules — an error in any status wins — while `statuses` keeps
// each order's own outcome, so a caller that sent a stop and a take together
// can tell which of the two failed. A plain value; thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/decimal.h"

namespace orwenna {

// One entry of "response" → "data" → "statuses".
struct HLOrderStatus {
  enum class Kind { filled, resting, error, other };

  Kind kind = Kind::other;
  Decimal size;   // filled: "totalSz"
  Decimal avgPx;  // filled
  std::optional<std::uint64_t> oid;
  std::string message;  // error: the exchange's words; other: its text ("success", "waitingForTrigger")

  bool failed() const { return kind == Kind::error; }
};

struct HLReply {
  enum class Kind { filled, error, ok, resting };

  Kind kind = Kind::ok;
  Decimal size;         // filled
  Decimal avgPx;        // filled
  std::string message;  // error
  std::vector<HLOrderStatus> statuses;
  // The body was not the exchange's JSON (a gateway's error page, a 5xx): the
  // action may or may not have been processed.
  bool unclear = false;

  // "filled 0.02 at 1891.4", the error message itself, "ok", "resting on the book".
  std::string text() const;

  // The reply rules on bytes alone.
  [[nodiscard]] static HLReply parse(std::string_view bytes);
  // The same, and a 5xx status or a body that is not a JSON object is unclear.
  [[nodiscard]] static HLReply parse(int httpStatus, std::string_view bytes);
};

}  // namespace orwenna
