// The agent's model calls around the router's reading: the lookup dispatcher,
// the second reader, the plan check, continuing a request, the background
// check, and the memory of the user's own phrases.
//
// Prompts are built from fixed texts; replies are decoded strictly, and every
// failure leaves money untouched (an objection or an error, never a pass).
// Pure functions and value types; thread-safe as values.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "app/portfolio.h"
#include "base/error.h"
#include "base/language.h"
#include "router/chat_router.h"
#include "language/commands.h"
#include "trading/market.h"
#include "guards/second_check.h"
#include "platform/defaults.h"

namespace orwenna {

class AgentError : public Error {
 public:
  explicit AgentError(const std::string& message) : Error(message) {}
};

namespace Agent {

// --- Lookups -------------------------------------------------------------

using LookupHandler = std::function<std::string(const std::string& arg)>;

// Runs the lookup tools it is given by name (lower case). The tools whose
// modules are not there yet answer that plainly; an unknown tool gets the list
// of tools. Never throws: a failing tool answers with its error text. The
// text is always valid UTF-8 (broken sequences become U+FFFD).
class Lookups {
 public:
  explicit Lookups(std::map<std::string, LookupHandler> handlers) : handlers_(std::move(handlers)) {}
  std::string run(const std::string& tool, const std::string& arg) const;
  ChatRouter::RunLookup callback() const;

 private:
  std::map<std::string, LookupHandler> handlers_;
};

// "Up the most today: " and the five markets that rose most over the day
// ("HYPE +9.12%"); "Markets aren't loaded yet." before the table fills, and a
// sentence saying so when no market's day move is known.
std::string movers(const MarketTable& markets);

// The `portfolio` lookup over the app's state; no network call.
LookupHandler portfolioLookup(const PortfolioSource& source);

// The chat's status line while a lookup runs.
std::string statusLine(std::string_view tool, Language language);
// The reply to a tool nobody knows.
std::string unknownTool(std::string_view tool);

// --- Second reader and plan check -----------------------------------------

std::string secondReaderPrompt(std::string_view message, const ChatRouter::Context& context,
                               std::string_view command);
// "matches" true: nothing. False: `why`, or `fallback` without one.
// Throws AgentError("The checker did not reply with JSON.") on anything else.
[[nodiscard]] std::optional<std::string> objection(std::string_view reply, std::string_view fallback);
// A second reader asking the model through `ask`.
ChatRouter::SecondReader secondReader(ChatRouter::Ask ask, std::string message, ChatRouter::Context context);

std::string planCheckPrompt(const std::vector<std::string>& messages, std::string_view plan);
[[nodiscard]] std::optional<std::string> planObjection(std::string_view reply);
// Asks whether the built plan matches the trade messages: an objection or
// nothing. Throws AgentError when the reply is not JSON, and what `ask` throws.
[[nodiscard]] std::optional<std::string> planCheck(const ChatRouter::Ask& ask, const std::vector<std::string>& messages,
                                                   std::string_view plan);

// The hosted classifier's review of the command as a second reader: its
// concern, or nothing. It never blocks on its own: when it fails or is not
// connected it has no objection (logged), and the code checks decide.
ChatRouter::SecondReader classifierReader(const SecondCheckClassifier& classifier,
                                          std::vector<std::string> recentChat, std::string message);
// Both readers: the model's objection first; only when it has none is the
// classifier asked. Either may be empty.
ChatRouter::SecondReader bothReaders(ChatRouter::SecondReader model, ChatRouter::SecondReader classifier);

// --- Plan comment and answers from facts ----------------------------------

// The user message asking for a comment on a plan just built: the context
// block, the command it was read as, and the plan's own check lines.
std::string planCommentPrompt(std::string_view contextBlock, std::string_view command,
                              const std::vector<std::string>& checkLines);
// The model's comment on a plan just built or changed: a chat reading with
// its option cards, or nothing when the model fails (logged; the plan stands).
[[nodiscard]] std::optional<ChatRouter::Reading> planComment(const ChatRouter::Ask& ask, std::string_view contextBlock,
                                                             std::string_view command,
                                                             const std::vector<std::string>& checkLines);
// The system text and the user text of an answer from the user's own facts.
std::vector<LLMMessage> answerPrompt(Language language, std::string_view facts, std::string_view question);

// The `question` route: the model answers from the user's facts; with no model
// (`ask` empty), or when it fails or says nothing, the answer comes from the
// portfolio and trade history instead. Never throws.
std::string answerQuestion(std::string_view question, Language language, const PortfolioSnapshot& snapshot,
                           const std::optional<std::string>& marketBlock, const ChatRouter::Ask& ask);

// --- Continuing a request and background checks ---------------------------

enum class StepOutcome { wentThrough, failed, unknown };
std::string continueMessage(std::string_view command, std::string_view request, StepOutcome outcome,
                            const std::vector<std::string>& repliesSince);
std::string checkMessage(std::string_view what);
std::string noModelForCheck(Language language);

// A request that goes on after a step.
struct AgentGoal {
  std::string request;  // the user's words
  std::string command;  // the step that ran
  int mark = 0;         // where in the chat the step started
  std::optional<std::string> canvas;  // UUID
  std::int64_t since = 0;             // ms since 1970
  int round = 1;                      // steps run so far
  std::optional<std::string> next;

