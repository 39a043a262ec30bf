#include "defi/jupiter.h"

#include <cctype>
#include <charconv>
#include <utility>

#include "base/json.h"

namespace orwenna {

namespace {

bool jupiterUInt(const Json& object, const char* key, std::uint64_t& out) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return false;
  const std::string& s = it->get_ref<const std::string&>();
  if (s.empty()) return false;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && end == s.data() + s.size();
}

std::string queryEscape(const std::string& s) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~' || c == ',') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

}  // namespace

Jupiter::Jupiter(HttpClient& http, std::string base) : http_(http), base_(std::move(base)) {}

std::string Jupiter::excerpt(const std::string& body) {
  if (body.size() <= 300) return body;
  std::size_t end = 300;
  // Step back over continuation bytes so a character is never split.
  while (end > 0 && (static_cast<unsigned char>(body[end]) & 0xC0) == 0x80) --end;
  return body.substr(0, end);
}

Jupiter::Quote Jupiter::readQuote(const std::string& body) {
  Json j = Json::parse(body, nullptr, false);
  Quote q;
  if (!j.is_object() || !jupiterUInt(j, "inAmount", q.inAmount) || !jupiterUInt(j, "outAmount", q.outAmount) ||
      !jupiterUInt(j, "otherAmountThreshold", q.minOut) || !j.contains("routePlan") || !j["routePlan"].is_array()) {
    throw JupiterError(excerpt(body));
  }
  for (const Json& step : j["routePlan"]) {
    const Json* label = step.is_object() && step.contains("swapInfo") && step["swapInfo"].is_object()
                            ? &step["swapInfo"]
                            : nullptr;
    if (!label || !label->contains("label") || !(*label)["label"].is_string()) throw JupiterError(excerpt(body));
    q.dexes.push_back((*label)["label"].get<std::string>());
  }
  for (std::size_t i = 0; i < q.dexes.size(); ++i) q.route += (i ? " → " : "") + q.dexes[i];
  q.inputMint = j.value("inputMint", "");
  q.outputMint = j.value("outputMint", "");
  q.raw = body;
  return q;
}

Jupiter::SwapTransaction Jupiter::readSwap(const std::string& body) {
  Json j = Json::parse(body, nullptr, false);
  if (!j.is_object() || !j.contains("swapTransaction") || !j["swapTransaction"].is_string() ||
      !j.contains("lastValidBlockHeight") || !j["lastValidBlockHeight"].is_number_unsigned()) {
    throw JupiterError(excerpt(body));
  }
  auto tx = fromBase64(j["swapTransaction"].get<std::string>());
  if (!tx || tx->empty()) throw JupiterError(excerpt(body));
  return {std::move(*tx), j["lastValidBlockHeight"].get<std::uint64_t>()};
}

Jupiter::Quote Jupiter::quote(const std::string& inputMint, const std::string& outputMint, std::uint64_t amount,
                              int slippageBps, const std::vector<std::string>& excludeDexes) const {
  HttpRequest request;
  request.url = base_ + "/quote?inputMint=" + queryEscape(inputMint) + "&outputMint=" + queryEscape(outputMint) +
                "&amount=" + std::to_string(amount) + "&slippageBps=" + std::to_string(slippageBps);
  if (!excludeDexes.empty()) {
    std::string joined;
    for (std::size_t i = 0; i < excludeDexes.size(); ++i) joined += (i ? "," : "") + excludeDexes[i];
    request.url += "&excludeDexes=" + queryEscape(joined);
  }
  request.timeout = kTimeLimit;
  HttpResponse response = http_.send(request);
  if (response.status != 200) throw JupiterError(excerpt(response.body));
  Quote q = readQuote(response.body);
  // A quote for another pair or amount would be signed as if it were ours.
  if ((!q.inputMint.empty() && q.inputMint != inputMint) || (!q.outputMint.empty() && q.outputMint != outputMint) ||
      q.inAmount != amount) {
    throw JupiterError("the quote is for another pair or amount than was asked.");
  }
  q.inputMint = inputMint;
  q.outputMint = outputMint;
  return q;
}

Jupiter::SwapTransaction Jupiter::swapTransaction(const Quote& quote, const std::string& wallet) const {
  // The quote goes back as its own text: re-serializing could alter it.
  std::string body = "{\"quoteResponse\":" + quote.raw + ",\"userPublicKey\":" + Json(wallet).dump() +
                     ",\"wrapAndUnwrapSol\":true,\"dynamicComputeUnitLimit\":true,"
                     "\"prioritizationFeeLamports\":{\"priorityLevelWithMaxLamports\":{\"maxLamports\":" +
                     std::to_string(kMaxPriorityLamports) + ",\"priorityLevel\":\"medium\"}}}";
  HttpRequest request = HttpRequest::postJson(base_ + "/swap", std::move(body));
  request.timeout = kTimeLimit;
  HttpResponse response = http_.send(request);
  if (response.status != 200) throw JupiterError(excerpt(response.body));
  return readSwap(response.body);
}

}  // namespace orwenna
