#include "router/chat_router.h"

#include <gtest/gtest.h>

#include <deque>
#include <mutex>
#include <set>

#include "base/regex.h"
#include "base/text.h"
#include "language/command_reader.h"
#include "support/core_fixtures.h"

namespace orwenna {
namespace {

using Kind = ChatRouter::Route::Kind;
const MarketNames kMarkets{"BTC", "ETH", "SOL", "HYPE", "kPEPE"};
const std::string kMovers = R"({"route":"lookup","lookups":[{"tool":"movers","arg":""}]})";
using testing::failureOf;

// A model that answers from a script and keeps every conversation it was sent.
struct ScriptedModel {
  explicit ScriptedModel(std::deque<std::string> script) : replies(std::move(script)) {}
  std::deque<std::string> replies;
  std::vector<std::vector<LLMMessage>> calls;
  std::vector<std::string> lookupsRun;
  std::mutex mutex;

  ChatRouter::Callbacks callbacks() {
    ChatRouter::Callbacks c;
    c.ask = [this](const std::vector<LLMMessage>& messages, bool wantsJSON, const PartialText& onText) {
      EXPECT_TRUE(wantsJSON);
      calls.push_back(messages);
      if (replies.empty()) throw std::runtime_error("script ran out");
      std::string reply = replies.front();
      replies.pop_front();
      if (onText) onText(reply);
      return reply;
    };
    c.lookup = [this](const std::string& tool, const std::string& arg) {
      std::lock_guard lock(mutex);
      lookupsRun.push_back(tool + " " + arg);
      if (tool == "fail") throw std::runtime_error("Lookup failed: no route.");
      return "data for " + arg + " at 0x1111111111111111111111111111111111111111";
    };
    return c;
  }
  const std::string& lastUserText() const { return calls.back().back().text; }
};

ChatRouter::Context context() {
  ChatRouter::Context c;
  c.now = "2026-12-06 09:15, Sunday";
  return c;
}

TEST(ChatRouterTest, ReadsFirstBalancedObjectIgnoringProseFencesAndBracesInStrings) {
  struct Case {
    std::string answer;
    Kind kind;
    std::string text;
  };
  const std::vector<Case> cases{
      {"Sure! Here it is: {\"route\": \"command\", \"command\": \"buy SOL for 10 USDC\"} hope this helps {x}",
       Kind::command, "buy SOL for 10 USDC"},
      {"```json\n{\"route\": \"chat\", \"reply\": \"BTC is at 60k\"}\n```", Kind::chat, "BTC is at 60k"},
      {"{\"route\": \"chat\", \"reply\": \"use {braces} and \\\"}\\\" freely\"} {\"route\": \"cancel\"}", Kind::chat,
       "use {braces} and \"}\" freely"},
      {"{\"route\":\"clarify\",\"reply\":\"  Which network?\\n \",\"options\":[]}", Kind::clarify, "Which network?"},
  };
  for (const auto& c : cases) {
    ScriptedModel model({c.answer});
    auto reading = ChatRouter::read("hi", context(), model.callbacks());
    EXPECT_EQ(reading.route.kind, c.kind) << c.answer;
    EXPECT_EQ(reading.route.text, c.text) << c.answer;
  }
  EXPECT_EQ(ChatRouter::firstObject("no braces here"), "no braces here");
  EXPECT_EQ(ChatRouter::firstObject("{\"a\": \"{\"} tail"), "{\"a\": \"{\"}");
  EXPECT_EQ(ChatRouter::firstObject("{\"a\": {\"b\": 1}"), "{\"a\": {\"b\": 1}");  // never closes
}

TEST(ChatRouterTest, RepairTurnCarriesTheExactMessageAndTheBadAnswer) {
  ScriptedModel model({"I think you want to buy SOL.", R"({"route": "chat", "reply": ""})",
                       R"({"route":"command","command":"buy SOL for 10 USDC"})"});
  auto reading = ChatRouter::read("buy sol", context(), model.callbacks());
  EXPECT_EQ(reading.route, ChatRouter::Route::command("buy SOL for 10 USDC"));
  ASSERT_EQ(model.calls.size(), 3u);
  const auto& second = model.calls[1];
  ASSERT_EQ(second.size(), 4u);
  EXPECT_EQ(second[0].role, LLMMessage::Role::system);
  EXPECT_EQ(second[0].text, ChatRouter::brief());
  EXPECT_EQ(second[2], (LLMMessage{LLMMessage::Role::assistant, "I think you want to buy SOL."}));
  EXPECT_EQ(second[3].text,
            "That reply doesn't fit the format (it isn't a JSON object). Answer again with ONE JSON object exactly as "
            "described; several steps go in one «command» joined by « then ».");
  EXPECT_EQ(model.calls[2].back().text,
            "That reply doesn't fit the format (The model's route makes no sense: chat). Answer again with ONE JSON "
            "object exactly as described; several steps go in one «command» joined by « then ».");
}

TEST(ChatRouterTest, FourBadAnswersEndUnreadableWithThe300FirstCharacters) {
  std::string longProse = "Привет! " + std::string(400, 'x');
  ScriptedModel model({"[1, 2]", R"({"route": "lookup", "lookups": [{"tool": null, "arg": "x"}]})",
                       R"({"route": "dance"})", longProse, R"({"route": "cancel"})"});
  try {
    (void)ChatRouter::read("hi", context(), model.callbacks());
    FAIL() << "read an unreadable model";
  } catch (const ChatRouter::Unreadable& e) {
    EXPECT_EQ(text::codePoints(e.reply).size(), 300u);
    EXPECT_TRUE(e.reply.starts_with("Привет! xxx"));
  }
  ASSERT_EQ(model.calls.size(), 4u);
  EXPECT_NE(model.calls[1].back().text.find("(The model's reply is not an object.)"), std::string::npos);
  EXPECT_NE(model.calls[2].back().text.find("(The model asked to look something up but named nothing.)"),
            std::string::npos);
  EXPECT_NE(model.calls[3].back().text.find("(The model's route makes no sense: dance)"), std::string::npos);
}

TEST(ChatRouterTest, LookupRoundsShareTheLimitAndTheLastRoundSaysNoMore) {
  ScriptedModel model({
      R"({"route":"lookup","lookups":[{"tool":"market","arg":"BTC"},{"tool":"fail","arg":"x"},{"tool":"gas","arg":"base"},{"tool":"movers","arg":""}]})",
      R"({"route":"lookup","lookups":[{"tool":"market","arg":"ETH"}]})",
      R"({"route":"lookup","lookups":[{"tool":"portfolio","arg":"<null>"},{"tool":"portfolio","arg":""}]})",
      R"({"route":"chat","reply":"Done looking."})"});
  auto reading = ChatRouter::read("what should I do", context(), model.callbacks());
  EXPECT_EQ(reading.route, ChatRouter::Route::chat("Done looking."));
  const std::vector<ChatRouter::Lookup> want{{"market", "BTC"}, {"fail", "x"},     {"gas", "base"},
                                             {"market", "ETH"}, {"portfolio", ""}};
  EXPECT_EQ(reading.lookups, want);
  EXPECT_EQ(reading.found, std::vector<std::string>{"0x1111111111111111111111111111111111111111"});
  ASSERT_EQ(model.calls.size(), 4u);
  EXPECT_EQ(model.calls[1].back().text,
            "Result of market BTC:\ndata for BTC at 0x1111111111111111111111111111111111111111\n\n"
            "Result of fail x:\nLookup failed: no route.\n\n"
            "Result of gas base:\ndata for base at 0x1111111111111111111111111111111111111111");
  EXPECT_EQ(model.calls[2].back().text.find("No more lookups"), std::string::npos);
  EXPECT_TRUE(model.calls[3].back().text.ends_with("\n\nNo more lookups: give your final answer now."));

  ScriptedModel greedy({kMovers, kMovers, kMovers, kMovers});
  EXPECT_EQ(failureOf<ChatRouter::Error>([&] { (void)ChatRouter::read("x", context(), greedy.callbacks()); }),
            "The model kept looking things up without answering.");
  EXPECT_EQ(greedy.lookupsRun.size(), 3u);
}

TEST(ChatRouterTest, UnreadableCommandIsSentBackWhileTurnsRemain) {
  ScriptedModel model({R"({"route":"command","command":"long DOGECOINX risk $10"})",
                       R"({"route":"command","command":"long BTC risk $10"})"});
  auto callbacks = model.callbacks();
  callbacks.canRun = [](const std::string& line) { return ChatRouter::canRun(line, kMarkets); };
  auto reading = ChatRouter::read("long doge", context(), callbacks);
  EXPECT_EQ(reading.route, ChatRouter::Route::command("long BTC risk $10"));
  ASSERT_EQ(model.calls.size(), 2u);
  EXPECT_EQ(model.calls[1].back().text,
            "«long DOGECOINX risk $10» can't run: no form reads it, or it names a market Hyperliquid doesn't have. "
            "Answer again, as one JSON object: the forms that do it (steps joined by « then »), or \"clarify\" "
            "saying plainly which part orwenna can't do, with the closest ways it can as options.");

  // With the turns spent on lookups the command comes back as it is, for the caller's parser to refuse.
  ScriptedModel late({kMovers, kMovers, kMovers, R"({"route":"command","command":"fly to the moon"})"});
  auto lateCallbacks = late.callbacks();
  lateCallbacks.canRun = callbacks.canRun;
  EXPECT_EQ(ChatRouter::read("x", context(), lateCallbacks).route, ChatRouter::Route::command("fly to the moon"));
}

TEST(ChatRouterTest, SecondReaderCorrectsOnceThenKeepsItsDoubt) {
  ScriptedModel model({R"({"route":"command","command":"buy SOL for 100 USDC","continue":true,"next":"stake it"})",
                       R"({"route":"command","command":"buy SOL for 10 USDC"})"});
  std::vector<std::string> asked;
  auto callbacks = model.callbacks();
  callbacks.secondReader = [&asked](const std::string& command) -> std::optional<std::string> {
    asked.push_back(command);
    return "They said 10, not 100.";
  };
  auto reading = ChatRouter::read("buy sol for 10", context(), callbacks);
  EXPECT_EQ(reading.route, ChatRouter::Route::command("buy SOL for 10 USDC"));
  EXPECT_EQ(reading.corrected, "They said 10, not 100.");
  EXPECT_EQ(reading.doubt, "They said 10, not 100.");
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[0],
            "buy SOL for 100 USDC (step 1 of the request: once it has run, the model hears how it went and does the "
            "rest as the next steps)");
  EXPECT_EQ(model.calls[1].back().text,
            "A second reader checked «buy SOL for 100 USDC» against the message and disagrees: They said 10, not "
            "100. Read the message again and answer, as one JSON object: the command that does exactly what they "
            "asked, or \"clarify\" if it really can be read two ways.");

