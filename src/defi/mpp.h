// MPP, the "Payment" HTTP authentication scheme, as far as orwenna pays with
// it: a service answers 402 with a `WWW-Authenticate: Payment …` challenge
// whose `request` (base64url JSON) names an amount, a token and a recipient;
// the client pays and repeats the request with the credential — base64url
// JSON echoing the challenge, with the payment's proof — in the header the
// challenge selects (`Authorization` unless it says `Payment-Authorization`).
//
// Wire format: the IETF draft "The 'Payment' HTTP Authentication Scheme"
// (https://datatracker.ietf.org/doc/draft-httpauth-payment/, revision 01:
// challenge and credential) and Tempo Labs' draft-tempo-charge-00 (the
// "tempo" method's "charge" intent: request fields, the "hash" payload).
// orwenna pays the transfer itself through its own EVM pipeline and proves it
// with the "hash" payload; it never hands a signed transaction to a service.
//
// Pure functions and a client that is thread-safe as far as its HttpClient
// is. Failures throw MPPError with the finished sentence.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/http.h"
#include "base/json.h"
#include "base/uint.h"
#include "execution/execution_error.h"

namespace orwenna {

class MPPError : public ExecutionError {
 public:
  using ExecutionError::ExecutionError;
};

struct MPPChallenge {
  std::string id;
  std::string realm;
  std::string method;
  std::string intent;
  std::string request;  // base64url JSON, echoed as it came
  std::optional<std::string> expires;
  std::optional<std::string> digest;
  std::optional<std::string> opaque;
  std::optional<std::string> description;
  std::optional<std::string> header;  // "Payment-Authorization" when the challenge selects it

  // Every Payment challenge in the WWW-Authenticate values of `response`
  // (other schemes, and challenges without an id, are skipped).
  [[nodiscard]] static std::vector<MPPChallenge> parseAll(const HttpResponse& response);
  [[nodiscard]] static std::vector<MPPChallenge> parse(std::string_view headerValue);
};

// What a "tempo" "charge" challenge asks for.
struct MPPCharge {
  UInt256 amount;  // the token's base units
  std::string currency;  // the TIP-20 token, lower case
  std::string recipient;  // lower case
  std::uint64_t chainId = 4217;
  std::optional<std::string> memo;  // bytes32 hex: then transferWithMemo
  std::string description;

  // Throws MPPError when the challenge is not a tempo charge orwenna can pay.
  static MPPCharge read(const MPPChallenge& challenge);
};

// The header line's value: "Payment " + base64url(JSON) of the echoed
// challenge, the payer as a did:pkh, and {"type": "hash", "hash": txHash}.
std::string mppCredential(const MPPChallenge& challenge, std::uint64_t chainId, const std::string& payer,
                          const std::string& txHash);
// The header the credential goes in.
std::string mppCredentialHeader(const MPPChallenge& challenge);

class MPPClient {
 public:
  explicit MPPClient(HttpClient& http) : http_(http) {}

  // The request as the user wrote it. `body` is JSON text (sent with
  // Content-Type application/json) or empty. Throws MPPError when the
  // service cannot be reached.
  HttpResponse send(const std::string& method, const std::string& url, const std::string& body,
                    const HttpHeaders& extra = {}) const;

 private:
  HttpClient& http_;
};

}  // namespace orwenna
