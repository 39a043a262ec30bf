#include "orwenna/model_choice.h"

#include "base/files.h"
#include "llm/providers.h"
#include "llm/sign_in.h"
#include "orwenna/command.h"
#include "platform/credential_store.h"

#include <cstdlib>

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

std::string searchPath() {
  const char* path = std::getenv("PATH");
  return path ? path : "/usr/local/bin:/usr/bin:/bin";
}

LocalSetup localSetup(const Services& services) {
  LocalPlaces places;
  places.installDir = AppPaths::fromEnvironment().dataDir / "ollama";
  const char* models = std::getenv("OLLAMA_MODELS");
  places.modelsDir = models && *models ? std::filesystem::path(models) : homeFolder() / ".ollama" / "models";
  places.searchPath = searchPath();
  return LocalSetup(services.http, services.clock, services.endpoints.local, places);
}

}  // namespace orwenna::cmd
