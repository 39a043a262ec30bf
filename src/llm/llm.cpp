#include "llm/llm.h"

#include <array>

#include <openssl/sha.h>

#include "base/bytes.h"
#include "base/text.h"

namespace orwenna {

std::string roleName(LLMMessage::Role role) {
  switch (role) {
    case LLMMessage::Role::system: return "system";
    case LLMMessage::Role::user: return "user";
    case LLMMessage::Role::assistant: return "assistant";
  }
  return "user";
}

std::string kindName(ProviderKind kind) {
  switch (kind) {
    case ProviderKind::subscription: return "subscription";
    case ProviderKind::apiKey: return "apiKey";
    case ProviderKind::local: return "local";
  }
  return "apiKey";
}

const std::string* Credential::apiKeyValue() const {
  const auto* v = std::get_if<ApiKey>(&value);
  return v ? &v->key : nullptr;
}
const OAuthTokens* Credential::oauthValue() const { return std::get_if<OAuthTokens>(&value); }
const std::string* Credential::externalPath() const {
  const auto* v = std::get_if<External>(&value);
  return v ? &v->path : nullptr;
}

Json Credential::toJson() const {
  Json out = Json::object();
  if (const auto* k = std::get_if<ApiKey>(&value)) {
    out["apiKey"] = Json{{"_0", k->key}};
  } else if (const auto* t = std::get_if<OAuthTokens>(&value)) {
    Json tokens = Json::object();
    tokens["access"] = t->access;
    tokens["refresh"] = t->refresh;
    tokens["expires"] = iso8601(t->expires);
    if (t->accountID) tokens["accountID"] = *t->accountID;
    out["oauth"] = Json{{"_0", std::move(tokens)}};
  } else if (const auto* e = std::get_if<External>(&value)) {
    out["external"] = Json{{"path", e->path}};
  }
  return out;
}

namespace {

const Json& onlyMember(const Json& object, std::string_view key) {
  if (!object.is_object() || object.size() != 1) throw JsonShapeError("Invalid number of keys found, expected one.");
  return requireField(object, key);
}

}  // namespace

Credential Credential::fromJson(const Json& json) {
  if (!json.is_object() || json.size() != 1) throw JsonShapeError("Invalid number of keys found, expected one.");
  const std::string& tag = json.begin().key();
  const Json& inner = json.begin().value();
  if (!inner.is_object()) throw JsonShapeError("Field \"" + tag + "\" is not an object");
  if (tag == "apiKey") {
    const Json& key = onlyMember(inner, "_0");
    if (!key.is_string()) throw JsonShapeError("Field \"_0\" is not a string");
    return apiKey(key.get<std::string>());
  }
  if (tag == "oauth") {
    const Json& t = onlyMember(inner, "_0");
    if (!t.is_object()) throw JsonShapeError("Field \"_0\" is not an object");
    OAuthTokens tokens;
    tokens.access = requireString(t, "access");
    tokens.refresh = requireString(t, "refresh");
    std::string expires = requireString(t, "expires");
    std::optional<std::int64_t> when = parseIso8601(expires);
    if (!when) throw JsonShapeError("Field \"expires\" is not a date");
    tokens.expires = *when;
    if (auto a = t.find("accountID"); a != t.end() && !a->is_null()) {
      if (!a->is_string()) throw JsonShapeError("Field \"accountID\" is not a string");
      tokens.accountID = a->get<std::string>();
    }
    return oauth(std::move(tokens));
  }
  if (tag == "external") {
    const Json& path = onlyMember(inner, "path");
    if (!path.is_string()) throw JsonShapeError("Field \"path\" is not a string");
    return external(path.get<std::string>());
  }
  throw JsonShapeError("Unknown credential kind \"" + tag + "\"");
}

PKCE PKCE::fromVerifier(std::string verifier) {
  std::array<std::uint8_t, SHA256_DIGEST_LENGTH> digest{};
  SHA256(reinterpret_cast<const unsigned char*>(verifier.data()), verifier.size(), digest.data());
  PKCE out;
  out.challenge = toBase64Url(digest);
  out.verifier = std::move(verifier);
  return out;
}

PKCE PKCE::make(Random& random) {
  std::array<std::uint8_t, 32> bytes{};
  random.fill(bytes);
  return fromVerifier(toBase64Url(bytes));
}

std::string ThinkingClient::complete(const LLMRequest& request) {
  LLMRequest r = request;
  r.thinking = true;
  return base_->complete(r);
}

std::string ThinkingClient::completeStreaming(const LLMRequest& request, const PartialText& onText) {
  LLMRequest r = request;
  r.thinking = true;
  return base_->completeStreaming(r, onText);
}

namespace {

bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isVersion(std::string_view w) {
  if (w.empty() || !isDigit(w.front())) return false;
  for (char c : w)
    if (!isDigit(c) && c != '.') return false;
  return true;
}

bool isAlphabetic(std::string_view w) {
  if (w.empty()) return false;
  for (char c : w)
    if (!isAlpha(c)) return false;
  return true;
}

std::string casedWord(std::string_view word) {
  const std::string lower = text::asciiLowercased(word);
  if (lower == "deepseek") return "DeepSeek";
  // Short words that read as words, not initials.
  if (lower == "pro") return "Pro";
  if (lower == "on") return "on";
  std::string out(word);
  if (isAlphabetic(word) && word.size() < 4) {
    for (char& c : out)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
  }
  if (!out.empty() && out[0] >= 'a' && out[0] <= 'z') out[0] = static_cast<char>(out[0] - 'a' + 'A');
  return out;
}

}  // namespace

std::string modelDisplayName(std::string_view modelID) {
  if (auto slash = modelID.rfind('/'); slash != std::string_view::npos) modelID.remove_prefix(slash + 1);
  std::vector<std::string> words;
  bool lastWasVersion = false;
  std::size_t start = 0;
  while (start <= modelID.size()) {
    std::size_t end = modelID.find('-', start);
    if (end == std::string_view::npos) end = modelID.size();
    std::string_view word = modelID.substr(start, end - start);
    start = end + 1;
    if (word.empty()) continue;
    // "5-5" in an id is the version 5.5: consecutive numbers form one version.
    if (isVersion(word)) {
      if (lastWasVersion) {
        words.back() += '.';
        words.back().append(word);
      } else {
        words.emplace_back(word);
      }
      lastWasVersion = true;
      continue;
    }
    lastWasVersion = false;
    words.push_back(casedWord(word));
  }
  return text::join(words, " ");
}

}  // namespace orwenna
