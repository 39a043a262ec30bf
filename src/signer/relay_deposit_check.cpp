#include "signer/relay_deposit_check.h"

#include <exception>

#include "base/decimal.h"
#include "base/text.h"

namespace orwenna {

namespace {

std::string relayText(const Json& object, const char* key) {
  if (!object.is_object()) return {};
  auto it = object.find(key);
  if (it == object.end()) return {};
  if (it->is_string()) return it->get<std::string>();
  if (it->is_number_unsigned() || it->is_number_integer()) return it->dump();
  return {};
}

bool sameRelayAddress(const std::string& a, const std::string& b) {
  return !a.empty() && text::asciiLowercased(a) == text::asciiLowercased(b);
}

// The destination of the sendAsset in Relay's answer, if it has exactly one.
std::string depositoryIn(const Json& answer, int& found) {
  std::string out;
  found = 0;
  if (!answer.contains("steps") || !answer["steps"].is_array()) return out;
  for (const Json& step : answer["steps"]) {
    if (!step.is_object() || !step.contains("items") || !step["items"].is_array()) continue;
    for (const Json& item : step["items"]) {
      const Json data = item.is_object() ? item.value("data", Json::object()) : Json::object();
      const Json action = data.is_object() ? data.value("action", Json::object()) : Json::object();
      if (relayText(action, "type") != "sendAsset") continue;
      ++found;
      out = relayText(action.value("parameters", Json::object()), "destination");
    }
  }
  return out;
}

}  // namespace

Verdict RelayDepositCheck::check(HttpClient* http, const std::string& root, const Json& action, const Move& move) {
  Verdict v;
  auto refuse = [&](std::string sentence) {
    v.problems.push_back(std::move(sentence));
    return v;
  };
  if (relayText(action, "type") != "sendAsset") return refuse("Only a sendAsset pays Relay from Hyperliquid.");
  if (!relayText(action, "sourceDex").empty() || !relayText(action, "fromSubAccount").empty()) {
    return refuse("The deposit must leave the main perp balance of this wallet.");
  }
  if (!relayText(action, "token").starts_with("USDC")) return refuse("Only USDC is paid to Relay from Hyperliquid.");
  auto amount = Decimal::tryParse(relayText(action, "amount"));
  std::optional<Decimal> units = amount ? std::optional(amount->scaledByPowerOfTen(6)) : std::nullopt;
  if (!units || !units->isPositive() || !units->isInteger()) {
    return refuse("The deposit's amount " + relayText(action, "amount") + " is not a whole number of USDC cents.");
  }
  const std::string destination = relayText(action, "destination");
  if (http == nullptr || root.empty()) return refuse("The signer has no way to ask Relay about its depository.");

  Json body{{"user", move.wallet},
            {"recipient", move.recipient},
            {"originChainId", kHyperliquidChainId},
            {"originCurrency", kPerpUSDC},
            {"destinationChainId", move.destinationChainId},
            {"destinationCurrency", move.destinationCurrency},
            {"amount", units->toString()},
            {"tradeType", "EXACT_INPUT"},
            {"protocolVersion", "v2"}};
  HttpRequest request = HttpRequest::postJson(root + "/quote/v2", body.dump());
  request.timeout = kTimeLimit;
  std::optional<Json> answer;
  try {
    HttpResponse response = http->send(request);
    if (!response.ok()) return refuse("Relay didn't confirm its depository (HTTP " + std::to_string(response.status) + ").");
    answer = parseJson(response.body);
  } catch (const std::exception& e) {
    return refuse(std::string("Relay didn't answer the signer: ") + e.what() + ".");
  }
  if (!answer || !answer->is_object()) return refuse("Relay's answer to the signer is not JSON.");
  int found = 0;
  const std::string named = depositoryIn(*answer, found);
  if (found != 1) return refuse("Relay's answer to the signer names no single Hyperliquid deposit.");
  const Json details = answer->value("details", Json::object());
  if (const std::string paid = relayText(details, "recipient"); paid != move.recipient && !sameRelayAddress(paid, move.recipient)) {
    return refuse("Relay would pay " + (paid.empty() ? std::string("no one") : paid) + ", not " + move.recipient + ".");
  }
  if (!sameRelayAddress(named, destination)) {
    return refuse("Relay's depository is " + (named.empty() ? std::string("not named") : named) + ", not " +
                  (destination.empty() ? std::string("the empty destination") : destination) + ".");
  }
  v.checks.push_back("Relay itself names " + named + " as its depository for " + amount->toString() + " USDC to " +
                     move.recipient + ".");
  return v;
}

}  // namespace orwenna
