// Settling bridge moves the app lost sight of. At start (and now and then),
// every open bridge entry of the last day that is older than two minutes is
// looked up at its bridge; a final outcome is appended to the journal under
// the same chain and id, with a note ending in " (seen later)". Younger
// entries are still followed by the move that wrote them; CCTP has no status
// here, so its entries stay open for the user to check by hand.
//
// The bridge services sit behind `BridgeStatusSource`, so the driver can run
// against fakes; `HttpBridgeStatus` is the real one over HTTP. Thread-safe as
// far as its HttpClient is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/http.h"
#include "execution/journal.h"

namespace orwenna {

class BridgeStatusSource {
 public:
  virtual ~BridgeStatusSource() = default;
  // The raw status word of a Relay request ("success", "refund", "pending", …).
  // Throws on a failed read.
  virtual std::string relayStatus(const std::string& requestId) = 0;
  // The raw status word of a 1Click deposit ("SUCCESS", "PENDING_DEPOSIT",
  // "REFUNDED", …). Throws on a failed read.
  virtual std::string oneClickStatus(const std::string& depositAddress) = 0;
};

// GET {relay}/intents/status/v3?requestId=… and
// GET {oneClick}/v0/status?depositAddress=…, each answering {"status": …}.
class HttpBridgeStatus final : public BridgeStatusSource {
 public:
  // The services' public roots (ORWENNA_RELAY_API, ORWENNA_ONECLICK_API).
  static constexpr const char* kRelayDefault = "https://api.relay.link";
  static constexpr const char* kOneClickDefault = "https://1click.chaindefuser.com";

  static constexpr std::chrono::milliseconds kTimeLimit{15000};
  HttpBridgeStatus(HttpClient& http, std::string relayBase, std::string oneClickBase);
  std::string relayStatus(const std::string& requestId) override;
  std::string oneClickStatus(const std::string& depositAddress) override;

 private:
  std::string get(const std::string& url, const char* service);
  HttpClient& http_;
  std::string relayBase_;
  std::string oneClickBase_;
};

struct BridgeRecovery {
  static constexpr std::int64_t kWindowSeconds = 86400;
  static constexpr std::int64_t kMinAgeSeconds = 120;
  static constexpr std::int64_t kDepositExpirySeconds = 3900;

  struct Result {
    std::vector<Journal::Entry> appended;
    std::vector<std::string> unreadable;  // "relay 0xabc: why", for the log
  };

  // Polls and appends as described above. A status that cannot be read leaves
  // its entry open and goes on with the others; a failed append throws
  // JournalError.
  static Result run(Journal& journal, BridgeStatusSource& source, std::int64_t nowMillis);
};

}  // namespace orwenna
