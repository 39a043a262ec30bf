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

std::uint64_t relayNumber(const Json& object, const char* key) {
  auto n = Decimal::tryParse(textAt(object, key));
  return n && n->isInteger() && !n->isNegative() ? static_cast<std::uint64_t>(n->toInt64().value_or(0)) : 0;
}

// An authorize item (data.sign with data.post) or a sendAsset item (data.action).
void readHyperliquidItem(const Json& data, std::optional<RelayQuote::HyperliquidSteps>& out) {
  const Json& sign = memberOr(data, "sign");
  const Json& post = memberOr(data, "post");
  const Json& action = memberOr(data, "action");
  if (sign.is_object() && post.is_object()) {
    if (!out) out.emplace();
    const Json& domain = memberOr(sign, "domain");
    const Json& value = memberOr(sign, "value");
    out->signName = textAt(domain, "name");
    out->signVersion = textAt(domain, "version");
    out->wallet = textAt(value, "wallet");
    out->depositor = textAt(value, "depositor");
    out->mappingNonce = relayNumber(value, "nonce");
    auto id = fromHex(textAt(value, "id"));
    if (!id || id->size() != 32) throw ExecutionError("Relay's nonce mapping has no 32-byte request id.");
    out->mappingId = std::move(*id);
    out->authorizeEndpoint = textAt(post, "endpoint");
    out->authorizeBody = memberOr(post, "body");
  } else if (textAt(action, "type") == "sendAsset") {
    if (!out) out.emplace();
    const Json& p = memberOr(action, "parameters");
    out->destination = textAt(p, "destination");
    out->token = textAt(p, "token");
    out->amount = textAt(p, "amount");
    out->sourceDex = textAt(p, "sourceDex");
    out->destinationDex = textAt(p, "destinationDex");
    out->fromSubAccount = textAt(p, "fromSubAccount");
    out->nonce = relayNumber(data, "nonce");
    if (out->nonce == 0) out->nonce = relayNumber(p, "nonce");
    if (out->nonce == 0) throw ExecutionError("No nonce in Relay's Hyperliquid deposit. Nothing was signed.");
  }
}

}  // namespace

RelayClient::RelayClient(HttpClient& http, std::string root)
    : http_(http), root_(std::move(root)), status_(http, root_, HttpBridgeStatus::kOneClickDefault) {}

RelayQuote RelayClient::readAnyQuote(const Json& answer) {
  RelayQuote q;
  for (const Json& step : memberOr(answer, "steps")) {
    if (q.requestId.empty()) q.requestId = textAt(step, "requestId");
    const std::string stepId = textAt(step, "id");
    for (const Json& item : memberOr(step, "items")) {
      const Json& data = memberOr(item, "data");
      readHyperliquidItem(data, q.hyperliquid);
      for (const Json& ix : memberOr(data, "instructions")) q.solanaInstructions.push_back(readInstruction(ix));
      if (textAt(data, "to").empty()) continue;
      RelayQuote::EVMStep call;
      call.id = stepId;
      call.to = textAt(data, "to");
      auto bytes = fromHex(textAt(data, "data").empty() ? std::string("0x") : textAt(data, "data"));
      if (!bytes) throw ExecutionError("Relay sent a transaction whose data can't be read.");
      call.data = std::move(*bytes);
      call.value = textAt(data, "value").empty() ? "0" : textAt(data, "value");
      auto chain = Decimal::tryParse(textAt(data, "chainId"));
      call.chainId = chain && chain->isInteger() ? static_cast<std::uint64_t>(chain->toInt64().value_or(0)) : 0;
      q.evm.push_back(std::move(call));
    }
  }
  if (q.requestId.empty()) q.requestId = textAt(answer, "requestId");
  const Json& details = memberOr(answer, "details");
  q.sender = textAt(details, "sender");
  q.recipient = textAt(details, "recipient");
  const Json& in = memberOr(details, "currencyIn");
  const Json& out = memberOr(details, "currencyOut");
  if (std::string amount = textAt(in, "amount"); !amount.empty()) q.amountIn = amount;
  if (std::string amount = textAt(out, "amount"); !amount.empty()) q.amountOut = amount;
  q.amountInFormatted = decimalAt(in, "amountFormatted");
  q.amountOutFormatted = decimalAt(out, "amountFormatted");
  q.feesUSD = textAt(memberOr(memberOr(answer, "fees"), "relayer"), "amountUsd");
  if (q.feesUSD.empty()) q.feesUSD = "0";
  const Json& seconds = memberOr(details, "timeEstimate");
  q.seconds = seconds.is_number_integer() ? static_cast<int>(seconds.get<std::int64_t>()) : 0;
  if (q.requestId.empty() || (q.solanaInstructions.empty() && q.evm.empty() && !q.hyperliquid)) {
    throw ExecutionError("Relay's quote has nothing to sign. Nothing was signed.");
  }
  return q;
}

