#include "defi/mpp.h"

#include <cctype>

#include "base/bytes.h"
#include "base/text.h"
#include "chains/abi.h"

namespace orwenna {

namespace {

bool tokenChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

// One auth-param value: a token or a quoted-string with backslash escapes.
std::optional<std::string> mppValue(std::string_view s, std::size_t& p) {
  std::string out;
  if (p < s.size() && s[p] == '"') {
    for (++p; p < s.size(); ++p) {
      if (s[p] == '\\' && p + 1 < s.size()) {
        out += s[++p];
      } else if (s[p] == '"') {
        ++p;
        return out;
      } else {
        out += s[p];
      }
    }
    return std::nullopt;  // unterminated
  }
  while (p < s.size() && (tokenChar(s[p]) || s[p] == '/' || s[p] == '=')) out += s[p++];
  return out;
}

void mppSet(MPPChallenge& c, const std::string& name, std::string value) {
  if (name == "id") c.id = std::move(value);
  else if (name == "realm") c.realm = std::move(value);
  else if (name == "method") c.method = std::move(value);
  else if (name == "intent") c.intent = std::move(value);
  else if (name == "request") c.request = std::move(value);
  else if (name == "expires") c.expires = std::move(value);
  else if (name == "digest") c.digest = std::move(value);
  else if (name == "opaque") c.opaque = std::move(value);
  else if (name == "description") c.description = std::move(value);
  else if (name == "header") c.header = std::move(value);
  // Unknown parameters are ignored.
}

std::string mppField(const Json& j, const char* key) {
  auto it = j.find(key);
  return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

}  // namespace

std::vector<MPPChallenge> MPPChallenge::parse(std::string_view s) {
  std::vector<MPPChallenge> out;
  std::optional<MPPChallenge> current;
  bool payment = false;
  auto finish = [&] {
    if (current && payment && !current->id.empty()) out.push_back(std::move(*current));
    current.reset();
  };
  std::size_t p = 0;
  while (p < s.size()) {
    while (p < s.size() && (s[p] == ' ' || s[p] == '\t' || s[p] == ',')) ++p;
    std::size_t start = p;
    while (p < s.size() && tokenChar(s[p])) ++p;
    if (p == start) {
      ++p;  // stray character
      continue;
    }
    std::string token(s.substr(start, p - start));
    std::size_t q = p;
    while (q < s.size() && (s[q] == ' ' || s[q] == '\t')) ++q;
    if (q < s.size() && s[q] == '=' && current) {
      p = q + 1;
      while (p < s.size() && (s[p] == ' ' || s[p] == '\t')) ++p;
      auto value = mppValue(s, p);
      if (!value) break;
      if (payment) mppSet(*current, text::asciiLowercased(token), std::move(*value));
      continue;
    }
    // A scheme name begins the next challenge.
    finish();
    current = MPPChallenge{};
    payment = text::asciiLowercased(token) == "payment";
  }
  finish();
  return out;
}

std::vector<MPPChallenge> MPPChallenge::parseAll(const HttpResponse& response) {
  std::vector<MPPChallenge> out;
  for (const auto& [name, value] : response.headers) {
    if (text::asciiLowercased(name) != "www-authenticate") continue;
    for (auto& c : parse(value)) out.push_back(std::move(c));
  }
  return out;
}

MPPCharge MPPCharge::read(const MPPChallenge& c) {
  if (c.method != "tempo" || c.intent != "charge") {
    throw MPPError("The service asks for a " + c.method + " " + c.intent +
                   " payment; orwenna pays only one-time charges in USDC on Tempo.");
  }
  if (c.header && *c.header != "Payment-Authorization") {
    throw MPPError("The service wants the payment in a header named " + *c.header + ", which the protocol doesn't allow.");
  }
  auto raw = fromBase64Url(c.request);
  auto json = raw ? parseJson(std::string(raw->begin(), raw->end())) : std::nullopt;
  if (!json || !json->is_object()) throw MPPError("The service's payment request isn't readable JSON.");
  MPPCharge charge;
  auto amount = parseUInt256(mppField(*json, "amount"));
  if (!amount || *amount == UInt256(0)) throw MPPError("The service's payment request names no amount.");
  charge.amount = *amount;
  try {
    charge.currency = toHex0x(ABI::addressBytes(mppField(*json, "currency")));
    charge.recipient = toHex0x(ABI::addressBytes(mppField(*json, "recipient")));
  } catch (const Error&) {
    throw MPPError("The service's payment request doesn't name a token and a recipient address.");
  }
  charge.description = text::sanitized(mppField(*json, "description"));
  if (auto details = json->find("methodDetails"); details != json->end() && details->is_object()) {
    if (auto id = details->find("chainId"); id != details->end()) {
      if (!id->is_number_unsigned()) throw MPPError("The service's payment request names no chain.");
      charge.chainId = id->get<std::uint64_t>();
    }
    const std::string memo = mppField(*details, "memo");
    if (!memo.empty()) {
      auto bytes = fromHex(memo);
      if (!bytes || bytes->size() != 32) throw MPPError("The service's payment memo isn't 32 bytes.");
      charge.memo = toHex0x(*bytes);
    }
  }
  return charge;
}

std::string mppCredentialHeader(const MPPChallenge& challenge) {
  return challenge.header ? *challenge.header : std::string("Authorization");
}

std::string mppCredential(const MPPChallenge& c, std::uint64_t chainId, const std::string& payer,
                          const std::string& txHash) {
  Json echoed{{"id", c.id}, {"realm", c.realm}, {"method", c.method}, {"intent", c.intent}, {"request", c.request}};
  // Optional parameters go back only when the challenge had them.
  if (c.expires) echoed["expires"] = *c.expires;
  if (c.digest) echoed["digest"] = *c.digest;
  if (c.opaque) echoed["opaque"] = *c.opaque;
  if (c.description) echoed["description"] = *c.description;
  if (c.header) echoed["header"] = *c.header;
  Json credential{{"challenge", std::move(echoed)},
                  {"payload", {{"type", "hash"}, {"hash", txHash}}},
                  {"source", "did:pkh:eip155:" + std::to_string(chainId) + ":" + payer}};
  const std::string text = credential.dump();
  return "Payment " + toBase64Url(ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

HttpResponse MPPClient::send(const std::string& method, const std::string& url, const std::string& body,
                             const HttpHeaders& extra) const {
  HttpRequest request;
  request.method = method;
  for (char& ch : request.method) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  request.url = url;
  request.headers = {{"Accept", "application/json"}, {"User-Agent", "orwenna"}};
  if (!body.empty()) {
    request.headers.push_back({"Content-Type", "application/json"});
    request.body = body;
  }
  request.headers.insert(request.headers.end(), extra.begin(), extra.end());
  request.timeout = std::chrono::milliseconds(30000);
  try {
    return http_.send(request);
  } catch (const std::exception& e) {
    throw MPPError("The service couldn't be reached: " + std::string(e.what()));
  }
}

}  // namespace orwenna