  // A request runs at most this many steps before the agent stops and asks.
  static constexpr int kMaxRounds = 5;

  // The goal a `continues` command reading starts; nothing for any other.
  [[nodiscard]] static std::optional<AgentGoal> start(const ChatRouter::Reading& reading, std::string request,
                                                      int mark, std::optional<std::string> canvas,
                                                      std::int64_t since);
  // The same request after `reading`, its next step: nothing when the request
  // is done (the reading does not continue).
  [[nodiscard]] std::optional<AgentGoal> after(const ChatRouter::Reading& reading, int newMark) const;

  friend bool operator==(const AgentGoal&, const AgentGoal&) = default;
};

// Asks the router how the request goes on after its step ended. Past
// kMaxRounds steps the model is not asked again: the reading is a chat
// saying the agent stopped. Throws what ChatRouter::read throws.
[[nodiscard]] ChatRouter::Reading continueGoal(const AgentGoal& goal, StepOutcome outcome,
                                               const std::vector<std::string>& repliesSince,
                                               const ChatRouter::Context& context,
                                               const ChatRouter::Callbacks& callbacks);

// A scheduled "check: …": nothing when the model says there is nothing to say
// (a quiet reading); without a model (`callbacks` absent) the chat says the
// check can't run. Throws what ChatRouter::read throws.
[[nodiscard]] std::optional<ChatRouter::Reading> runCheck(std::string_view what, const ChatRouter::Context& context,
                                                          const std::optional<ChatRouter::Callbacks>& callbacks);

// The option cards of a reply.
struct NextSteps {
  std::vector<ChatRouter::Option> options;
  std::string userText;
  std::vector<std::string> found;
  std::optional<std::string> canvas;

  // Nothing when the reading offers no cards.
  [[nodiscard]] static std::optional<NextSteps> of(const ChatRouter::Reading& reading, std::string userText,
                                                   std::optional<std::string> canvas);
  friend bool operator==(const NextSteps&, const NextSteps&) = default;
};

// --- Memory (stored under "agentMemory") ----------------------------------

inline constexpr std::string_view kMemoryKey = "agentMemory";

class Memory {
 public:
  explicit Memory(std::vector<std::string> phrases = {}) : phrases_(std::move(phrases)) {}
  // Keeps `phrase` only when its words come from the user's own message.
  std::string remember(std::string_view phrase, std::string_view userMessage, Language language);
  std::string list(Language language) const;
  // Drops the phrases holding every word of `words` (everything for "all").
  std::string forget(std::string_view words, Language language);
  const std::vector<std::string>& phrases() const { return phrases_; }

  // Runs a memory command typed in `userMessage`; the reply to show.
  std::string apply(const MemoryCommand& command, std::string_view userMessage, Language language);

  // The phrases under "agentMemory"; a stored value that is not a list of
  // texts reads as empty (logged) and is replaced on the next save.
  [[nodiscard]] static Memory load(const Defaults& defaults);
  // Throws FileError (the settings file cannot be written or is not an object).
  void save(const Defaults& defaults) const;

 private:
  std::vector<std::string> phrases_;
};

}  // namespace Agent
}  // namespace orwenna
