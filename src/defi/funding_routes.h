// The executor's funding routes over the bridge clients: RelayFunding turns
// RelayClient's any-pair quotes into the EVM-to-Hyperliquid deposit and the
// Solana-to-gas top-up the executor asks for; OneClickOpening turns
// OneClick's quotes of Solana USDC to Hyperliquid into OpeningQuotes, keeping
// the service's echo of the request beside the request sent, for the binding
// check made before funding.
//
// Thread-safe as far as the wrapped clients are; they must outlive these.
#pragma once

#include "defi/one_click.h"
#include "defi/relay.h"
#include "execution/bridge_client.h"

namespace orwenna {

class RelayFunding final : public FundingBridge {
 public:
  // The gas coin at Relay: the zero address.
  static constexpr const char* kNativeCurrency = "0x0000000000000000000000000000000000000000";

  explicit RelayFunding(RelayClient& relay) : relay_(relay) {}
  RelayEVMDeposit quoteEVMToHyperliquid(const EVMNetwork& network, const std::string& wallet,
                                        const Decimal& usdc) override;
  RelayDeposit quoteGasTopup(const std::string& sender, const EVMNetwork& network, const std::string& recipient,
                             const Decimal& usdc) override;

 private:
  RelayClient& relay_;
};

class OneClickOpening final : public OpeningRoute {
 public:
  explicit OneClickOpening(OneClick& oneClick) : oneClick_(oneClick) {}
  OpeningQuote quoteOpening(const std::string& sender, const std::string& recipient, const Decimal& usdc,
                            std::int64_t nowMillis) override;
  OpeningStatus openingStatus(const std::string& depositAddress) override;

 private:
  OneClick& oneClick_;
};

}  // namespace orwenna
