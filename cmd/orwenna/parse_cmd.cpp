// `orwenna parse LINE` — what the command language reads in a line, and
// `orwenna words TEXT` — what the chat-word checks say about a message.
#include <iostream>
#include <sstream>

#include "language/chat_words.h"
#include "language/command_reader.h"
#include "orwenna/command.h"

namespace orwenna::cmd {
namespace {

MarketNames splitMarkets(const std::string& list) {
  MarketNames out;
  std::stringstream in(list);
  std::string name;
  while (std::getline(in, name, ',')) {
    while (!name.empty() && name.front() == ' ') name.erase(name.begin());
    while (!name.empty() && name.back() == ' ') name.pop_back();
    if (!name.empty()) out.push_back(name);
  }
  return out;
}

void printHuman(const AnyCommand& command) {
  Json j = CommandReader::toJson(command);
  std::cout << CommandReader::typeName(command);
  if (j.contains("case")) std::cout << ' ' << j["case"].get<std::string>();
  std::cout << '\n';
  for (auto it = j.begin(); it != j.end(); ++it) {
    if (it.key() == "type" || it.key() == "case") continue;
    std::cout << "  " << it.key() << ": " << (it->is_string() ? it->get<std::string>() : it->dump()) << '\n';
  }
  std::cout << "  line: " << CommandReader::line(command) << '\n';
}

struct ParseOptions {
  bool json = false;
  std::string markets;
  std::string plan;
  std::string line;
};

void runParse(const ParseOptions& options) {
  MarketNames markets = splitMarkets(options.markets);
  std::optional<TradeIntent> plan;
  if (!options.plan.empty()) {
    plan = IntentParser::parse(options.plan, markets, std::nullopt);
    if (!plan) throw CommandFailure("The plan \"" + options.plan + "\" is not a trade.");
  }
  std::vector<std::string> steps = CommandLines::steps(options.line);
  if (steps.empty()) throw CommandFailure("no command");
  Json all = Json::array();
  bool unreadable = false;
  for (const std::string& step : steps) {
    auto command = CommandReader::read(step, markets, plan);
    if (!command) {
      unreadable = true;
      if (!options.json && steps.size() > 1) std::cout << "no command: " << step << '\n';
      all.push_back(nullptr);
      continue;
    }
    // A later step changes the plan an earlier step set up.
    if (auto* intent = std::get_if<TradeIntent>(&*command)) plan = *intent;
    if (options.json) {
      all.push_back(CommandReader::toJson(*command));
    } else {
      printHuman(*command);
    }
  }
  if (options.json) std::cout << (all.size() == 1 ? all[0] : all).dump() << '\n';
  if (unreadable) throw CommandFailure("no command");
}

const CommandRegistrar parseRegistrar([](CLI::App& app) {
  auto options = std::make_shared<ParseOptions>();
  CLI::App* sub = app.add_subcommand("parse", "Read a line of the command language as a typed command");
  sub->add_flag("--json", options->json, "Print one JSON object naming the type, case and fields");
  sub->add_option("--markets", options->markets, "Known exchange markets, comma-separated (BTC,ETH,…)");
  sub->add_option("--plan", options->plan, "The trade plan on the canvas, as a command line");
  sub->add_option("line", options->line, "The command line (steps joined by \" then \")")->required();
  sub->callback([options] { runParse(*options); });

  auto text = std::make_shared<std::string>();
  CLI::App* words = app.add_subcommand("words", "Show whether a chat message is a plain yes, a cancel or a change");
  words->add_option("text", *text, "The chat message")->required();
  words->callback([text] {
    std::cout << "isYes: " << (ChatWords::isYes(*text) ? "true" : "false") << '\n'
              << "isCancel: " << (ChatWords::isCancel(*text) ? "true" : "false") << '\n'
              << "changeWords: " << (ChatWords::changeWords(*text) ? "true" : "false") << '\n';
  });
});

}  // namespace
}  // namespace orwenna::cmd
