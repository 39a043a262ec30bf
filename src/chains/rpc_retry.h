// What the Solana and EVM JSON-RPC clients share: the request envelope, the
// reading of a JSON-RPC "error" member, and the retry loop over a node list
// (which failures are worth another try, how long to wait between tries).
// Each client keeps its own error class and sentences; a failed attempt steers
// the loop by throwing RPCRetry::Again around that error.
//
// Stateless; thread-safe. Waits go through the Clock the caller passes, so
// tests never really sleep.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.h"
#include "base/json.h"

namespace orwenna {

struct RPCRetry {
  // Thrown by an attempt to steer the loop: retry (`again`) or give up, with
  // the underlying error that is rethrown when the loop ends.
  class Again : public std::runtime_error {
   public:
    Again(bool again, std::exception_ptr error, const std::string& message)
        : std::runtime_error(message), again(again), error(std::move(error)) {}
    bool again;
    std::exception_ptr error;
  };

  static constexpr std::array<std::int64_t, 4> kWaitsMillis{1000, 2000, 4000, 8000};
  // The time-out of one attempt.
  static constexpr std::chrono::seconds kTimeout{30};

  // Runs `attempt` against the nodes in list order, wrapping, at most five
  // times with the waits above between tries. Retried: a NetError of kind
  // connection or timeout, or Again with `again` true. Anything else, and the
  // last failure, is thrown. An empty list throws ChainError
  // "No RPC node is set." without an attempt.
  static Json run(const std::vector<std::string>& nodes, Clock& clock,
                  const std::function<Json(const std::string& url)>& attempt);

  // A node's error text worth retrying: lower-cased, no "revert", and one of
  // the phrases of overload, rate limits and passing faults.
  [[nodiscard]] static bool isRetryableText(std::string_view text);

  // An HTTP status worth another try: rate limits and server faults, and a
  // refused key only when another node can be asked.
  [[nodiscard]] static bool isRetryableStatus(int status, bool severalNodes);

  // The body of one JSON-RPC 2.0 call: {"jsonrpc":"2.0","id":1,"method":…,"params":…}.
  static std::string requestBody(const std::string& method, const Json& params);

  // The text of a JSON-RPC "error" member: its "message", or the whole member.
  static std::string errorMessage(const Json& error);

  // The first 120 bytes of an answer, quoted in error sentences.
  static std::string excerpt(std::string_view body) { return std::string(body.substr(0, 120)); }
};

}  // namespace orwenna
