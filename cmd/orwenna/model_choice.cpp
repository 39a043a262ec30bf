#include "orwenna/model_choice.h"

#include "llm/providers.h"
#include "orwenna/command.h"
#include "platform/credential_store.h"

namespace orwenna::cmd {

ChosenModel connectModel(const Services& services, const std::string& providerID, const std::string& modelID) {
  LLMEnvironment environment = services.llm(SecureRandom::shared(), FileCredentialStore::shared());
  auto providers = makeProviders(environment);
  LLMCredentials credentials{FileCredentialStore::shared()};
  LLMProvider* chosen = nullptr;
  std::optional<Credential> credential;
  for (auto& p : providers) {
    const ProviderInfo& info = p->info();
    if (!providerID.empty()) {
      if (info.id != providerID) continue;
      chosen = p.get();
      credential = credentials.load(info.id);
      break;
    }
    if (info.unavailable || info.kind == ProviderKind::local) continue;
    if ((credential = credentials.load(info.id))) {
      chosen = p.get();
      break;
    }
  }
  if (!chosen) {
    throw CommandFailure(providerID.empty()
                             ? "No model provider is connected. Run `orwenna login PROVIDER` first, or pass --provider."
                             : "There is no model provider \"" + providerID + "\".");
  }
  const ProviderInfo& info = chosen->info();
  if (info.unavailable) throw CommandFailure(*info.unavailable);
  std::string model = modelID.empty() ? info.defaultModel : modelID;
  if (model.empty()) throw CommandFailure(info.name + " has no default model; pick one with --model.");
  return ChosenModel{chosen->makeClient(credential, model), model, info.id, modelDisplayName(model)};
}

}  // namespace orwenna::cmd