  ScriptedModel agreeing({R"({"route":"confirm"})"});
  auto quiet = agreeing.callbacks();
  quiet.secondReader = [&asked](const std::string& command) -> std::optional<std::string> {
    asked.push_back(command);
    return std::nullopt;
  };
  auto confirmed = ChatRouter::read("yes", context(), quiet);
  EXPECT_EQ(confirmed.route.kind, Kind::confirm);
  EXPECT_EQ(confirmed.doubt, std::nullopt);
  EXPECT_EQ(asked.back(), "confirm: sign the card waiting for Confirm exactly as it is");
}

TEST(ChatRouterTest, DecodesRoutesAndCommandLimits) {
  const std::string explained = "buy SOL for 10 USDC — " + std::string(240, 'e');
  const std::string longPay = "pay GET https://api.example.com/q?x=" + std::string(1460, 'a');
  const std::string longPlain = "send 5 USDC to " + std::string(1480, 'a');
  struct Case {
    std::string json;
    std::optional<ChatRouter::Route> want;  // nothing: a format error
  };
  const std::vector<Case> cases{
      {R"({"route":"command","command":"cancel"})", ChatRouter::Route::cancel()},
      {R"({"route":"command","command":"«Confirm»"})", ChatRouter::Route::confirm()},
      {R"({"route":"command","command":"`buy SOL`\n"})", ChatRouter::Route::command("buy SOL")},
      {R"({"route":"command","command":""})", std::nullopt},
      {R"({"route":"chat","reply":"   "})", std::nullopt},
      {R"({"route":"clarify"})", std::nullopt},
      {R"({"route":"question"})", ChatRouter::Route::question()},
      {R"({"route":"plan"})", ChatRouter::Route::plan()},
      {R"({"route":"cancel"})", ChatRouter::Route::cancel()},
      {R"({"route":"lookup","lookups":[]})", std::nullopt},
      {Json{{"route", "command"}, {"command", explained}}.dump(), ChatRouter::Route::command("buy SOL for 10 USDC")},
      {Json{{"route", "command"}, {"command", longPay}}.dump(), ChatRouter::Route::command(longPay)},
      {Json{{"route", "command"}, {"command", longPlain}}.dump(), std::nullopt},
      {Json{{"route", "command"}, {"command", "close then " + std::string(1000, 'z')}}.dump(),
       ChatRouter::Route::command("close then " + std::string(1000, 'z'))},
      {Json{{"route", "command"}, {"command", "close then " + std::string(1200, 'z')}}.dump(), std::nullopt},
  };
  for (const auto& c : cases) {
    if (!c.want) {
      EXPECT_THROW((void)ChatRouter::parseStep(c.json), ChatRouter::Error) << c.json.substr(0, 80);
      continue;
    }
    auto step = ChatRouter::parseStep(c.json);
    ASSERT_FALSE(step.isLookups());
    EXPECT_EQ(std::get<ChatRouter::Reading>(step.value).route, *c.want) << c.json.substr(0, 80);
  }
}

TEST(ChatRouterTest, DecodesOptionsAndShow) {
  auto reading = [](const std::string& json) {
    auto step = ChatRouter::parseStep(json);
    return std::get<ChatRouter::Reading>(step.value);
  };
  auto r = reading(R"({"route":"chat","reply":"Pick one","options":[
      {"title":"Chart","command":"chart BTC week"},
      {"title":"Fresh","command":" New Canvas "},
      {"title":" ","command":"buy SOL"},
      {"title":"Buy","comment":" cheap ","command":"\"buy SOL for 10 USDC\"","recommended":"true"},
      {"title":"Fifth","command":"sell JUP"}],
      "quiet":"true","continue":true,"next":"  then stake  "})");
  EXPECT_EQ(r.show, "chart BTC week");
  ASSERT_EQ(r.options.size(), 1u);
  EXPECT_EQ(r.options[0], (ChatRouter::Option{"Buy", "cheap", "buy SOL for 10 USDC", true}));
  EXPECT_TRUE(r.quiet);
  EXPECT_TRUE(r.continues);
  EXPECT_EQ(r.next, "then stake");

  auto shown = reading(R"({"route":"chat","reply":"x","show":" what's moving ","options":[
      {"title":"A","command":"what's moving"},{"title":"B","command":"chart ETH"},{"title":"C","command":"lock"}]})");
  EXPECT_EQ(shown.show, "what's moving");
  ASSERT_EQ(shown.options.size(), 1u);
  EXPECT_EQ(shown.options[0].command, "chart ETH");
  EXPECT_FALSE(shown.options[0].recommended);

  auto lookups = ChatRouter::parseStep(
      R"({"route":"lookup","lookups":[{"tool":"a","arg":"1"},{"tool":"b"},{"tool":"c","arg":"3"},{"tool":"d","arg":"4"},{"tool":"e","arg":"5"}]})");
  ASSERT_TRUE(lookups.isLookups());
  EXPECT_EQ(std::get<0>(lookups.value),
            (std::vector<ChatRouter::Lookup>{{"a", "1"}, {"c", "3"}, {"d", "4"}}));
}

