// The agent's model calls around the router's reading: the lookup dispatcher,
// the second reader, the plan check, continuing a request, the background
// check, and the memory of the user's own phrases.
//
// Prompts are built from fixed texts; replies are decoded strictly, and every
// failure leaves money untouched (an objection or an error, never a pass).
// Pure functions and value types; thread-safe as values.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/chat_router.h"
#include "core/market.h"

namespace orwenna {

class AgentError : public std::runtime_error {
 public:
  explicit AgentError(const std::string& message) : std::runtime_error(message) {}
};

namespace Agent {

// --- Lookups -------------------------------------------------------------

using LookupHandler = std::function<std::string(const std::string& arg)>;

// Runs the lookup tools it is given by name (lower case). The tools whose
// modules are not there yet answer that plainly; an unknown tool gets the list
// of tools. Never throws: a failing tool answers with its error text.
class Lookups {
 public:
  explicit Lookups(std::map<std::string, LookupHandler> handlers) : handlers_(std::move(handlers)) {}
  std::string run(const std::string& tool, const std::string& arg) const;
  ChatRouter::RunLookup callback() const;

 private:
  std::map<std::string, LookupHandler> handlers_;
};

// "Up the most today: " and the five markets that rose most over the day
// ("HYPE +9.12%"); "Markets aren't loaded yet." before the table fills.
std::string movers(const MarketTable& markets);

// The chat's status line while a lookup runs.
std::string statusLine(std::string_view tool, bool russian);
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

// --- Plan comment and answers from facts ----------------------------------

// The user message asking for a comment on a plan just built: the context
// block, the command it was read as, and the plan's own check lines.
std::string planCommentPrompt(std::string_view contextBlock, std::string_view command,
                              const std::vector<std::string>& checkLines);
// The system text and the user text of an answer from the user's own facts.
std::vector<LLMMessage> answerPrompt(std::string_view language, std::string_view facts, std::string_view question);

// --- Continuing a request and background checks ---------------------------

enum class StepOutcome { wentThrough, failed, unknown };
std::string continueMessage(std::string_view command, std::string_view request, StepOutcome outcome,
                            const std::vector<std::string>& repliesSince);
std::string checkMessage(std::string_view what);
std::string noModelForCheck(bool russian);

// --- Memory (stored under "agentMemory") ----------------------------------

inline constexpr std::string_view kMemoryKey = "agentMemory";

class Memory {
 public:
  explicit Memory(std::vector<std::string> phrases = {}) : phrases_(std::move(phrases)) {}
  // Keeps `phrase` only when its words come from the user's own message.
  std::string remember(std::string_view phrase, std::string_view userMessage, bool russian);
  std::string list(bool russian) const;
  // Drops the phrases holding every word of `words` (everything for "all").
  std::string forget(std::string_view words, bool russian);
  const std::vector<std::string>& phrases() const { return phrases_; }

 private:
  std::vector<std::string> phrases_;
};

}  // namespace Agent
}  // namespace orwenna
