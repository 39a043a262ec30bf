#include "defi/one_click.h"

#include <cctype>
#include <utility>

#include <fmt/format.h>

namespace orwenna {

namespace {

const Json& oneClickMember(const Json& object, const char* key) {
  static const Json none;
  if (!object.is_object()) return none;
  auto it = object.find(key);
  return it == object.end() ? none : *it;
}

std::optional<std::string> oneClickText(const Json& object, const char* key) {
  const Json& v = oneClickMember(object, key);
  if (v.is_string()) return v.get<std::string>();
  if (v.is_number_integer()) return std::to_string(v.get<std::int64_t>());
  if (v.is_number_unsigned()) return std::to_string(v.get<std::uint64_t>());
  if (v.is_number()) return Decimal::fromJson(v).toString();
  return std::nullopt;
}

// `key` in the nested object first, else at the top.
std::optional<std::string> nestedOrTop(const Json& answer, const char* nest, const char* key) {
  if (auto v = oneClickText(oneClickMember(answer, nest), key)) return v;
  return oneClickText(answer, key);
}

std::string oneClickEncoded(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += fmt::format("%{:02X}", c);
    }
  }
  return out;
}

}  // namespace

OneClick::OneClick(HttpClient& http, std::string root, std::optional<std::string> token)
    : http_(http), root_(std::move(root)), token_(std::move(token)) {}

Json OneClick::call(HttpRequest request) {
  request.timeout = kTimeLimit;
  if (token_ && !token_->empty()) request.headers.push_back({"X-API-Key", *token_});
  HttpResponse response;
  try {
    response = http_.send(request);
  } catch (const NetError&) {
    throw OneClickError("1Click didn't answer. Try again in a minute.");
  }
  if (response.status == 401 || response.status == 403) {
    throw OneClickError("1Click turned the key away (" + std::to_string(response.status) +
                        "): copy the whole token from " + kPortal + " again.");
  }
  auto answer = parseJson(response.body);
  if (!response.ok()) {
    auto message = answer ? oneClickText(*answer, "message") : std::nullopt;
    throw OneClickError("1Click refused: " + message.value_or("HTTP " + std::to_string(response.status)) + ".");
  }
  if (!answer) throw OneClickError("1Click answered something that is not JSON.");
  return *answer;
}

std::vector<OneClick::Token> OneClick::tokens() {
  HttpRequest request;
  request.url = root_ + "/v0/tokens";
  Json answer = call(std::move(request));
  std::vector<Token> out;
  if (!answer.is_array()) return out;
  for (const Json& t : answer) {
    Token token;
    token.assetId = oneClickText(t, "assetId").value_or("");
    token.blockchain = oneClickText(t, "blockchain").value_or("");
    token.symbol = oneClickText(t, "symbol").value_or("");
    token.decimals = static_cast<int>(Decimal::tryParse(oneClickText(t, "decimals").value_or("0"))
                                          .value_or(Decimal(0))
                                          .toInt64()
                                          .value_or(0));
    token.contract = oneClickText(t, "contractAddress");
    if (auto price = oneClickText(t, "price")) token.price = Decimal::tryParse(*price);
    if (!token.assetId.empty()) out.push_back(std::move(token));
  }
  return out;
}

Json OneClick::requestBody(const QuoteRequest& r, std::int64_t nowMillis) {
  return Json{{"dry", r.dry},
              {"swapType", r.swapType},
              {"slippageTolerance", r.slippageTolerance},
              {"originAsset", r.originAsset},
              {"depositType", "ORIGIN_CHAIN"},
              {"destinationAsset", r.destinationAsset},
              {"amount", r.amount},
              {"refundTo", r.refundTo},
              {"refundType", r.refundType},
              {"recipient", r.recipient},
              {"recipientType", r.recipientType},
              {"deadline", iso8601(nowMillis + kQuoteSeconds * 1000)},
              {"quoteWaitingTimeMs", r.quoteWaitingTimeMs}};
}

OneClick::Quote OneClick::quote(const QuoteRequest& request, std::int64_t nowMillis) {
  HttpRequest http = HttpRequest::postJson(root_ + "/v0/quote", requestBody(request, nowMillis).dump());
  return readQuote(call(std::move(http)));
}

OneClick::Quote OneClick::readQuote(const Json& answer) {
  if (!answer.is_object()) throw OneClickError("1Click's quote can't be read.");
  Quote q;
  q.depositAddress = nestedOrTop(answer, "quote", "depositAddress");
  if (q.depositAddress && q.depositAddress->empty()) q.depositAddress.reset();
  auto amountIn = nestedOrTop(answer, "quote", "amountIn");
  auto amountOut = nestedOrTop(answer, "quote", "amountOutFormatted");
  if (!amountIn || !amountOut) throw OneClickError("1Click's quote has no amounts.");
  q.amountIn = *amountIn;
  q.amountInFormatted = nestedOrTop(answer, "quote", "amountInFormatted").value_or("");
  q.minAmountIn = nestedOrTop(answer, "quote", "minAmountIn");
  q.amountOutFormatted = *amountOut;
  q.minAmountOut = nestedOrTop(answer, "quote", "minAmountOut");
  q.deadline = nestedOrTop(answer, "quote", "deadline");
  if (auto t = nestedOrTop(answer, "quote", "timeEstimate")) {
    if (auto d = Decimal::tryParse(*t)) q.timeEstimate = static_cast<int>(d->toInt64().value_or(0));
  }
  if (auto v = nestedOrTop(answer, "quote", "amountInUsd")) q.amountInUSD = Decimal::tryParse(*v);
  if (auto v = nestedOrTop(answer, "quote", "amountOutUsd")) q.amountOutUSD = Decimal::tryParse(*v);
  q.quoteRequest = oneClickMember(answer, "quoteRequest");
  q.signature = oneClickText(answer, "signature").value_or("");
  return q;
}

OneClick::Status OneClick::status(const std::string& depositAddress) {
  HttpRequest request;
  request.url = root_ + "/v0/status?depositAddress=" + oneClickEncoded(depositAddress);
  return readStatus(call(std::move(request)));
}

OneClick::Status OneClick::readStatus(const Json& answer) {
  Status s;
  auto status = oneClickText(answer, "status");
  if (!status) throw OneClickError("1Click answered without a status.");
  s.status = *status;
  s.amountOutFormatted = nestedOrTop(answer, "swapDetails", "amountOutFormatted");
  s.refundedFormatted = nestedOrTop(answer, "swapDetails", "refundedAmountFormatted");
  const Json& details = oneClickMember(answer, "swapDetails");
  const Json& txs = oneClickMember(details, "destinationChainTxHashes").is_array()
                        ? oneClickMember(details, "destinationChainTxHashes")
                        : oneClickMember(answer, "destinationChainTxHashes");
  for (const Json& tx : txs) {
    if (tx.is_string()) {
      s.destinationTxs.push_back(tx.get<std::string>());
    } else if (auto hash = oneClickText(tx, "hash")) {
      s.destinationTxs.push_back(*hash);
    }
  }
  return s;
}

bool OneClick::isFinal(const std::string& status) {
  return status == "SUCCESS" || status == "REFUNDED" || status == "FAILED";
}

}  // namespace orwenna
