#include "defi/relay.h"

#include <utility>

#include "base/bytes.h"
#include "chains/solana_transaction.h"
#include "execution/execution_error.h"

namespace orwenna {

namespace {

std::string textAt(const Json& object, const char* key) {
  if (!object.is_object()) return {};
  auto it = object.find(key);
  if (it == object.end()) return {};
  if (it->is_string()) return it->get<std::string>();
  if (it->is_number()) return Decimal::fromJson(*it).toString();
  return {};
}

Decimal decimalAt(const Json& object, const char* key) {
  return Decimal::tryParse(textAt(object, key)).value_or(Decimal(0));
}

const Json& memberOr(const Json& object, const char* key) {
  static const Json none;
  if (!object.is_object()) return none;
  auto it = object.find(key);
  return it == object.end() ? none : *it;
}

SolanaInstruction readInstruction(const Json& ix) {
  SolanaInstruction out;
  out.program = textAt(ix, "programId");
  for (const Json& k : memberOr(ix, "keys")) {
    out.accounts.push_back({textAt(k, "pubkey"), k.value("isSigner", false), k.value("isWritable", false)});
  }
  auto data = fromHex(textAt(ix, "data"));
  if (out.program.empty() || !data) throw ExecutionError("Relay sent a Solana instruction that can't be read.");
  out.data = std::move(*data);
  return out;
}

}  // namespace

RelayClient::RelayClient(HttpClient& http, std::string root)
    : http_(http), root_(std::move(root)), status_(http, root_, HttpBridgeStatus::kOneClickDefault) {}

RelayDeposit RelayClient::readQuote(const Json& answer) {
  RelayDeposit q;
  for (const Json& step : memberOr(answer, "steps")) {
    if (q.requestId.empty()) q.requestId = textAt(step, "requestId");
    for (const Json& item : memberOr(step, "items")) {
      for (const Json& ix : memberOr(memberOr(item, "data"), "instructions")) q.instructions.push_back(readInstruction(ix));
    }
  }
  if (q.requestId.empty()) q.requestId = textAt(answer, "requestId");
  const Json& details = memberOr(answer, "details");
  q.sender = textAt(details, "sender");
  q.recipient = textAt(details, "recipient");
  const Json& in = memberOr(details, "currencyIn");
  const Json& out = memberOr(details, "currencyOut");
  if (std::string amount = textAt(in, "amount"); !amount.empty()) q.amountIn = amount;
  q.spend = decimalAt(in, "amountFormatted");
  q.arriving = decimalAt(out, "amountFormatted");
  q.feesUSD = textAt(memberOr(memberOr(answer, "fees"), "relayer"), "amountUsd");
  if (q.feesUSD.empty()) q.feesUSD = "0";
  q.seconds = static_cast<int>(memberOr(details, "timeEstimate").is_number_integer()
                                   ? memberOr(details, "timeEstimate").get<std::int64_t>()
                                   : 0);
  if (q.requestId.empty() || q.instructions.empty()) {
    throw ExecutionError("Relay's quote has no Solana deposit to sign. Nothing was signed.");
  }
  return q;
}

RelayDeposit RelayClient::quoteSolanaToHyperliquid(const std::string& sender, const std::string& recipient,
                                                   const Decimal& usdc) {
  Json body{{"user", sender},
            {"recipient", recipient},
            {"originChainId", kSolanaChainId},
            {"originCurrency", "EPjFWdd5AufqSSqeM2qN1xzybapC8G4wEGGkZwyTDt1v"},
            {"destinationChainId", kHyperliquidChainId},
            {"destinationCurrency", kHyperliquidUSDC},
            {"amount", (usdc * Decimal(1'000'000)).rounded(0, RoundingMode::down).toString()},
            {"tradeType", "EXACT_INPUT"}};
  HttpRequest request = HttpRequest::postJson(root_ + "/quote/v2", body.dump());
  request.timeout = kTimeLimit;
  HttpResponse response = http_.send(request);
  auto answer = parseJson(response.body);
  if (!response.ok()) {
    std::string message = answer ? textAt(*answer, "message") : std::string();
    throw ExecutionError("Relay didn't quote: " +
                         (message.empty() ? "HTTP " + std::to_string(response.status) : message) +
                         ". Nothing was signed.");
  }
  if (!answer || !answer->is_object()) throw ExecutionError("Relay answered something that is not JSON. Nothing was signed.");
  return readQuote(*answer);
}

std::string RelayClient::relayStatus(const std::string& requestId) { return status_.relayStatus(requestId); }

}  // namespace orwenna
