// The catalog's providers as objects: each makes clients for a stored
// credential, runs its sign-in, adopts an existing login and lists models.
// Also the model credentials kept in the CredentialStore.
//
// Everything a provider touches outside itself comes in through LLMEnvironment,
// so tests point it at fake servers, a fake `claude` and a temporary home.
// Providers are thread-safe; the environment's parts must outlive them.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/http.h"
#include "llm/catalog.h"
#include "llm/llm.h"
#include "platform/credential_store.h"

namespace orwenna {

// Model credentials by provider id. An entry that is missing, unreadable or
// not a valid credential reads as none.
class LLMCredentials {
 public:
  explicit LLMCredentials(CredentialStore& store) : store_(store) {}
  [[nodiscard]] std::optional<Credential> load(const std::string& providerID) const;
  void save(const std::string& providerID, const Credential& credential);
  void remove(const std::string& providerID);

 private:
  CredentialStore& store_;
};

struct LLMEnvironment {
  LLMEnvironment(HttpClient& h, Clock& c, Random& r, CredentialStore& s) : http(h), clock(c), random(r), store(s) {}

  HttpClient& http;
  Clock& clock;
  Random& random;
  CredentialStore& store;
  LLMEndpoints endpoints = LLMEndpoints::defaults();  // the wiring root passes the resolved ones
  std::function<void(const std::string& url)> openBrowser;  // openInBrowser when empty
  std::filesystem::path home;                               // homeFolder() when empty
  std::optional<std::string> searchPath;                    // $PATH when unset
  std::chrono::milliseconds signInWait{300'000};
  std::uint16_t chatGPTPort = 1455;
  std::chrono::milliseconds claudeTimeLimit{240'000};
  std::optional<std::vector<std::string>> claudeEnvironment;  // this process's when unset
  const Cancellation* signInCancellation = nullptr;
};

class LLMProvider {
 public:
  virtual ~LLMProvider() = default;
  virtual const ProviderInfo& info() const = 0;
  // Throws LLMError when the provider can't be used with this credential.
  virtual std::shared_ptr<LLMClient> makeClient(const std::optional<Credential>& credential,
                                                const std::string& model) = 0;
  // The browser sign-in; "<name>: sign-in isn't supported." where there is none.
  virtual Credential signIn() = 0;
  // Adopts a login another program holds. Throws LLMError.
  virtual Credential existingLogin() = 0;
  virtual std::vector<std::string> listModels(const std::optional<Credential>& credential) = 0;
};

// One provider per catalog entry, in catalog order.
std::vector<std::unique_ptr<LLMProvider>> makeProviders(LLMEnvironment& environment);

}  // namespace orwenna
