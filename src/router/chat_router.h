// Turns one chat message into one typed reading. The model the user connected
// is sent a fixed brief, a block of context and the message, and must answer
// with one JSON object: a lookup request or a final answer naming a route and,
// for work the app can do, one line of the command language. Around that call
// the router runs the model's read-only lookups, repairs answers that do not
// fit the format, sends back command lines no parser reads, and lets an
// optional second reader challenge the command.
//
// Holds no state between messages: the model, the lookups and the second reader
// come in as callbacks. `read` blocks the calling thread (the lookups of one
// turn run on their own threads) and is safe to call from several threads; the
// brief is built once, thread-safely.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/clock.h"
#include "base/error.h"
#include "base/language.h"
#include "language/intent_parser.h"
#include "llm/llm.h"

namespace orwenna {

class ChatRouter {
 public:
  struct Route {
    enum class Kind { command, chat, clarify, question, plan, confirm, cancel };
    Kind kind = Kind::chat;
    // The command line of `command`, the reply of `chat` and `clarify`; empty otherwise.
    std::string text;

    static Route command(std::string line) { return Route{Kind::command, std::move(line)}; }
    static Route chat(std::string reply) { return Route{Kind::chat, std::move(reply)}; }
    static Route clarify(std::string reply) { return Route{Kind::clarify, std::move(reply)}; }
    static Route question() { return Route{Kind::question, {}}; }
    static Route plan() { return Route{Kind::plan, {}}; }
    static Route confirm() { return Route{Kind::confirm, {}}; }
    static Route cancel() { return Route{Kind::cancel, {}}; }
    friend bool operator==(const Route&, const Route&) = default;
  };

  struct Lookup {
    std::string tool;
    std::string arg;
    friend bool operator==(const Lookup&, const Lookup&) = default;
  };

  struct Option {
    std::string title;
    std::string comment;
    std::string command;
    bool recommended = false;
    friend bool operator==(const Option&, const Option&) = default;
  };

  struct Reading {
    Route route;
    std::optional<std::string> show;
    std::vector<Option> options;  // at most 4
    std::vector<Lookup> lookups;
    std::vector<std::string> found;  // addresses in the lookups' results, first appearance order
    std::optional<std::string> doubt;
    std::optional<std::string> corrected;
    bool continues = false;
    std::optional<std::string> next;
    bool quiet = false;
    friend bool operator==(const Reading&, const Reading&) = default;
  };

  // Every entry already rendered as text by the conversation loop.
  struct Context {
    std::vector<std::string> recent;  // oldest first
    std::optional<std::string> plan;
    std::vector<std::string> canvas;
    std::vector<std::string> positions;
    std::vector<std::string> favorites;
    std::vector<std::string> addressBook;
    std::vector<std::string> balances;
    std::optional<std::string> capital;
    Language replyLanguage = Language::english;
    std::string off;
    bool safeSearch = true;
    std::vector<std::string> memory;
    std::vector<std::string> offered;
    std::string now;

    // Everything empty, English, safe search on, `now` from the clock.
    [[nodiscard]] static Context makeDefault(const Clock& clock);
  };

  struct Step {
    std::variant<std::vector<Lookup>, Reading> value;
    bool isLookups() const { return value.index() == 0; }
  };

  // The model kept answering outside the format; `reply` is the start of its last answer.
  class Unreadable : public orwenna::Error {
   public:
    explicit Unreadable(std::string reply);
    std::string reply;
  };

  // A failure with its finished sentence.
  class Error : public orwenna::Error {
   public:
    explicit Error(const std::string& message) : orwenna::Error(message) {}
  };

  using Ask = std::function<std::string(const std::vector<LLMMessage>& messages, bool wantsJSON,
                                        const PartialText& onText)>;
  using RunLookup = std::function<std::string(const std::string& tool, const std::string& arg)>;
  using SecondReader = std::function<std::optional<std::string>(const std::string& command)>;
  using CanRun = std::function<bool(const std::string& line)>;
  using EarlyReply = std::function<void(const std::string& reply)>;

  struct Callbacks {
    Ask ask;            // required
    RunLookup lookup;   // required
    SecondReader secondReader;
    CanRun canRun;      // absent: unreadable commands are not sent back
    EarlyReply onEarlyReply;
  };

  // REQUIRES: callbacks.ask and callbacks.lookup are set.
  // Throws Unreadable, Error, or whatever `ask` throws (unchanged).
  [[nodiscard]] static Reading read(std::string_view message, const Context& context, const Callbacks& callbacks);

  // An `ask` that streams the conversation through `client` with `model`.
  static Ask askWith(LLMClient& client, std::string model);

  static const std::string& brief();
  // The brief's pieces on where money lives and on the command forms, for other prompts.
  static std::string moneySection();
  static std::string formsSection();
  // The example command lines listed in the brief, one per form.
  static const std::vector<std::string>& briefCommandLines();
  static std::string contextBlock(std::string_view message, const Context& context);

  // Every step readable by a parser, at most one trade plan, only listed markets.
  [[nodiscard]] static bool canRun(std::string_view line, const MarketNames& markets);

  enum class ChatLanguage { auto_, en, ru };
  // `recentUserMessages` oldest first.
  static Language replyLanguage(ChatLanguage setting, const std::vector<std::string>& recentUserMessages);

  // The reply visible so far in a streaming chat or clarify answer.
  [[nodiscard]] static std::optional<std::string> partialReply(std::string_view partial);

  // The first balanced JSON object in an answer, or the whole answer.
  static std::string firstObject(std::string_view answer);
  // One reply into a Step; throws Error with the description used in the repair turn.
  [[nodiscard]] static Step parseStep(std::string_view json);
  // The first pasted contract or mint in a message.
  [[nodiscard]] static std::optional<std::string> pastedToken(std::string_view message);
  // Addresses of every network in a text, first appearance order, no repeats.
  static std::vector<std::string> addresses(std::string_view text);
  // "2026-12-06 09:15, Sunday" in local time.
  static std::string localTime(std::int64_t unixMillis);
};

std::string_view routeName(ChatRouter::Route::Kind kind);
Json toJson(const ChatRouter::Reading& reading);

}  // namespace orwenna
