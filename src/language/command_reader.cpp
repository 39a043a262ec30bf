#include "language/command_reader.h"

#include "base/text.h"

namespace orwenna::CommandReader {

std::optional<AnyCommand> read(std::string_view step, const MarketNames& markets,
                               const std::optional<TradeIntent>& plan) {
  if (!text::isValidUtf8(step)) return std::nullopt;  // broken bytes are no command
  std::string bare = text::lowercased(text::trimmed(step));
  while (!bare.empty() && (bare.back() == '.' || bare.back() == '!' || bare.back() == ' ')) bare.pop_back();
  for (std::string_view word : {"new canvas", "clear the plan", "lock", "create an automation wallet"}) {
    if (bare == word) return AppWord{std::string(word)};
  }
  // The forms that wrap another command come first: "every day: close" is a
  // schedule and "when ETH above 2500: close" an alert, never a close right now.
  if (auto c = CommandLines::scheduled(step)) return *c;
  if (auto c = AlertCommand::parse(step, markets)) return *c;
  if (CommandLines::cancelsScheduledTasks(step)) return CancelScheduledTasks{};
  if (auto c = CommandLines::check(step)) return CheckLine{*c};
  if (auto c = WalletCommand::parse(step)) return *c;
  if (auto c = TokenCommand::parse(step)) return *c;
  if (auto c = PositionCommand::parse(step)) return *c;
  if (auto c = FolderCommand::parse(step)) return *c;
  if (auto c = ChartCommand::parse(step, markets)) return *c;
  if (auto c = AddressBookCommand::parse(step)) return *c;
  if (auto c = PnLCommand::parse(step)) return *c;
  if (auto c = MemoryCommand::parse(step)) return *c;
  if (auto c = IntentParser::parse(step, markets, plan)) return *c;
  return std::nullopt;
}

namespace {

struct Describe {
  Json operator()(const AppWord& c) const { return Json{{"type", "AppWord"}, {"word", c.word}}; }
  Json operator()(const CommandLines::Scheduled& c) const {
    return Json{{"type", "Scheduled"}, {"when", c.when}, {"command", c.command}};
  }
  Json operator()(const CancelScheduledTasks&) const { return Json{{"type", "CancelScheduledTasks"}}; }
  Json operator()(const CheckLine& c) const { return Json{{"type", "Check"}, {"text", c.text}}; }
  Json operator()(const TradeIntent& c) const { return c.toJson(); }
  template <class T>
  Json operator()(const T& c) const {
    return c.toJson();
  }
};

struct Write {
  std::string operator()(const AppWord& c) const { return c.word; }
  std::string operator()(const CommandLines::Scheduled& c) const { return c.when + ": " + c.command; }
  std::string operator()(const CancelScheduledTasks&) const { return "cancel scheduled tasks"; }
  std::string operator()(const CheckLine& c) const { return "check: " + c.text; }
  std::string operator()(const TradeIntent& c) const { return c.command(); }
  template <class T>
  std::string operator()(const T& c) const {
    return c.line();
  }
};

}  // namespace

Json toJson(const AnyCommand& command) { return std::visit(Describe{}, command); }

std::string_view typeName(const AnyCommand& command) {
  static constexpr std::string_view names[] = {
      "AppWord",          "WalletCommand", "TokenCommand",        "PositionCommand", "FolderCommand",
      "ChartCommand",     "AlertCommand",  "AddressBookCommand",  "PnLCommand",      "Scheduled",
      "CancelScheduledTasks", "MemoryCommand", "Check",           "TradeIntent"};
  static_assert(std::size(names) == std::variant_size_v<AnyCommand>);
  return names[command.index()];
}

std::string line(const AnyCommand& command) { return std::visit(Write{}, command); }

}  // namespace orwenna::CommandReader
