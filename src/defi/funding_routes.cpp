#include "defi/funding_routes.h"

#include "chains/solana_transaction.h"

namespace orwenna {

namespace {

// USDC has 6 decimals on Solana and on the EVM networks funded from.
std::string usdcBaseUnits(const Decimal& usdc, int decimals) {
  return usdc.scaledByPowerOfTen(decimals).rounded(0, RoundingMode::down).toString();
}

}  // namespace

RelayEVMDeposit RelayFunding::quoteEVMToHyperliquid(const EVMNetwork& network, const std::string& wallet,
                                                    const Decimal& usdc) {
  RelayQuote q = relay_.quote({wallet, wallet, RelayEnd{network.chainId, network.usdc},
                               RelayEnd{RelayClient::kHyperliquidChainId, RelayClient::kHyperliquidUSDC},
                               usdcBaseUnits(usdc, network.usdcDecimals)});
  RelayEVMDeposit out;
  out.requestId = q.requestId;
  out.sender = q.sender;
  out.recipient = q.recipient;
  out.amountIn = q.amountIn;
  out.spend = q.amountInFormatted;
  out.arriving = q.amountOutFormatted;
  out.feesUSD = q.feesUSD;
  out.seconds = q.seconds;
  out.calls = std::move(q.evm);
  if (!q.solanaInstructions.empty()) out.calls.clear();  // not a deposit on the network asked for
  return out;
}

RelayDeposit RelayFunding::quoteGasTopup(const std::string& sender, const EVMNetwork& network,
                                         const std::string& recipient, const Decimal& usdc) {
  RelayQuote q = relay_.quote({sender, recipient,
                               RelayEnd{RelayClient::kSolanaChainId, std::string(SolanaPrograms::kUsdcMint)},
                               RelayEnd{network.chainId, kNativeCurrency}, usdcBaseUnits(usdc, 6)});
  RelayDeposit out;
  out.requestId = q.requestId;
  out.sender = q.sender;
  out.recipient = q.recipient;
  out.amountIn = q.amountIn;
  out.spend = q.amountInFormatted;
  out.arriving = q.amountOutFormatted;
  out.feesUSD = q.feesUSD;
  out.seconds = q.seconds;
  if (q.evm.empty()) out.instructions = std::move(q.solanaInstructions);
  return out;
}

OpeningQuote OneClickOpening::quoteOpening(const std::string& sender, const std::string& recipient,
                                           const Decimal& usdc, std::int64_t nowMillis) {
  OneClick::QuoteRequest request;
  request.originAsset = OneClick::kSolanaUSDC;
  request.destinationAsset = OneClick::kHyperliquidUSDC;
  request.amount = usdcBaseUnits(usdc, 6);
  request.refundTo = sender;
  request.recipient = recipient;
  OneClick::Quote q = oneClick_.quote(request, nowMillis);
  OpeningQuote out;
  out.depositAddress = q.depositAddress;
  out.amountIn = q.amountIn;
  if (auto units = Decimal::tryParse(q.amountIn)) out.spend = units->scaledByPowerOfTen(-6);
  out.arriving = Decimal::tryParse(q.amountOutFormatted).value_or(Decimal(0));
  if (q.deadline) out.deadline = parseIso8601(*q.deadline);
  out.seconds = q.timeEstimate.value_or(0);
  out.bound = q.quoteRequest;
  out.asked = OneClick::requestBody(request, nowMillis);
  return out;
}

OpeningStatus OneClickOpening::openingStatus(const std::string& depositAddress) {
  OneClick::Status s = oneClick_.status(depositAddress);
  return {s.status, OneClick::isFinal(s.status), s.refundedFormatted};
}

}  // namespace orwenna
