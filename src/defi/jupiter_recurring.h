// Jupiter's recurring orders (time-based): creating one and cancelling one
// answer an unsigned transaction for the wallet to sign and send through the
// Solana send pipeline; listing reads the wallet's active orders page by
// page (five pages at most). Nothing here signs or sends.
//
// Stateless beyond its HttpClient; thread-safe as far as that client is.
// Failures are JupiterError ("Jupiter: " + the service's error, or the
// answer's first 300 bytes); transport failures are NetError.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "base/decimal.h"
#include "base/http.h"
#include "base/json.h"
#include "defi/jupiter.h"

namespace orwenna {

class JupiterRecurring {
 public:
  static constexpr int kMaxPages = 5;

  struct Order {
    std::string key;
    std::string inputMint;
    std::string outputMint;
    Decimal deposited;
    Decimal used;
    Decimal perCycle;
    std::int64_t every = 0;  // seconds
    Decimal received;
    std::optional<std::string> createdAt;
    std::size_t fills = 0;
  };

  // What the wallet signs for a create or a cancel.
  struct Request {
    std::string requestId;
    Bytes transaction;
  };

  // `base` without a trailing slash (ORWENNA_JUPITER_RECURRING_API).
  JupiterRecurring(HttpClient& http, std::string base);

  // `inAmount` in base units, spent over `numberOfOrders` every `interval` seconds.
  Request create(const std::string& wallet, const std::string& inputMint, const std::string& outputMint,
                 std::uint64_t inAmount, int numberOfOrders, std::int64_t interval) const;
  Request cancel(const std::string& wallet, const std::string& orderKey) const;
  std::vector<Order> orders(const std::string& wallet) const;

  // The answers read on their own. Throw JupiterError.
  [[nodiscard]] static Request readRequest(int status, const std::string& body);
  // One page's orders and its totalPages.
  [[nodiscard]] static std::pair<std::vector<Order>, int> readOrders(const std::string& body);

 private:
  Request post(const std::string& path, const Json& body) const;
  HttpClient& http_;
  std::string base_;
};

}  // namespace orwenna