RelayDeposit RelayClient::readQuote(const Json& answer) {
  RelayQuote any = readAnyQuote(answer);
  if (any.solanaInstructions.empty()) {
    throw ExecutionError("Relay's quote has no Solana deposit to sign. Nothing was signed.");
  }
  RelayDeposit q;
  q.requestId = any.requestId;
  q.sender = any.sender;
  q.recipient = any.recipient;
  q.amountIn = any.amountIn;
  q.spend = any.amountInFormatted;
  q.arriving = any.amountOutFormatted;
  q.feesUSD = any.feesUSD;
  q.seconds = any.seconds;
  q.instructions = std::move(any.solanaInstructions);
  return q;
}

Json RelayClient::post(const Json& body) {
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
  return *answer;
}

RelayQuote RelayClient::quote(const RelayQuoteRequest& r) {
  Json body{{"user", r.user},
            {"recipient", r.recipient},
            {"originChainId", r.origin.chainId},
            {"originCurrency", r.origin.currency},
            {"destinationChainId", r.destination.chainId},
            {"destinationCurrency", r.destination.currency},
            {"amount", r.amount},
            {"tradeType", "EXACT_INPUT"}};
  // Withdrawals from Hyperliquid exist only in Relay's second protocol.
  if (r.origin.chainId == kHyperliquidChainId) body["protocolVersion"] = "v2";
  return readAnyQuote(post(body));
}

void RelayClient::authorize(const RelayQuote::HyperliquidSteps& steps, const Bytes& signature) {
  const std::string endpoint = steps.authorizeEndpoint.empty() ? "/authorize" : steps.authorizeEndpoint;
  if (!endpoint.starts_with("/") || endpoint.find("..") != std::string::npos || endpoint.find('?') != std::string::npos) {
    throw ExecutionError("Relay asked for the nonce mapping at an odd place (" + endpoint + "). Nothing was sent.");
  }
  HttpRequest request = HttpRequest::postJson(root_ + endpoint + "?signature=" + toHex0x(signature),
                                              steps.authorizeBody.dump());
  request.timeout = kTimeLimit;
  HttpResponse response = http_.send(request);
  if (!response.ok()) {
    auto answer = parseJson(response.body);
    std::string message = answer ? textAt(*answer, "message") : std::string();
    throw ExecutionError("Relay refused the nonce mapping: " +
                         (message.empty() ? "HTTP " + std::to_string(response.status) : message) +
                         ". Nothing was sent from Hyperliquid.");
  }
}

RelayDeposit RelayClient::quoteSolanaToHyperliquid(const std::string& sender, const std::string& recipient,
                                                   const Decimal& usdc) {
  return readQuote(post(Json{{"user", sender},
                             {"recipient", recipient},
                             {"originChainId", kSolanaChainId},
                             {"originCurrency", "EPjFWdd5AufqSSqeM2qN1xzybapC8G4wEGGkZwyTDt1v"},
                             {"destinationChainId", kHyperliquidChainId},
                             {"destinationCurrency", kHyperliquidUSDC},
                             {"amount", (usdc * Decimal(1'000'000)).rounded(0, RoundingMode::down).toString()},
                             {"tradeType", "EXACT_INPUT"}}));
}

std::string RelayClient::relayStatus(const std::string& requestId) { return status_.relayStatus(requestId); }

}  // namespace orwenna
