#include "app/solana_balance.h"

#include <chrono>

#include <fmt/format.h>

#include "base/json.h"
#include "trading/market.h"
#include "platform/defaults.h"

namespace orwenna::Solana {

namespace {

constexpr const char* kCommitment = "confirmed";
// A balance read is small; past this the balance is shown as unknown.
constexpr std::chrono::seconds kBalanceTimeout{15};

[[noreturn]] void emptyAnswer(const Json* answer) {
  if (answer != nullptr && answer->is_object()) {
    auto error = answer->find("error");
    if (error != answer->end() && error->is_object()) {
      auto message = error->find("message");
      if (message != error->end() && message->is_string()) {
        throw MarketDataError("Solana RPC: " + message->get<std::string>());
      }
    }
  }
  throw MarketDataError("Solana RPC: empty response");
}

// The "value" inside a call's result; throws the node's error otherwise.
Json call(const RpcNode& node, const char* method, Json params) {
  Json body{{"jsonrpc", "2.0"}, {"id", 1}, {"method", method}, {"params", std::move(params)}};
  HttpRequest request = HttpRequest::postJson(node.url, body.dump());
  request.timeout = kBalanceTimeout;
  HttpResponse response = node.http.send(request);
  auto answer = parseJson(response.body);
  if (!answer && !response.ok()) throw MarketDataError(fmt::format("Solana RPC: HTTP {}", response.status));
  if (!answer || !answer->is_object()) emptyAnswer(nullptr);
  auto result = answer->find("result");
  if (result == answer->end() || !result->is_object()) emptyAnswer(&*answer);
  auto value = result->find("value");
  if (value == result->end() || value->is_null()) emptyAnswer(&*answer);
  return *value;
}

Decimal baseUnits(const Json& amount, int decimals) {
  if (!amount.is_string()) throw NumberFormatError(amount.dump());
  return Decimal::parse(amount.get_ref<const std::string&>()).scaledByPowerOfTen(-decimals);
}

}  // namespace

std::string RpcNode::urlFromEnvironment() {
  return endpointOverride("ORWENNA_SOLANA_RPC").value_or(std::string(kDefaultRpc));
}

Balance balance(const RpcNode& node, const std::string& owner) {
  Balance out;
  Json lamports = call(node, "getBalance", Json::array({owner, {{"commitment", kCommitment}}}));
  if (!lamports.is_number_unsigned() && !lamports.is_number_integer()) throw NumberFormatError(lamports.dump());
  out.sol = Decimal::fromJson(lamports).scaledByPowerOfTen(-9);

  for (const char* program : {kTokenProgram, kToken2022Program}) {
    Json accounts = call(node, "getTokenAccountsByOwner",
                         Json::array({owner, {{"programId", program}},
                                      {{"encoding", "jsonParsed"}, {"commitment", kCommitment}}}));
    if (!accounts.is_array()) throw MarketDataError("Solana RPC: empty response");
    for (const Json& entry : accounts) {
      try {
        const Json& info = requireField(requireField(requireField(requireField(entry, "account"), "data"), "parsed"), "info");
        const Json& tokenAmount = requireField(info, "tokenAmount");
        std::int64_t decimals = requireInt(tokenAmount, "decimals");
        if (decimals < 0 || decimals > 30) throw JsonShapeError("token decimals out of range");
        Decimal amount = baseUnits(requireField(tokenAmount, "amount"), static_cast<int>(decimals));
        std::string mint = requireString(info, "mint");
        if (mint == kUsdcMint) {
          out.usdc += amount;
          continue;
        }
        if (amount.isZero()) continue;
        bool merged = false;
        for (Holding& h : out.tokens) {
          if (h.mint == mint) {
            h.amount += amount;
            merged = true;
          }
        }
        if (!merged) out.tokens.push_back({mint, program, amount, static_cast<int>(decimals), std::nullopt});
      } catch (const JsonShapeError& e) {
        throw MarketDataError(fmt::format("Solana RPC: unexpected token account ({}).", e.what()));
      }
    }
  }
  return out;
}

}  // namespace orwenna::Solana
