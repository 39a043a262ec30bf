// orwenna read [--provider ID] [--model ID] [--evm ADDRESS] [--solana ADDRESS] MESSAGE
//   (the hosted second check joins in when ORWENNA_OPENROUTER_KEY holds its key)
// orwenna exam [--provider ID] [--model ID]
//
// Reads one chat message with the connected model, as the chat would, and
// prints the reading as JSON with the lookups the model made (and, for a
// question, the answer from the user's facts); or runs the fixed exam of
// messages and prints how many the model read right. The clients, endpoints
// and lookups come from app/services.h and app/read_tools.h.
#include <iostream>
#include <memory>

#include "app/agent.h"
#include "app/model_exam.h"
#include "app/model_exam_results.h"
#include "app/read_tools.h"
#include "app/services.h"
#include "base/clock.h"
#include "language/intent_parser.h"
#include "orwenna/command.h"
#include "orwenna/model_choice.h"
#include "router/chat_router.h"

namespace orwenna::cmd {
namespace {

using Chosen = ChosenModel;

Chosen connect(const Services& services, const std::string& providerID, const std::string& modelID) {
  return connectModel(services, providerID, modelID);
}

void registerExam(CLI::App& app) {
  auto* cmd = app.add_subcommand("exam", "Score the connected model on the fixed set of chat messages");
  auto provider = std::make_shared<std::string>();
  auto model = std::make_shared<std::string>();
  cmd->add_option("--provider", *provider, "Provider id (default: the first connected one)");
  cmd->add_option("--model", *model, "Model id (default: the provider's default model)");
  cmd->callback([provider, model] {
    const Services services = Services::fromProcess();
    Chosen c = connect(services, *provider, *model);
    auto result = ModelExam::run(ChatRouter::askWith(*c.client, c.model), services.clock);
    std::cout << result.passed << "/" << result.total << " in " << result.seconds << " s\n";
    ModelExam::ResultStore(Defaults::standard()).save({c.providerID, c.model, result, services.clock.nowMillis()});
    for (const auto& miss : result.misses) std::cout << "  missed: " << miss << '\n';
  });
}

void registerRead(CLI::App& app) {
  auto* cmd = app.add_subcommand("read", "Read one chat message with the connected model and print the reading");
  struct Options {
    std::string provider, model, message, evm, solana;
  };
  auto o = std::make_shared<Options>();
  cmd->add_option("--provider", o->provider, "Provider id (default: the first connected one)");
  cmd->add_option("--model", o->model, "Model id (default: the provider's default model)");
  cmd->add_option("--evm", o->evm, "Your EVM / Hyperliquid address, for the portfolio and \"me\" in reads");
  cmd->add_option("--solana", o->solana, "Your Solana address, for the portfolio and \"{solana}\" in reads");
  cmd->add_option("MESSAGE", o->message, "The chat message")->required();
  cmd->callback([o] {
    const Services services = Services::fromProcess();
    Chosen c = connect(services, o->provider, o->model);
    std::shared_ptr<LLMClient> client = c.client;
    const std::string& model = c.model;

    ChatRouter::Context context = ChatRouter::Context::makeDefault(services.clock);
    context.replyLanguage = ChatRouter::replyLanguage(ChatRouter::ChatLanguage::auto_, {o->message});
    context.memory = Agent::Memory::load(Defaults::standard()).phrases();
    ChatRouter::Callbacks callbacks;
    callbacks.ask = ChatRouter::askWith(*client, model);
    Agent::UserAddresses me;
    if (!o->evm.empty()) me.evm = o->evm;
    if (!o->solana.empty()) me.solana = o->solana;
    auto tools = std::make_shared<Agent::ReadTools>(services, me);
    callbacks.lookup = tools->lookups().callback();
    callbacks.canRun = [tools](const std::string& line) {
      return ChatRouter::canRun(line, tools->markets().table().names());
    };
    // The hosted second check joins the model's reader when its key is given.
    auto classifier = std::make_shared<SecondCheckClassifier>(services.secondCheck());
    callbacks.secondReader =
        Agent::bothReaders(Agent::secondReader(callbacks.ask, o->message, context),
                           [classifier, reader = Agent::classifierReader(*classifier, {}, o->message)](
                               const std::string& command) { return reader(command); });
    try {
      ChatRouter::Reading reading = ChatRouter::read(o->message, context, callbacks);
      Json out = toJson(reading);
      if (reading.route.kind == ChatRouter::Route::Kind::question) {
        // The facts hold the by-the-book trade of the market the question names.
        std::optional<std::string> marketBlock;
        if (auto coin = IntentParser::asset(o->message, tools->markets().table().names()))
          marketBlock = tools->lookups().run("market", *coin);
        out["answer"] = Agent::answerQuestion(o->message, context.replyLanguage, tools->portfolio().snapshot(),
                                              marketBlock, callbacks.ask);
      }
      std::cout << out.dump(2) << '\n';
    } catch (const ChatRouter::Unreadable& e) {
      throw CommandFailure(std::string(e.what()) + " The model wrote: " + e.reply);
    }
  });
}

const CommandRegistrar readRegistrar{registerRead};
const CommandRegistrar examRegistrar{registerExam};

}  // namespace
}  // namespace orwenna::cmd
