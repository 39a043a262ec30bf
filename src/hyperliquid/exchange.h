// The JSON body of a signed Hyperliquid action and its POST to the exchange
// endpoint of the roots the caller passes (HLEndpoints). The reply comes back as the exchange wrote it; reading "status"
// and per-order outcomes is the caller's. Thread-safe as far as the HttpClient
// it is given is.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "base/http.h"
#include "base/json.h"
#include "hyperliquid/endpoints.h"
#include "signing/evm_signer.h"
#include "signing/msgpack.h"

namespace orwenna {

struct HLExchange {
  static constexpr std::chrono::seconds kTimeout{20};

  // Exactly "action", "nonce", "signature" {"r", "s", "v"} and "vaultAddress"
  // (null when absent); r and s as "0x" + 64 lower-case hex digits. Throws
  // WalletError when the action repeats a key (JSON cannot carry it).
  static Json body(const MsgPack& action, std::uint64_t nonce, const EVMSignature& signature,
                   const std::optional<std::string>& vaultAddress);

  // POST of the body, serialised as it is, to <root>/exchange with a 20-second
  // time-out. Returns the reply body unparsed, whatever the HTTP status; throws
  // NetError when no reply arrives and WalletError for
  // text that is not UTF-8.
  static std::string post(HttpClient& http, const Json& body, bool mainnet, const HLEndpoints& endpoints = {});
  // The same POST, keeping the HTTP status: a gateway's 5xx page says the
  // action's fate is unknown, which the body alone cannot tell.
  static HttpResponse send(HttpClient& http, const Json& body, bool mainnet, const HLEndpoints& endpoints = {});
};

}  // namespace orwenna
