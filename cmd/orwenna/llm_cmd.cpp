// orwenna models | login PROVIDER | logout PROVIDER | ask TEXT
//
// The model providers from the command line: see which are connected, sign in
// (keys come from standard input, never from arguments), sign out, and send
// one request. Provider endpoints come from Services (app/services.h).
#include <iostream>
#include <memory>

#include "app/services.h"
#include "base/clock.h"
#include "base/text.h"
#include "llm/catalog.h"
#include "llm/providers.h"
#include "orwenna/command.h"
#include "platform/credential_store.h"

namespace orwenna::cmd {
namespace {

struct Models {
  LLMEnvironment environment = Services::fromProcess().llm(SecureRandom::shared(), FileCredentialStore::shared());
  std::vector<std::unique_ptr<LLMProvider>> providers = makeProviders(environment);
  LLMCredentials credentials{FileCredentialStore::shared()};

  LLMProvider& provider(const std::string& id) {
    for (auto& p : providers)
      if (p->info().id == id) return *p;
    std::string known;
    for (auto& p : providers) known += (known.empty() ? "" : ", ") + p->info().id;
    throw CommandFailure("There is no model provider \"" + id + "\". Known: " + known + ".");
  }
};

// What the settings page would say about a provider right now.
std::string stateOf(const ProviderInfo& info, const std::optional<Credential>& credential) {
  if (info.unavailable) return "unavailable";
  if (credential || info.kind == ProviderKind::local) return "connected";
  return info.takesKey ? "needs a key" : "needs sign-in";
}

void registerModels(CLI::App& app) {
  auto* cmd = app.add_subcommand("models", "List the model providers and whether each is connected");
  auto json = std::make_shared<bool>(false);
  cmd->add_flag("--json", *json, "Print JSON");
  cmd->callback([json] {
    Models m;
    Json out = Json::array();
    for (auto& p : m.providers) {
      const ProviderInfo& info = p->info();
      std::string state = stateOf(info, m.credentials.load(info.id));
      if (*json) {
        Json entry = Json::object();
        entry["id"] = info.id;
        entry["name"] = info.name;
        entry["kind"] = kindName(info.kind);
        entry["state"] = state;
        entry["defaultModel"] = info.defaultModel;
        entry["models"] = info.models;
        entry["note"] = info.note;
        if (info.unavailable) entry["unavailable"] = *info.unavailable;
        out.push_back(std::move(entry));
        continue;
      }
      std::cout << info.id << " — " << info.name << " (" << kindName(info.kind) << "): " << state << '\n';
      if (info.unavailable) {
        std::cout << "    " << *info.unavailable << '\n';
        continue;
      }
      if (!info.defaultModel.empty()) std::cout << "    default model: " << info.defaultModel << '\n';
      std::cout << "    " << info.note << '\n';
    }
    if (*json) std::cout << out.dump(2) << '\n';
  });
}

void registerLogin(CLI::App& app) {
  auto* cmd = app.add_subcommand("login", "Connect a model provider: a key on standard input, a browser sign-in, or an existing login");
  auto id = std::make_shared<std::string>();
  auto existing = std::make_shared<bool>(false);
  cmd->add_option("PROVIDER", *id, "Provider id, as `orwenna models` lists them")->required();
  cmd->add_flag("--existing", *existing, "Adopt the login another program holds (ChatGPT: the Codex CLI login)");
  cmd->callback([id, existing] {
    Models m;
    LLMProvider& p = m.provider(*id);
    const ProviderInfo& info = p.info();
    if (info.unavailable) throw CommandFailure(*info.unavailable);
    std::optional<Credential> credential;
    if (info.takesKey) {
      std::string key = text::trimmed(readStandardInput());
      if (key.empty()) throw CommandFailure("No key arrived on standard input; nothing was changed.");
      credential = Credential::apiKey(key);
    } else if (info.kind == ProviderKind::local) {
      std::cout << info.name << " needs no sign-in.\n";
      return;
    } else if (info.existingLoginLabel && (*existing || !info.signInLabel)) {
      credential = p.existingLogin();
    } else {
      credential = p.signIn();
    }
    m.credentials.save(info.id, *credential);
    std::cout << "Connected " << info.name << ".\n";
  });
}

void registerLogout(CLI::App& app) {
  auto* cmd = app.add_subcommand("logout", "Forget the stored credential of a model provider");
  auto id = std::make_shared<std::string>();
  cmd->add_option("PROVIDER", *id, "Provider id")->required();
  cmd->callback([id] {
    Models m;
    const ProviderInfo& info = m.provider(*id).info();
    m.credentials.remove(info.id);
    std::cout << "Disconnected " << info.name << ".\n";
  });
}

void registerAsk(CLI::App& app) {
  auto* cmd = app.add_subcommand("ask", "Send one request to a model and print the answer");
  struct Options {
    std::string provider, model, text;
    bool json = false, think = false, stream = false;
  };
  auto o = std::make_shared<Options>();
  cmd->add_option("--provider", o->provider, "Provider id (default: the first connected one)");
  cmd->add_option("--model", o->model, "Model id (default: the provider's default model)");
  cmd->add_flag("--json", o->json, "Ask for one JSON object back");
  cmd->add_flag("--think", o->think, "Ask for the model's extended reasoning");
  cmd->add_flag("--stream", o->stream, "Print the answer as it arrives");
  cmd->add_option("TEXT", o->text, "The message")->required();
  cmd->callback([o] {
    Models m;
    LLMProvider* chosen = nullptr;
    std::optional<Credential> credential;
    if (!o->provider.empty()) {
      chosen = &m.provider(o->provider);
      credential = m.credentials.load(chosen->info().id);
    } else {
      for (auto& p : m.providers) {
        if (p->info().unavailable || p->info().kind == ProviderKind::local) continue;
        if ((credential = m.credentials.load(p->info().id))) {
          chosen = p.get();
          break;
        }
      }
      if (!chosen) throw CommandFailure("No model provider is connected. Run `orwenna login PROVIDER` first, or pass --provider.");
    }
    const ProviderInfo& info = chosen->info();
    if (info.unavailable) throw CommandFailure(*info.unavailable);
    std::string model = o->model.empty() ? info.defaultModel : o->model;
    if (model.empty()) throw CommandFailure(info.name + " has no default model; pick one with --model.");
    std::shared_ptr<LLMClient> client = chosen->makeClient(credential, model);
    if (o->think) client = std::make_shared<ThinkingClient>(client);
    LLMRequest request;
    request.model = model;
    request.messages = {{LLMMessage::Role::user, o->text}};
    request.wantsJSON = o->json;
    if (o->stream) {
      std::size_t shown = 0;
      std::string answer = client->completeStreaming(request, [&](const std::string& soFar) {
        if (soFar.size() > shown) std::cout << soFar.substr(shown) << std::flush;
        shown = soFar.size();
      });
      if (answer.size() > shown) std::cout << answer.substr(shown);
      std::cout << '\n';
    } else {
      std::cout << client->complete(request) << '\n';
    }
  });
}

const CommandRegistrar llmRegistrar([](CLI::App& app) {
  registerModels(app);
  registerLogin(app);
  registerLogout(app);
  registerAsk(app);
});

}  // namespace
}  // namespace orwenna::cmd