TEST(ChatRouterTest, CanRunNeedsAParserAKnownMarketAndOnePlan) {
  struct Case {
    std::string line;
    bool runs;
  };
  const std::vector<Case> cases{
      {"long BTC risk $50 stop 2%", true},
      {"long DOGECOINX risk $50", false},
      {"long risk 20", true},
      {"long BTC risk 10 then long ETH risk 10", false},
      {"withdraw 50 USDC to Solana then long BTC risk 10", true},
      {"buy SOL for 10 USDC then dance", false},
      {"New canvas.", true},
      {"when ETH above 2500: close", true},
      {"fly me to the moon", false},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(ChatRouter::canRun(c.line, kMarkets), c.runs) << c.line;
  // With no markets loaded the market test is skipped.
  EXPECT_TRUE(ChatRouter::canRun("close then stake 1 SOL", {}));
}

TEST(ChatRouterTest, EveryFormInTheBriefIsReadByAParser) {
  const auto& lines = ChatRouter::briefCommandLines();
  std::set<std::string> walletCases;
  for (const auto& line : lines) {
    EXPECT_TRUE(ChatRouter::canRun(line, kMarkets)) << "no parser reads: " << line;
    EXPECT_NE(ChatRouter::brief().find("  " + line + "\n"), std::string::npos) << line;
    for (const auto& step : CommandLines::steps(line)) {
      auto read = CommandReader::read(step, kMarkets, std::nullopt);
      if (read && std::holds_alternative<WalletCommand>(*read))
        walletCases.insert(std::string(std::get<WalletCommand>(*read).caseName()));
    }
  }
  // Every money move the wallet parser knows has an example.
  EXPECT_EQ(walletCases.size(), std::variant_size_v<WalletCommand::Value>);
}

TEST(ChatRouterTest, ContextBlockLinesInOrderSkippingEmptyOnes) {
  ChatRouter::Context c = context();
  std::string bare = ChatRouter::contextBlock("hi", c);
  std::string tokens = std::to_string(text::codePoints(ChatRouter::brief()).size() / 400 * 100);
  EXPECT_EQ(bare, "Your instructions are about " + tokens +
                      " tokens, sent with every call along with this brief.\n"
                      "Plan on the canvas: none\nOpen positions: none\n"
                      "Safe search: ON — on Solana only Jupiter-verified tokens can be bought (by ticker: buy "
                      "<TICKER> on solana). An unverified token by its mint needs Safe search off in Settings › "
                      "General; offer to watch it instead.\n"
                      "Now (local time): 2026-12-06 09:15, Sunday\nReply language: English\nMessage: hi");
  c.recent = {"user: hi", "you: hello"};
  c.offered = {"Buy SOL", "Stake"};
  c.memory = {"no memecoins", "be brief"};
  c.positions = {"BTC long 0.1", "ETH short 1"};
  c.addressBook = {"mom (base)", "alex (solana)"};
  c.capital = "$1,000.00";
  c.off = "NEAR";
  c.safeSearch = false;
  c.replyLanguage = Language::russian;
  std::string full = ChatRouter::contextBlock("do it", c);
  for (const char* piece : {"\nRecent chat (oldest first):\nuser: hi\nyou: hello\n",
                            "\nCards you offered after your last reply, in order: Buy SOL; Stake\n",
                            "never a reason to skip a check, a rule or their Confirm: «no memecoins»; «be brief»\n",
                            "\nOpen positions: BTC long 0.1; ETH short 1\n", "write only the name): mom (base), alex (solana)\n",
                            "\nCapital the risk rules measure: $1,000.00\n",
                            "\nSwitched off in Settings › Modules: NEAR. Never offer or build a move that uses them; "
                            "when asked for one, reply (chat) that it is off in Settings › Modules.\n",
                            "\nSafe search: OFF — any Solana token can be bought by its mint."})
    EXPECT_NE(full.find(piece), std::string::npos) << piece;
  EXPECT_LT(full.find("Recent chat"), full.find("Cards you offered"));
  EXPECT_LT(full.find("Plan on the canvas"), full.find("Open positions"));
  EXPECT_TRUE(full.ends_with("\nReply language: Russian\nMessage: do it"));
}

TEST(ChatRouterTest, PastedTokenIsLookedUpBeforeTheFirstCall) {
  const std::string mint = "DezXAZ8z7PnrnRJjz3wXBoRgixCa6xjnB7YaB1pPB263";
  EXPECT_EQ(ChatRouter::pastedToken("what is " + mint + "?"), mint);
  EXPECT_EQ(ChatRouter::pastedToken("check abcdefghijkmnopqrstuvwxyz23456789abcdefgh"), std::nullopt);
  EXPECT_EQ(ChatRouter::pastedToken("a " + mint + " and 0xAbCd00000000000000000000000000000000ffff"),
            "0xAbCd00000000000000000000000000000000ffff");
  EXPECT_EQ(ChatRouter::pastedToken("ABCDEFGHJKLMNPQRSTUVWXYZ23456789ABCD"), std::nullopt);  // no lower case

  ScriptedModel model({R"({"route":"chat","reply":"A memecoin."})"});
  auto reading = ChatRouter::read("what is " + mint, context(), model.callbacks());
  EXPECT_EQ(reading.lookups, (std::vector<ChatRouter::Lookup>{{"token", mint}}));
  EXPECT_EQ(reading.found, (std::vector<std::string>{mint, "0x1111111111111111111111111111111111111111"}));
  EXPECT_TRUE(model.calls[0][1].text.ends_with("\nMessage: what is " + mint + "\n\nAlready looked up for you — token " +
                                               mint + ":\ndata for " + mint +
                                               " at 0x1111111111111111111111111111111111111111"));
}

TEST(ChatRouterTest, ReplyLanguage) {
  using L = ChatRouter::ChatLanguage;
  struct Case {
    std::vector<std::string> recent;
    Language want;
  };
  const std::vector<Case> cases{
      {{}, Language::english},
      {{"да"}, Language::russian},
      {{"купи сол", "100 usdc"}, Language::russian},
      {{"купи сол", "10k SOL", "do it"}, Language::russian},
      {{"hola", "buy 10 sol"}, Language::english},
      {{"quiero comprar"}, Language::spanish},
      {{"¿cuánto?"}, Language::spanish},
      {{"close all positions"}, Language::english},
      {{"halo"}, Language::english},
      {{"купи", "!!!"}, Language::russian},
  };
  for (const auto& c : cases) EXPECT_EQ(ChatRouter::replyLanguage(L::auto_, c.recent), c.want) << c.recent.size();
  EXPECT_EQ(ChatRouter::replyLanguage(L::en, {"привет"}), Language::english);
  EXPECT_EQ(ChatRouter::replyLanguage(L::ru, {"hello"}), Language::russian);
}

TEST(ChatRouterTest, PartialReplyAndEarlyReplies) {
  EXPECT_EQ(ChatRouter::partialReply(R"({"route": "chat", "reply": "BTC is \"up\"\nnow \u0416)"), "BTC is \"up\"\nnow Ж");
  EXPECT_EQ(ChatRouter::partialReply(R"({"route":"clarify","reply":"Which one?","opt)"), "Which one?");
  EXPECT_EQ(ChatRouter::partialReply(R"({"route":"chat","reply":"half \)"), "half ");
  EXPECT_EQ(ChatRouter::partialReply(R"({"route":"command","reply":"x")"), std::nullopt);
  EXPECT_EQ(ChatRouter::partialReply(R"({"route":"chat")"), std::nullopt);

  ScriptedModel model({R"({"route":"chat","reply":"Hello there"})"});
  std::vector<std::string> early;
  auto callbacks = model.callbacks();
  callbacks.onEarlyReply = [&early](const std::string& reply) { early.push_back(reply); };
  (void)ChatRouter::read("hi", context(), callbacks);
  EXPECT_EQ(early, std::vector<std::string>{"Hello there"});
}

TEST(ChatRouterTest, LocalTimeAndAddresses) {
  static const Regex shape(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}, (Mon|Tues|Wednes|Thurs|Fri|Satur|Sun)day$)");
  EXPECT_TRUE(shape.matches(ChatRouter::localTime(1'780'000'000'000))) << ChatRouter::localTime(1'780'000'000'000);
  EXPECT_EQ(ChatRouter::addresses("pay bob.near and 0xAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA, bob.near again"),
            (std::vector<std::string>{"bob.near", "0xAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"}));
}

}  // namespace
}  // namespace orwenna
