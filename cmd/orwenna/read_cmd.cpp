// orwenna read [--provider ID] [--model ID] MESSAGE
// orwenna exam [--provider ID] [--model ID]
//
// Reads one chat message with the connected model, as the chat would, and
// prints the reading as JSON with the lookups the model made; or runs the
// fixed exam of messages and prints how many the model read right.
#include <iostream>
#include <memory>

#include "app/agent.h"
#include "app/model_exam.h"
#include "base/clock.h"
#include "base/http.h"
#include "core/chat_router.h"
#include "llm/providers.h"
#include "orwenna/command.h"
#include "platform/credential_store.h"

namespace orwenna::cmd {
namespace {

struct Chosen {
  std::shared_ptr<LLMClient> client;
  std::string model;
};

Chosen connect(const std::string& providerID, const std::string& modelID) {
  LLMEnvironment environment{CurlHttpClient::shared(), SystemClock::shared(), SecureRandom::shared(),
                             FileCredentialStore::shared()};
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
  return Chosen{chosen->makeClient(credential, model), model};
}

void registerExam(CLI::App& app) {
  auto* cmd = app.add_subcommand("exam", "Score the connected model on the fixed set of chat messages");
  auto provider = std::make_shared<std::string>();
  auto model = std::make_shared<std::string>();
  cmd->add_option("--provider", *provider, "Provider id (default: the first connected one)");
  cmd->add_option("--model", *model, "Model id (default: the provider's default model)");
  cmd->callback([provider, model] {
    Chosen c = connect(*provider, *model);
    auto result = ModelExam::run(ChatRouter::askWith(*c.client, c.model), SystemClock::shared());
    std::cout << result.passed << "/" << result.total << " in " << result.seconds << " s\n";
    for (const auto& miss : result.misses) std::cout << "  missed: " << miss << '\n';
  });
}

void registerRead(CLI::App& app) {
  auto* cmd = app.add_subcommand("read", "Read one chat message with the connected model and print the reading");
  struct Options {
    std::string provider, model, message;
  };
  auto o = std::make_shared<Options>();
  cmd->add_option("--provider", o->provider, "Provider id (default: the first connected one)");
  cmd->add_option("--model", o->model, "Model id (default: the provider's default model)");
  cmd->add_option("MESSAGE", o->message, "The chat message")->required();
  cmd->callback([o] {
    Chosen c = connect(o->provider, o->model);
    std::shared_ptr<LLMClient> client = c.client;
    const std::string& model = c.model;

    ChatRouter::Context context = ChatRouter::Context::makeDefault(SystemClock::shared());
    context.replyLanguage = ChatRouter::replyLanguage(ChatRouter::ChatLanguage::auto_, {o->message});
    ChatRouter::Callbacks callbacks;
    callbacks.ask = ChatRouter::askWith(*client, model);
    callbacks.lookup = Agent::Lookups({}).callback();
    callbacks.canRun = [](const std::string& line) { return ChatRouter::canRun(line, {}); };
    callbacks.secondReader = Agent::secondReader(callbacks.ask, o->message, context);
    try {
      std::cout << toJson(ChatRouter::read(o->message, context, callbacks)).dump(2) << '\n';
    } catch (const ChatRouter::Unreadable& e) {
      throw CommandFailure(std::string(e.what()) + " The model wrote: " + e.reply);
    }
  });
}

const CommandRegistrar readRegistrar{registerRead};
const CommandRegistrar examRegistrar{registerExam};

}  // namespace
}  // namespace orwenna::cmd
