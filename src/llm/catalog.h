// The provider catalog the user picks a model from, and where each provider
// is reached.
//
// The catalog is fixed data in menu order; entries with `unavailable` set are
// listed but cannot be chosen. LLMEndpoints::defaults() holds the real
// services' roots, the one place they are written; the wiring root replaces
// them (ORWENNA_<ID>_API, ORWENNA_OPENROUTER_API, ORWENNA_CHATGPT_BACKEND,
// ORWENNA_OPENAI_AUTH) and passes the value down, so nothing here reads the
// environment. Thread-safe (immutable values).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "llm/llm.h"

namespace orwenna {

// The keychain-style service name under which model credentials are stored.
inline constexpr const char* kLLMCredentialService = "app.orwenna.llm";

const std::vector<ProviderInfo>& providerCatalog();
[[nodiscard]] const ProviderInfo* findProvider(std::string_view id);

// Whether an OpenAI-compatible endpoint accepts `response_format` json_object.
[[nodiscard]] bool providerTakesJsonMode(std::string_view id);

struct LLMEndpoints {
  std::map<std::string, std::string> providerBase;  // API-key and local providers, by id
  std::string openRouter;      // root; chat under "/api/v1"
  std::string chatgptBackend;  // root; "/backend-api/codex/…"
  std::string openaiAuth;      // root; "/oauth/authorize", "/oauth/token"

  // The public services' roots, without trailing slashes.
  static LLMEndpoints defaults();

  // The base URL of an API-key or local provider; "" for others.
  std::string baseURL(const std::string& id) const;
  std::string openRouterAPI() const { return openRouter + "/api/v1"; }
};

}  // namespace orwenna
