#include "llm/providers.h"

#include <cstdlib>

#include "base/log.h"
#include "llm/clients.h"
#include "llm/sign_in.h"
#include "platform/process.h"

namespace orwenna {

std::optional<Credential> LLMCredentials::load(const std::string& providerID) const {
  std::optional<Json> json = store_.load(kLLMCredentialService, providerID);
  if (!json) return std::nullopt;
  try {
    return Credential::fromJson(*json);
  } catch (const JsonShapeError& e) {
    log::warn("stored credential for {} unreadable: {}", providerID, e.what());
    return std::nullopt;
  }
}

void LLMCredentials::save(const std::string& providerID, const Credential& credential) {
  store_.save(kLLMCredentialService, providerID, credential.toJson());
}

void LLMCredentials::remove(const std::string& providerID) { store_.remove(kLLMCredentialService, providerID); }

namespace {

class ProviderBase : public LLMProvider {
 public:
  ProviderBase(const ProviderInfo& info, LLMEnvironment& env) : info_(info), env_(env) {}
  const ProviderInfo& info() const override { return info_; }
  Credential signIn() override { throw LLMError(info_.name + ": sign-in isn't supported."); }
  Credential existingLogin() override { throw LLMError(info_.name + ": there is no existing login to use."); }
  std::vector<std::string> listModels(const std::optional<Credential>&) override { return info_.models; }

 protected:
  SignInContext signInContext() {
    std::function<void(const std::string&)> open = env_.openBrowser ? env_.openBrowser : openInBrowser;
    return SignInContext{env_.http, env_.clock, env_.random, open, env_.signInWait, env_.signInCancellation,
                         env_.chatGPTPort};
  }
  std::filesystem::path home() const { return env_.home.empty() ? homeFolder() : env_.home; }
  std::string searchPath() const {
    if (env_.searchPath) return *env_.searchPath;
    const char* p = std::getenv("PATH");
    return p ? p : "";
  }

  const ProviderInfo& info_;
  LLMEnvironment& env_;
};

// API-key and local providers: OpenAI-compatible endpoints, and Ollama's own API.
class EndpointProvider final : public ProviderBase {
 public:
  using ProviderBase::ProviderBase;

  std::shared_ptr<LLMClient> makeClient(const std::optional<Credential>& credential, const std::string&) override {
    std::string base = env_.endpoints.baseURL(info_.id);
    if (info_.id == "ollama") {
      std::string root = base;
      if (root.size() >= 3 && root.compare(root.size() - 3, 3, "/v1") == 0) root.resize(root.size() - 3);
      return std::make_shared<OllamaChatClient>(env_.http, root);
    }
    std::optional<std::string> key;
    if (credential && credential->apiKeyValue() && !credential->apiKeyValue()->empty())
      key = *credential->apiKeyValue();
    if (info_.takesKey && !key) throw LLMError(info_.name + ": add a key in Settings.");
    return std::make_shared<OpenAIChatClient>(env_.http, base, key, providerTakesJsonMode(info_.id));
  }

  std::vector<std::string> listModels(const std::optional<Credential>& credential) override {
    if (info_.id != "lmstudio") return info_.models;
    OpenAIChatClient client(env_.http, env_.endpoints.baseURL(info_.id), std::nullopt, false);
    (void)credential;
    return client.listModels();
  }
};

class OpenRouterProvider final : public ProviderBase {
 public:
  using ProviderBase::ProviderBase;

  std::shared_ptr<LLMClient> makeClient(const std::optional<Credential>& credential, const std::string&) override {
    if (!credential || !credential->apiKeyValue() || credential->apiKeyValue()->empty())
      throw LLMError("OpenRouter: sign in or add a key in Settings.");
    return std::make_shared<OpenAIChatClient>(env_.http, env_.endpoints.openRouterAPI(), *credential->apiKeyValue(),
                                              providerTakesJsonMode(info_.id));
  }

  Credential signIn() override {
    SignInContext context = signInContext();
    return signInWithOpenRouter(env_.endpoints, context);
  }
};

class ChatGPTProvider final : public ProviderBase {
 public:
  using ProviderBase::ProviderBase;

  std::shared_ptr<LLMClient> makeClient(const std::optional<Credential>& credential, const std::string&) override {
    // The client may outlive this provider; it keeps only the store and the id.
    CredentialStore* store = &env_.store;
    std::string id = info_.id;
    return std::make_shared<ChatGPTClient>(env_.http, env_.clock, env_.endpoints, source(credential),
                                           [store, id](const OAuthTokens& tokens) {
                                             LLMCredentials(*store).save(id, Credential::oauth(tokens));
                                           });
  }

  Credential signIn() override {
    SignInContext context = signInContext();
    return signInWithChatGPT(env_.endpoints, context);
  }

  Credential existingLogin() override {
    std::filesystem::path file = codexLoginFile(home());
    (void)readCodexLogin(file, env_.clock);  // refuse a login that can't be used now
    return Credential::external(file.string());
  }

  std::vector<std::string> listModels(const std::optional<Credential>& credential) override {
    auto client = std::static_pointer_cast<ChatGPTClient>(makeClient(credential, info_.defaultModel));
    return client->listModels();
  }

 private:
  ChatGPTClient::Source source(const std::optional<Credential>& credential) const {
    if (credential) {
      if (const auto* tokens = credential->oauthValue()) return *tokens;
      if (const auto* path = credential->externalPath()) return std::filesystem::path(*path);
    }
    throw LLMError("ChatGPT: sign in via the browser or use the Codex CLI login.");
  }
};

class ClaudeCodeProvider final : public ProviderBase {
 public:
  using ProviderBase::ProviderBase;

  std::shared_ptr<LLMClient> makeClient(const std::optional<Credential>& credential, const std::string&) override {
    if (!credential || !credential->externalPath() || !isExecutableFile(*credential->externalPath()))
      throw LLMError("Claude Code isn't connected.");
    return std::make_shared<ClaudeCodeClient>(*credential->externalPath(), env_.claudeTimeLimit,
                                              env_.claudeEnvironment);
  }

  Credential existingLogin() override {
    auto program = findClaudeProgram(home(), searchPath());
    if (!program) throw LLMError("Claude Code isn't connected.");
    return Credential::external(program->string());
  }
};

class UnavailableProvider final : public ProviderBase {
 public:
  using ProviderBase::ProviderBase;

  std::shared_ptr<LLMClient> makeClient(const std::optional<Credential>&, const std::string&) override {
    throw LLMError(*info_.unavailable);
  }
};

}  // namespace

std::vector<std::unique_ptr<LLMProvider>> makeProviders(LLMEnvironment& environment) {
  std::vector<std::unique_ptr<LLMProvider>> out;
  for (const auto& info : providerCatalog()) {
    if (info.unavailable) {
      out.push_back(std::make_unique<UnavailableProvider>(info, environment));
    } else if (info.id == "openrouter") {
      out.push_back(std::make_unique<OpenRouterProvider>(info, environment));
    } else if (info.id == "chatgpt") {
      out.push_back(std::make_unique<ChatGPTProvider>(info, environment));
    } else if (info.id == "claude-code") {
      out.push_back(std::make_unique<ClaudeCodeProvider>(info, environment));
    } else {
      out.push_back(std::make_unique<EndpointProvider>(info, environment));
    }
  }
  return out;
}

}  // namespace orwenna
