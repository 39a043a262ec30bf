// Envelope: the bounds the user approved by pressing Confirm — the most a move
// may spend, the least that must arrive, the recipient, and until when. Just
// before signing, the move as finally built is checked against it; a caller
// signs only when `violations` is empty. A plain value; thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/decimal.h"
#include "base/json.h"

namespace orwenna {

struct Envelope {
  Decimal maxInput;
  Decimal minOutput;
  std::optional<std::string> destination;
  std::int64_t expires = 0;  // milliseconds since 1970; JSON: ISO-8601

  // The messages, in a fixed order: expiry, spend, arrival, recipient. The
  // recipient is compared as text, so a difference in letter case counts.
  [[nodiscard]] std::vector<std::string> violations(std::int64_t nowMillis, const Decimal& input, const Decimal& output,
                                                    const std::optional<std::string>& recipient) const;

  Json toJson() const;
  // Throws JsonShapeError.
  [[nodiscard]] static Envelope fromJson(const Json& json);
};

}  // namespace orwenna
