#include "app/workspace.h"

#include <algorithm>
#include <exception>
#include <type_traits>
#include <utility>

#include "app/automation_wallet.h"
#include "app/chat_replies.h"
#include "app/market_lookup.h"
#include "base/files.h"
#include "base/http.h"
#include "base/log.h"
#include "base/regex.h"
#include "base/text.h"
#include "guards/tx_guard.h"
#include "language/chat_words.h"
#include "language/command_reader.h"
#include "language/intent_parser.h"
#include "llm/llm.h"
#include "trading/plan_blocks.h"

namespace orwenna {
namespace {

constexpr const char* kCanvasesFile = "canvases.json";
constexpr const char* kActivityFile = "activity.json";
constexpr const char* kFolderIconsFile = "folder-icons.json";
constexpr std::size_t kRecentMessages = 20;
constexpr std::size_t kLanguageMessages = 6;
constexpr std::int64_t kDraftEveryMillis = 100;

// Thrown inside the model's stream once Stop (or a newer message) cancels it.
struct TurnCancelled : std::exception {
  const char* what() const noexcept override { return "stopped"; }
};

// The first `count` characters of UTF-8 text.
std::string prefixChars(std::string_view s, std::size_t count) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
      if (seen == count) return std::string(s.substr(0, i));
      ++seen;
    }
  }
  return std::string(s);
}

bool sameAddress(std::string_view a, std::string_view b) {
  // EVM addresses are the same in any letter case; Solana's are case-sensitive.
  if (a.starts_with("0x") && b.starts_with("0x")) return text::asciiLowercased(a) == text::asciiLowercased(b);
  return a == b;
}

bool textHasAddress(std::string_view text, std::string_view address) {
  if (address.starts_with("0x"))
    return text::asciiLowercased(text).find(text::asciiLowercased(address)) != std::string::npos;
  return text.find(address) != std::string_view::npos;
}

const Regex& rawAddress() {
  // Bounded on both sides, so a longer run of Base58 or hex is not cut into one.
  static const Regex r(R"((?<![0-9A-Za-z])(?:0x[0-9a-fA-F]{40}|[1-9A-HJ-NP-Za-km-z]{32,44})(?![0-9A-Za-z]))");
  return r;
}

const Regex& amountAnswer() {
  static const Regex r(
      R"((?:(?:да|yes|ok|окей|давай|го|sure|yep|угу)[,!\s]*)?(?:на\s+|for\s+)?(\$)?\s*(\d+(?:[.,]\d+)?)\s*(usdc|юсдс|юсдц|usdt|usd|\$|долл\w*|dollars?|bucks|бакс\w*|sol|сол)?\s*[.!]?)",
      Regex::kCaseInsensitive);
  return r;
}

const Regex& thousandsComma() {
  static const Regex r(R"(\d{1,3}(?:,\d{3})+)");
  return r;
}

enum class AppWordKind { newCanvas, clearPlan, lock, openSite, whatsNew, updates, takeOptions };

const std::vector<std::pair<AppWordKind, Regex>>& appWordPatterns() {
  static const std::vector<std::pair<AppWordKind, Regex>> list = [] {
    std::vector<std::pair<AppWordKind, Regex>> l;
    auto add = [&l](AppWordKind k, const char* p) { l.emplace_back(k, Regex(p, Regex::kCaseInsensitive)); };
    add(AppWordKind::newCanvas, R"(\s*(?:new\s+canvas|новый\s+(?:канвас|холст)|start\s+over|начн[иём]\s+заново)\s*[.!]?\s*)");
    add(AppWordKind::clearPlan,
        R"(\s*(?:clear|reset|remove|drop)\s+(?:the\s+)?plan|(?:очисти|сбрось|убери|удали)\s+план\w*\s*[.!]?\s*)");
    add(AppWordKind::lock, R"(\s*(?:lock|lock\s+(?:it|the\s+wallet|signing)|заблокируй\w*|блокир\w*)\s*[.!]?\s*)");
    add(AppWordKind::openSite,
        R"(\s*(?:open|go\s+to|открой|зайди\s+на|перейди\s+на)\s+(?:the\s+site\s+|site\s+|сайт\s+)?((?:https?:\/\/)?[a-z0-9-]+(?:\.[a-z0-9-]+)+(?:\/\S*)?)\s*)");
    add(AppWordKind::whatsNew, R"(\s*(?:what'?s\s+new|what’s\s+new|что\s+нового)\s*[?.!]?\s*)");
    add(AppWordKind::updates,
        R"(\s*(?:check\s+for\s+(?:an?\s+)?updates?|update\s+the\s+app|проверь\s+обновлени\w*|обнови\s+приложение)\s*[?.!]?\s*)");
    add(AppWordKind::takeOptions,
        R"(\s*(?:как\s+советуют|варианты\s+тейк\w*|take[- ]?profit\s+options|take\s+options|ways\s+to\s+take\s+profit)\s*[?.!]?\s*)");
    return l;
  }();
  return list;
}

// The amount field a form needs before it can run, with its unit and place.
struct AmountNeed {
  std::string unit;
  std::optional<std::string> place;
};

template <class T>
concept HasUsdc = requires(T v) {
  { v.usdc } -> std::same_as<OptDecimal&>;
};
template <class T>
concept HasAmount = requires(T v) {
  { v.amount } -> std::same_as<OptDecimal&>;
};

std::optional<AmountNeed> amountNeed(const WalletCommand& c) {
  using namespace wallet;
  return std::visit(
      [](const auto& v) -> std::optional<AmountNeed> {
        using V = std::decay_t<decltype(v)>;
        auto need = [](const OptDecimal& a, std::string unit, std::optional<std::string> place = std::nullopt) {
          return a ? std::nullopt : std::optional<AmountNeed>(AmountNeed{std::move(unit), std::move(place)});
        };
        if constexpr (std::is_same_v<V, buy> || std::is_same_v<V, buyNear> || std::is_same_v<V, buyStock> ||
                      std::is_same_v<V, buyOn> || std::is_same_v<V, hlSpotBuy> || std::is_same_v<V, jupiterDCA>)
          return need(v.usdc, "USDC");
        else if constexpr (std::is_same_v<V, lendDeposit>)
          return need(v.amount, v.symbol, "Jupiter Lend");
        else if constexpr (std::is_same_v<V, kamino>)
          return v.deposit ? need(v.amount, v.symbol, "Kamino") : std::nullopt;
        else if constexpr (std::is_same_v<V, hlp>)
          return v.deposit ? need(v.amount, "USDC", "HLP") : std::nullopt;
        else if constexpr (std::is_same_v<V, aave>)
          return v.deposit ? need(v.amount, "USDC", "Aave") : std::nullopt;
        else if constexpr (std::is_same_v<V, morpho>)
          return v.deposit ? need(v.amount, "USDC", "Morpho") : std::nullopt;
        else if constexpr (std::is_same_v<V, aaveBorrow>)
          return need(v.amount, "USDC", "Aave");
        else if constexpr (std::is_same_v<V, stake>)
          return need(v.amount, "SOL");
        else
          return std::nullopt;
      },
      c.value);
}

WalletCommand withAmount(WalletCommand c, const Decimal& amount) {
  std::visit(
      [&amount](auto& v) {
        using V = std::decay_t<decltype(v)>;
        if constexpr (HasUsdc<V>) v.usdc = amount;
        else if constexpr (HasAmount<V>) v.amount = amount;
      },
      c.value);
  return c;
}

bool readOnlyWallet(const WalletCommand& c) {
  return std::holds_alternative<wallet::yields>(c.value) || std::holds_alternative<wallet::receive>(c.value) ||
         std::holds_alternative<wallet::jupiterDCAOrders>(c.value) ||
         std::holds_alternative<wallet::showApprovals>(c.value);
}

std::string positionAction(const PositionCommand& c) {
  return std::visit(
      [](const auto& v) -> std::string {
        using V = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<V, PositionCommand::close>) return "close";
        else if constexpr (std::is_same_v<V, PositionCommand::cancelOrders>) return "cancel orders";
        else if constexpr (std::is_same_v<V, PositionCommand::stopToBreakeven>) return "move stop to breakeven";
        else if constexpr (std::is_same_v<V, PositionCommand::stopTo>) return "move the stop";
        else if constexpr (std::is_same_v<V, PositionCommand::takeTo>) return "move the take-profit";
        else return "trail the stop";
      },
      c.value);
}

std::string unitOf(std::string_view word) {
  std::string w = text::lowercased(word);
  if (w == "sol" || w == "сол") return "SOL";
  return "USDC";  // every dollar word
}

Json cardJson(const Workspace::Card& c) {
  Json steps = Json::array();
  for (const auto& s : c.steps) steps.push_back(Json{{"kind", s.kindName()}, {"line", s.line()}});
  Json out = Json{{"id", c.id},     {"version", c.version}, {"code", c.code},     {"command", c.command},
                  {"steps", steps}, {"text", c.text},       {"canvas", c.canvas}, {"status", cardStatusName(c.status)}};
  if (c.next) out["next"] = *c.next;
  return out;
}

Json optionsJson(const std::optional<Agent::NextSteps>& n) {
  Json out = Json::array();
  if (!n) return out;
  for (const auto& o : n->options)
    out.push_back(Json{{"title", o.title}, {"comment", o.comment}, {"command", o.command}, {"recommended", o.recommended}});
  return out;
}

std::optional<Decimal> openRiskOf(const std::vector<Agent::OpenPosition>& positions) {
  Decimal sum;
  for (const auto& p : positions) {
    if (!p.stop) return std::nullopt;
    Decimal gap = p.side == Side::long_ ? p.entry - *p.stop : *p.stop - p.entry;
    if (gap.isPositive()) sum = sum + gap * p.size;
  }
  return sum;
}

}  // namespace

std::string_view cardStatusName(Workspace::Card::Status status) {
  switch (status) {
    case Workspace::Card::Status::executing: return "executing";
    case Workspace::Card::Status::done: return "done";
    case Workspace::Card::Status::failed: return "failed";
    case Workspace::Card::Status::waiting: break;
  }
  return "waiting";
}

std::string_view messageSourceName(MessageSource source) {
  switch (source) {
    case MessageSource::quickButton: return "quickButton";
    case MessageSource::voice: return "voice";
    case MessageSource::debug: return "debug";
    case MessageSource::composer: break;
  }
  return "composer";
}

std::string PendingAction::line() const {
  return std::visit(
      [](const auto& v) -> std::string {
        using V = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<V, WalletCommand>) return v.line();
        else if constexpr (std::is_same_v<V, Position>) return v.command.line() + " " + v.coin;
        else if constexpr (std::is_same_v<V, SavedAddress>)
          return AddressBookCommand{AddressBookCommand::save{v.address, v.name, v.network}}.line();
        else if constexpr (std::is_same_v<V, Trade>) return v.intent.command();
        else return v.what;
      },
      value);
}

std::string_view PendingAction::kindName() const {
  switch (value.index()) {
    case 1: return "position";
    case 2: return "address";
    case 3: return "transfer";
    case 4: return "trade";
    default: return "wallet";
  }
}

// What a model call brings back to the app thread.
struct Workspace::TurnResult {
  enum class Kind { reading, quiet, steering, failed, unreadable, stopped };
  Kind kind = Kind::failed;
  std::optional<ChatRouter::Reading> reading;
  std::optional<std::string> answer;
  std::string reason;
  bool withAddress = false;
  std::shared_ptr<const MarketTable> markets;
  Queued message;
};

// ---------------------------------------------------------------------------

Workspace::Workspace(Services services) : s_(std::move(services)), memory_() {
  const std::int64_t now = s_.clock.nowMillis();
  std::vector<std::string> notices;
  ensureDirectory(s_.dataDir);
  writer_ = std::make_unique<CoalescingWriter>(s_.dataDir, [this, life = std::weak_ptr<int>(life_)](const std::string& n) {
    s_.loop.post([this, life, n] {
      if (life.lock()) emit("notice", Json{{"text", n}});
    });
  });

  // The files are made on the app thread when the writer comes for them, at
  // most once per its delay, however many changes came in between.
  writer_->setCollector([this, life = std::weak_ptr<int>(life_)](const std::vector<std::string>& names) {
    s_.loop.post([this, life, names] {
      if (!life.lock()) return;
      for (const auto& name : names) {
        if (name == kCanvasesFile) writer_->save(name, CanvasFile::fileText(canvases_));
        else if (name == kActivityFile) writer_->save(name, ActivityLog::fileText(activities_));
      }
    });
  });

  auto canvases = loadStored(s_.dataDir, kCanvasesFile, now, [](std::string_view t) { (void)CanvasFile::parseFile(t); });
  if (canvases.text) canvases_ = CanvasFile::parseFile(*canvases.text);
  if (canvases.held) writer_->hold(kCanvasesFile);
  if (canvases.notice) notices.push_back(*canvases.notice);

  auto activity = loadStored(s_.dataDir, kActivityFile, now, [](std::string_view t) { (void)ActivityLog::parseFile(t); });
  if (activity.text) activities_ = ActivityLog::parseFile(*activity.text);
  if (activity.held) writer_->hold(kActivityFile);
  if (activity.notice) notices.push_back(*activity.notice);

  auto icons = loadStored(s_.dataDir, kFolderIconsFile, now,
                          [](std::string_view t) { (void)CanvasFile::parseFolderIcons(t); });
  if (icons.text) folderIcons_ = CanvasFile::parseFolderIcons(*icons.text);
  if (icons.held) writer_->hold(kFolderIconsFile);
  if (icons.notice) notices.push_back(*icons.notice);

  if (canvases_.empty()) {
    canvases_.push_back(CanvasSession{});
    canvases_.back().id = newId();
    canvases_.back().updated = now;
    canvases_.back().title = "New canvas";
  }
  // The canvas worked on last comes back (the later one of equal times).
  for (std::size_t i = 0; i < canvases_.size(); ++i)
    if (canvases_[i].updated >= canvases_[current_].updated) current_ = i;
  {
    std::lock_guard lock(holdingsMutex_);
    if (canvas().intent) holdings_.plan = canvas().intent->command();
  }
  for (const auto& n : notices) {
    log::warn("{}", n);
    reply(n);
  }
  loadNotices_ = std::move(notices);
}

Workspace::~Workspace() {
  if (cancelModel_) cancelModel_->store(true);
  modelWorker_.stop();
  executorWorker_.stop();
  life_.reset();
  flush();
}

std::string Workspace::newId() { return makeUuid(s_.random); }

void Workspace::emit(std::string kind, Json data) {
  ++rev_;
  if (listener_) listener_(WorkspaceEvent{rev_, std::move(kind), std::move(data)});
}

void Workspace::emitStatus() {
  emit("status", Json{{"busy", busy_}, {"thinking", thinking_}, {"modelRunning", modelRunning_},
                      {"executing", executing_}, {"queued", queued_.has_value()}});
}

void Workspace::post(Task task) {
  s_.loop.post([life = std::weak_ptr<int>(life_), task = std::move(task)] {
    if (life.lock()) task();
  });
}

CanvasSession* Workspace::canvasById(const std::string& id) {
  for (auto& c : canvases_)
    if (c.id == id) return &c;
  return nullptr;
}

const std::vector<Message>& Workspace::messages() const { return canvas().messages; }

void Workspace::appendMessage(const std::string& canvasID, Message message) {
  CanvasSession* c = canvasById(canvasID);
  if (!c) c = &canvases_[current_];
  c->messages.push_back(message);
  c->updated = s_.clock.nowMillis();
  emit("message", Json{{"canvas", c->id}, {"message", toJson(message)}});
  saveCanvases();
}

void Workspace::reply(const std::string& text) { replyOn(canvas().id, text); }

void Workspace::replyOn(const std::string& canvasID, const std::string& text) {
  appendMessage(canvasID, Message{newId(), false, text, std::nullopt, std::nullopt});
}

void Workspace::saveCanvases() { writer_->markDirty(kCanvasesFile); }

void Workspace::saveActivity() { writer_->markDirty(kActivityFile); }

void Workspace::setFolderIcon(const std::string& folder, const std::string& icon) {
  folderIcons_[folder] = icon;
  emit("folderIcon", Json{{"folder", folder}, {"icon", icon}});
  saveFolderIcons();
}

void Workspace::saveFolderIcons() { writer_->save(kFolderIconsFile, CanvasFile::folderIconsText(folderIcons_)); }

void Workspace::flush() {
  writer_->save(kCanvasesFile, CanvasFile::fileText(canvases_));
  writer_->save(kActivityFile, ActivityLog::fileText(activities_));
  writer_->flush();
}

Activity* Workspace::activityById(const std::string& id) {
  for (auto it = activities_.rbegin(); it != activities_.rend(); ++it)
    if (it->id == id) return &*it;
  return nullptr;
}

void Workspace::log(Activity activity) {
  const std::string id = activity.id;
  if (Activity* a = activityById(id)) {
    *a = std::move(activity);
  } else {
    activities_.push_back(std::move(activity));
  }
  ActivityLog::trim(activities_);
  const Activity* changed = activityById(id);
  {
    std::lock_guard lock(holdingsMutex_);
    holdings_.activity.clear();
    for (auto it = activities_.rbegin(); it != activities_.rend() && holdings_.activity.size() < 5; ++it) {
      std::string line = it->understood.value_or(it->request.value_or(it->title.value_or("")));
      if (!line.empty()) holdings_.activity.push_back(std::move(line));
    }
  }
  if (changed) emit("activity", toJson(*changed));
  saveActivity();
}

void Workspace::logLine(const std::string& activityID, std::string line) {
  if (Activity* a = activityById(activityID)) {
    Activity copy = *a;
    copy.lines.push_back(std::move(line));
    log(std::move(copy));
  }
}

void Workspace::setHoldings(Agent::PortfolioSnapshot holdings) {
  std::lock_guard lock(holdingsMutex_);
  holdings.plan = holdings_.plan;
  holdings.activity = holdings_.activity;
  holdings_ = std::move(holdings);
}

Agent::PortfolioSnapshot Workspace::snapshot() const {
  std::lock_guard lock(holdingsMutex_);
  return holdings_;
}

std::shared_ptr<const MarketTable> Workspace::marketsNow() const {
  if (lastMarkets_) return lastMarkets_;
  static const auto empty = std::make_shared<const MarketTable>();
  return empty;
}

bool Workspace::idle() const { return !callInFlight_ && !queued_ && !executing_; }

std::optional<PendingAction> Workspace::pendingAction() const {
  if (!card_ || card_->steps.empty()) return std::nullopt;
  return card_->steps.front();
}

Language Workspace::replyLanguage() const {
  std::vector<std::string> recent;
  const auto& msgs = canvas().messages;
  for (auto it = msgs.rbegin(); it != msgs.rend() && recent.size() < kLanguageMessages; ++it)
    if (it->fromUser) recent.push_back(it->text);
  std::reverse(recent.begin(), recent.end());
  return ChatRouter::replyLanguage(s_.language, recent);
}

ChatRouter::Context Workspace::context() const {
  ChatRouter::Context ctx = ChatRouter::Context::makeDefault(s_.clock);
  const auto& msgs = canvas().messages;
  std::size_t first = msgs.size() > kRecentMessages ? msgs.size() - kRecentMessages : 0;
  for (std::size_t i = first; i < msgs.size(); ++i)
    ctx.recent.push_back(msgs[i].fromUser ? "user: " + prefixChars(msgs[i].text, 3000)
                                          : "orwenna: " + prefixChars(msgs[i].text, 600));
  if (canvas().intent) {
    auto markets = marketsNow();
    const Market* market = markets->empty() ? nullptr : Agent::findMarket(canvas().intent->asset, *markets);
    Agent::PortfolioSnapshot h = snapshot();
    Review r = review(*canvas().intent, market, std::nullopt, s_.policy, openRiskOf(h.positions));
    std::string check = r.evaluation.problem ? *r.evaluation.problem
                        : !r.evaluation.missing.empty() ? "missing: " + text::join(r.evaluation.missing, ", ")
                        : r.breaksARule() ? "breaks a rule"
                                          : "ready";
    ctx.plan = canvas().intent->command() + " — " + check;
  }
  if (card_) ctx.canvas.push_back("card waiting for Confirm: " + card_->command);
  if (canvas().chart) ctx.canvas.push_back("chart: " + *canvas().chart);
  if (canvas().note) ctx.canvas.push_back("note (folder " + canvas().folder.value_or("none") + "): " + *canvas().note);
  {
    Agent::PortfolioSnapshot h = snapshot();
    for (const auto& p : h.positions) ctx.positions.push_back(Agent::positionLine(p));
    ctx.favorites = h.favorites;
    ctx.balances = h.balances;
  }
  if (s_.addressBook)
    for (const auto& e : s_.addressBook->entries()) ctx.addressBook.push_back(e.name + " (" + e.network + ")");
  ctx.replyLanguage = replyLanguage();
  ctx.memory = memory_.phrases();
  if (nextSteps_)
    for (const auto& o : nextSteps_->options) ctx.offered.push_back(o.command + (o.recommended ? " (recommended)" : ""));
  return ctx;
}

// --- The road ---------------------------------------------------------------

void Workspace::send(const std::string& text, MessageSource source) {
  // A newer message makes whatever is still being read stale.
  ++turn_;
  if (modelRunning_) {
    if (cancelModel_) cancelModel_->store(true);
    endModel();
  }
  queued_.reset();
  const std::string canvasID = canvas().id;
  appendMessage(canvasID, Message{newId(), true, text, std::nullopt, std::nullopt});
  if (agentGoal_ && !(card_ && card_->id == goalCard_ && card_->status == Card::Status::executing)) {
    // The user took over: the request no longer goes on by itself.
    agentGoal_.reset();
    goalCard_.clear();
  }
  Activity a;
  a.id = newId();
  a.at = s_.clock.nowMillis();
  a.kind = Activity::Kind::request;
  a.request = text;
  a.canvas = canvasID;
  currentActivity_ = a.id;
  const std::string activity = a.id;
  log(std::move(a));
  if (!composer_.empty()) {
    composer_.clear();
    emit("composer", Json{{"text", ""}});
  }

  if (sendGuard(text, activity)) return;
  if (localSteering(text, activity)) return;
  if (typedYes(text, source)) return;
  if (typedCancel(text)) return;
  if (awaitedAmount(text, activity)) return;
  if (appWord(text, activity)) return;
  if (offeredCard(text, source, activity)) return;
  startModel(Queued{text, source, activity, canvasID, false, false, std::nullopt, Agent::StepOutcome::unknown, {}});
}

bool Workspace::sendGuard(const std::string& text, const std::string& activity) {
  auto findings = InjectionHeuristics::scan(text);
  if (!findings.transferVerb) return false;
  std::vector<SavedAddress> book = s_.addressBook ? s_.addressBook->entries() : std::vector<SavedAddress>{};
  for (const auto& m : rawAddress().allMatches(text)) {
    std::string address(m.whole());
    bool saved = std::any_of(book.begin(), book.end(),
                             [&address](const SavedAddress& e) { return sameAddress(e.address, address); });
    if (saved) continue;
    const std::string network = address.starts_with("0x") ? "base" : "solana";
    const Language lang = replyLanguage();
    reply(Replies::sendGuard(network, lang));
    composer_ = Replies::saveComposer(address, network, lang);
    emit("composer", Json{{"text", composer_}});
    logLine(activity, "guard: sends go to saved addresses");
    return true;
  }
  return false;
}

bool Workspace::localSteering(const std::string& text, const std::string& activity) {
  auto findings = InjectionHeuristics::scan(text);
  if (findings.commands.empty()) return false;
  reply(Replies::steering(!findings.addresses.empty(), replyLanguage()));
  logLine(activity, "guard: local rules");
  return true;
}

bool Workspace::typedYes(const std::string& text, MessageSource source) {
  if (!ChatWords::isYes(text)) return false;
  const Language lang = replyLanguage();
  if (source == MessageSource::debug) reply(Replies::yesFromDebug(lang));
  else if (card_) reply(Replies::yesWithCard(lang));
  else reply(Replies::yesNothingWaiting(lang));
  return true;
}

bool Workspace::typedCancel(const std::string& text) {
  if (!ChatWords::isCancel(text)) return false;
  cancelByText(canvas().id);
  return true;
}

void Workspace::cancelByText(const std::string& canvasID) {
  const Language lang = replyLanguage();
  if (card_ && card_->status == Card::Status::waiting) {
    dropCard();
    replyOn(canvasID, Replies::cancelled(lang));
  } else if (awaiting_) {
    awaiting_.reset();
    emit("awaiting", nullptr);
    replyOn(canvasID, Replies::questionDropped(lang));
  } else {
    replyOn(canvasID, Replies::nothingToCancel(lang));
  }
}

bool Workspace::awaitedAmount(const std::string& text, const std::string& activity) {
  if (!awaiting_) return false;
  const Language lang = replyLanguage();
  auto m = amountAnswer().matchesWhole(text) ? amountAnswer().firstMatch(text) : std::nullopt;
  if (!m) {
    // A new command leaves the question behind; anything else is asked again.
    auto local = CommandLines::steps(text);
    bool command = !local.empty() && std::all_of(local.begin(), local.end(), [&](const std::string& s) {
      return CommandReader::read(s, marketsNow()->names(), canvas().intent).has_value();
    });
    bool word = std::any_of(appWordPatterns().begin(), appWordPatterns().end(),
                            [&text](const auto& p) { return p.second.matchesWhole(text); });
    if (command || word) {
      awaiting_.reset();
      emit("awaiting", nullptr);
      return false;
    }
    reply(awaiting_->place ? Replies::questionIn(*awaiting_->place, lang) : Replies::howMuch(lang));
    return true;
  }
  std::string digits(*m->group(2));
  // "1,000" is a thousand to some and one to others: ask rather than guess.
  if (thousandsComma().matchesWhole(digits)) {
    reply(Replies::commaAmount(digits, lang));
    return true;
  }
  std::optional<std::string> unit;
  if (m->group(1)) unit = "USDC";
  if (auto u = m->group(3)) unit = unitOf(*u);
  const std::string wanted = awaiting_->unit == "SOL" ? "SOL" : "USDC";
  auto amount = Decimal::tryParse(text::replacedAll(digits, ",", "."));
  if (!amount || (unit && *unit != wanted)) {
    reply(awaiting_->place ? Replies::questionIn(*awaiting_->place, lang) : Replies::howMuch(lang));
    return true;
  }
  const Decimal smallest = wanted == "SOL" ? Decimal::parse("0.001") : Decimal::parse("0.01");
  if (*amount < smallest) {
    reply(Replies::lessThanSmallest(smallest.toString() + " " + awaiting_->unit, lang));
    return true;
  }
  WalletCommand done = withAmount(awaiting_->command, *amount);
  const std::string canvasID = awaiting_->canvas;
  awaiting_.reset();
  emit("awaiting", nullptr);
  actOnCommand(done.line(), text, canvasID, activity, nullptr);
  return true;
}

bool Workspace::appWord(const std::string& text, const std::string& activity) {
  for (const auto& [kind, pattern] : appWordPatterns()) {
    if (!pattern.matchesWhole(text)) continue;
    const Language lang = replyLanguage();
    switch (kind) {
      case AppWordKind::newCanvas: newCanvas(); break;
      case AppWordKind::clearPlan: actOnCommand("clear the plan", text, canvas().id, activity, nullptr); break;
      case AppWordKind::lock: actOnCommand("lock", text, canvas().id, activity, nullptr); break;
      case AppWordKind::openSite: {
        auto m = pattern.firstMatch(text);
        std::string site(m->group(1).value_or(""));
        emit("site", Json{{"url", site}});
        reply(Replies::siteOpen(site, lang));
        break;
      }
      case AppWordKind::whatsNew:
        emit("show", Json{{"what", "whatsNew"}});
        reply(Replies::whatsNew(lang));
        break;
      case AppWordKind::updates: reply(Replies::builtLocally(lang)); break;
      case AppWordKind::takeOptions:
        if (canvas().intent) emit("show", Json{{"what", "takeOptions"}, {"plan", canvas().intent->command()}});
        reply(Replies::takeOptions(canvas().intent.has_value(), lang));
        break;
    }
    return true;
  }
  return false;
}

bool Workspace::offeredCard(const std::string& text, MessageSource source, const std::string& activity) {
  // A click on an option card runs the command it offers; typing its words does not.
  if (source != MessageSource::quickButton || !nextSteps_) return false;
  for (const auto& o : nextSteps_->options) {
    if (o.command != text) continue;
    // The model wrote the option's words, so a schedule it holds never signs unattended.
    optionClicked_ = true;
    actOnCommand(o.command, text, canvas().id, activity, nullptr);
    optionClicked_ = false;
    return true;
  }
  return false;
}

// --- The model ----------------------------------------------------------------

Workspace::AutomationOutcome Workspace::runAutomation(const AutomationRun& run) {
  if (run.markets && !run.markets->empty()) lastMarkets_ = run.markets;
  const std::int64_t now = s_.clock.nowMillis();
  CanvasSession* c = run.canvas ? canvasById(*run.canvas) : nullptr;
  if (!c) {
    CanvasSession fresh;
    fresh.id = newId();
    fresh.updated = now;
    fresh.title = run.title;
    canvases_.push_back(std::move(fresh));
    c = &canvases_.back();
    emit("canvas", Json{{"id", c->id}, {"title", c->title}});
  }
  AutomationOutcome out;
  out.canvas = c->id;
  const bool ru = replyLanguage() == Language::russian;
  if (run.untrusted) {
    replyOn(out.canvas, ru ? "⚠️ Эти шаги написаны не тобой — проверь каждый, прежде чем нажать Confirm."
                           : "⚠️ These steps didn’t come from your own words — read each one before you press Confirm.");
  }
  for (const auto& note : run.notes) replyOn(out.canvas, note);
  const MarketNames names = marketsNow()->names();
  for (const auto& step : run.steps) {
    c = canvasById(out.canvas);
    if (!CommandReader::read(step, names, c ? c->intent : std::nullopt)) {
      replyOn(out.canvas, ru ? "orwenna не умеет «" + step + "» — на этом шаги останавливаются."
                             : "orwenna can’t do “" + step + "” — the steps stop here.");
      out.stoppedAt = step;
      return out;
    }
  }
  const std::string line = text::join(run.steps, " then ");
  Activity a;
  a.id = newId();
  a.at = now;
  a.kind = Activity::Kind::automatic;
  a.title = run.title;
  a.request = line;
  a.canvas = out.canvas;
  log(a);
  actOnCommand(line, line, out.canvas, a.id, nullptr, true);
  const bool onScreen = card_ && card_->canvas == out.canvas;
  Card* card = onScreen ? &*card_ : nullptr;
  if (auto p = parked_.find(out.canvas); !card && p != parked_.end()) card = &p->second;
  out.ready = card && card->status == Card::Status::waiting;
  if (!out.ready) return out;
  const bool signable = std::all_of(card->steps.begin(), card->steps.end(), signsUnattended);
  if (run.unattended && !run.untrusted && signable) {
    replyOn(out.canvas, ru ? "С кошелька автоматизации «" + run.unattended->wallet + "», без Touch ID."
                           : "From the automation wallet «" + run.unattended->wallet + "», no Touch ID.");
    card->status = Card::Status::executing;
    ++card->version;
    executing_ = true;
    if (onScreen) emit("card", cardJson(*card));
    executorWorker_.post([this, steps = card->steps, id = card->id, execute = run.unattended->execute] {
      ExecutionResult result = execute(steps);
      post([this, id, result = std::move(result)]() mutable { finishExecution(id, std::move(result)); });
    });
    out.ready = false;
    out.unattended = true;
    return out;
  }
  replyOn(out.canvas, ru ? "Готово на своём канвасе — нажми Confirm." : "Ready on its canvas — press Confirm.");
  replyOn(out.canvas, ru ? "С твоего основного кошелька: Confirm и Touch ID." : "From your main wallet: Confirm and Touch ID.");
  return out;
}

void Workspace::runCheck(const std::string& what, bool byHand) {
  Queued q{what, MessageSource::composer, {}, canvas().id, true, byHand, std::nullopt, Agent::StepOutcome::unknown, {}};
  startModel(std::move(q));
}

void Workspace::startQueued() {
  if (!queued_ || callInFlight_) return;
  Queued q = std::move(*queued_);
  queued_.reset();
  startModel(std::move(q));
}

void Workspace::endModel() {
  busy_ = thinking_ = modelRunning_ = false;
  cancelModel_.reset();
  if (!draftReply_.empty()) {
    draftReply_.clear();
    draftShownAt_.reset();
    emit("draft", Json{{"text", ""}});
  }
  emitStatus();
}

void Workspace::startModel(Queued message) {
  if (callInFlight_) {
    // One model call at a time: this one waits for the call still ending.
    queued_ = std::move(message);
    busy_ = true;
    emitStatus();
    return;
  }
  callInFlight_ = true;
  busy_ = thinking_ = modelRunning_ = true;
  stopRequested_ = false;
  auto cancel = std::make_shared<std::atomic<bool>>(false);
  cancelModel_ = cancel;
  emitStatus();

  const std::uint64_t turn = turn_;
  ChatRouter::Context ctx = context();
  // The message itself goes to the router on its own, not twice.
  if (!message.check && !ctx.recent.empty() && ctx.recent.back() == "user: " + prefixChars(message.text, 3000))
    ctx.recent.pop_back();
  const Language lang = ctx.replyLanguage;

  struct Draft {
    std::mutex mutex;
    std::string latest;
    bool posted = false;
    std::int64_t lastMillis = -kDraftEveryMillis;
  };
  auto draft = std::make_shared<Draft>();

  modelWorker_.post([this, message = std::move(message), ctx = std::move(ctx), lang, cancel, draft, turn,
                ask = s_.ask, lookup = s_.lookup, markets = s_.markets, check = s_.secondCheck,
                modelReader = s_.modelSecondReader, &clock = s_.clock]() mutable {
    TurnResult r;
    r.message = message;
    auto body = [&](TurnResult& r) {
      if (check && check->available() && !message.check) {
        // The second check's steering question, before the model sees anything.
        auto findings = InjectionHeuristics::scan(message.text);
        try {
          auto label = check->classify(text::sanitized(message.text), "chat message");
          bool steer = (label.label == "instructions" && label.confidence >= 0.7) ||
                       (label.label == "payment_redirect" && label.confidence >= 0.7 && !findings.addresses.empty());
          if (steer) {
            r.kind = TurnResult::Kind::steering;
            r.withAddress = !findings.addresses.empty();
            return;
          }
        } catch (const std::exception& e) {
          log::warn("second check unavailable for the steering question: {}", e.what());
        }
      }
      r.markets = markets ? markets() : nullptr;
      if (!r.markets) r.markets = std::make_shared<const MarketTable>();
      if (!ask) {
        r.kind = TurnResult::Kind::failed;
        r.reason = lang == Language::russian ? "модель не подключена" : "no model is connected";
        return;
      }
      ChatRouter::Callbacks callbacks;
      callbacks.ask = [ask, cancel](const std::vector<LLMMessage>& messages, bool json, const PartialText& onText) {
        if (cancel->load()) throw TurnCancelled();
        return ask(messages, json, [&](const std::string& soFar) {
          if (cancel->load()) throw TurnCancelled();
          if (onText) onText(soFar);
        });
      };
      callbacks.lookup = lookup;
      auto names = std::make_shared<MarketNames>(r.markets->names());
      callbacks.canRun = [names](const std::string& line) { return ChatRouter::canRun(line, *names); };
      if (modelReader) {
        ChatRouter::SecondReader classifier;
        if (check && check->available()) classifier = Agent::classifierReader(*check, ctx.recent, message.text);
        callbacks.secondReader =
            Agent::bothReaders(Agent::secondReader(callbacks.ask, message.text, ctx), std::move(classifier));
      }
      callbacks.onEarlyReply = [this, draft, turn, &clock](const std::string& reply) {
        std::lock_guard lock(draft->mutex);
        draft->latest = reply;
        std::int64_t now = clock.monotonicMillis();
        if (draft->posted || now - draft->lastMillis < kDraftEveryMillis) return;
        draft->posted = true;
        draft->lastMillis = now;
        post([this, draft, turn] {
          std::string text;
          {
            std::lock_guard l(draft->mutex);
            draft->posted = false;
            text = draft->latest;
          }
          if (turn != turn_ || text == draftReply_) return;
          if (!draftShownAt_) draftShownAt_ = s_.clock.nowMillis();
          draftReply_ = text;
          emit("draft", Json{{"text", draftReply_}});
        });
      };
      if (message.goal) {
        r.reading = Agent::continueGoal(*message.goal, message.outcome, message.repliesSince, ctx, callbacks);
        r.kind = TurnResult::Kind::reading;
      } else if (message.check) {
        auto reading = Agent::runCheck(message.text, ctx, callbacks);
        r.kind = reading ? TurnResult::Kind::reading : TurnResult::Kind::quiet;
        r.reading = std::move(reading);
      } else {
        r.reading = ChatRouter::read(message.text, ctx, callbacks);
        r.kind = TurnResult::Kind::reading;
        if (r.reading->route.kind == ChatRouter::Route::Kind::question) {
          std::optional<std::string> marketBlock;
          if (auto coin = IntentParser::asset(message.text, *names)) marketBlock = lookup("market", *coin);
          r.answer = Agent::answerQuestion(message.text, lang, snapshot(), marketBlock, callbacks.ask);
        }
      }
    };
    try {
      body(r);
    } catch (const TurnCancelled&) {
      r.kind = TurnResult::Kind::stopped;
    } catch (const ChatRouter::Unreadable& e) {
      r.kind = TurnResult::Kind::unreadable;
      r.reason = e.reply;
    } catch (const std::exception& e) {
      r.kind = cancel->load() ? TurnResult::Kind::stopped : TurnResult::Kind::failed;
      r.reason = e.what();
    }
    post([this, turn, r = std::move(r)]() mutable { finishTurn(turn, std::move(r)); });
  });
}

void Workspace::finishTurn(std::uint64_t turn, TurnResult r) {
  callInFlight_ = false;
  if (r.markets && !r.markets->empty()) lastMarkets_ = r.markets;
  if (turn != turn_ || r.kind == TurnResult::Kind::stopped) {
    // Stop or a newer message came first: this reading changes nothing.
    log::info("orwenna router: a stale reading was dropped");
    if (turn == turn_) endModel();
    if (!queued_ && busy_ && !modelRunning_) {
      busy_ = false;
      emitStatus();
    }
    startQueued();
    return;
  }
  endModel();
  const Queued& q = r.message;
  const Language lang = replyLanguage();
  std::string model = s_.modelName.empty() ? (lang == Language::russian ? "модель" : "the model") : s_.modelName;
  switch (r.kind) {
    case TurnResult::Kind::steering:
      replyOn(q.canvas, Replies::steering(r.withAddress, lang));
      logLine(q.activity, "guard: rules and the second check");
      break;
    case TurnResult::Kind::unreadable:
      log::info("orwenna router: unreadable answer");
      replyOn(q.canvas, Replies::unreadable(model, lang));
      break;
    case TurnResult::Kind::failed: {
      std::string reason = r.reason;
      while (!reason.empty() && (reason.back() == '.' || reason.back() == ' ')) reason.pop_back();
      log::info("orwenna router: the model failed: {}", reason);
      if (reason.starts_with("it isn't downloaded")) {
        replyOn(q.canvas, Replies::notDownloaded(model, reason, lang));
        break;
      }
      if (q.check) break;
      // The local parsers may read it alone.
      auto steps = CommandLines::steps(q.text);
      std::vector<std::string> lines;
      for (const auto& s : steps) {
        CanvasSession* c = canvasById(q.canvas);
        auto cmd = CommandReader::read(s, marketsNow()->names(), c ? c->intent : std::nullopt);
        if (!cmd) {
          lines.clear();
          break;
        }
        lines.push_back(CommandReader::line(*cmd));
      }
      if (lines.empty()) {
        replyOn(q.canvas, Replies::unreachable(model, reason, lang));
        break;
      }
      std::string shown = s_.modelName.empty() ? (lang == Language::russian ? "Модель" : "The model") : s_.modelName;
      replyOn(q.canvas, Replies::readMyself(shown, reason, lang));
      actOnCommand(text::join(lines, " then "), q.text, q.canvas, q.activity, nullptr);
      break;
    }
    case TurnResult::Kind::quiet:
      log::info("orwenna router: quiet");
      if (q.byHand) replyOn(q.canvas, Replies::checkedQuiet(lang));
      break;
    case TurnResult::Kind::reading: {
      log::info("orwenna router: {} {}", routeName(r.reading->route.kind), r.reading->route.text);
      actOnReading(*r.reading, q.text, q.canvas, q.activity, r.answer, q.check);
      if (q.goal) {
        // The request goes on only through a further step that made a card.
        CanvasSession* c = canvasById(q.canvas);
        agentGoal_ = q.goal->after(*r.reading, c ? static_cast<int>(c->messages.size()) : 0);
        if (agentGoal_) goalCard_ = card_ ? card_->id : std::string();
        if (goalCard_.empty()) agentGoal_.reset();
      }
      break;
    }
    case TurnResult::Kind::stopped: break;
  }
  startQueued();
}

void Workspace::stop() {
  // Nothing is being read (the card, if any, already stands): nothing to say.
  if (!modelRunning_ && !queued_) return;
  stopRequested_ = true;
  ++turn_;
  if (cancelModel_) cancelModel_->store(true);
  queued_.reset();
  endModel();
  if (currentActivity_) {
    if (Activity* a = activityById(*currentActivity_)) {
      Activity copy = *a;
      copy.stopped = true;
      log(std::move(copy));
    }
  }
  reply(Replies::stopped(replyLanguage()));
}

// --- Acting on readings ------------------------------------------------------

void Workspace::actOnReading(const ChatRouter::Reading& reading, const std::string& message,
                             const std::string& canvasID, const std::string& activity,
                             const std::optional<std::string>& answer, bool check) {
  const Language lang = replyLanguage();
  using Kind = ChatRouter::Route::Kind;
  switch (reading.route.kind) {
    case Kind::command:
      if (reading.corrected) {
        if (CanvasSession* c = canvasById(canvasID)) {
          for (auto it = c->messages.rbegin(); it != c->messages.rend(); ++it) {
            if (!it->fromUser || it->text != message) continue;
            it->note = Replies::correctedNote();
            emit("message", Json{{"canvas", c->id}, {"message", toJson(*it)}});
            break;
          }
        }
      }
      actOnCommand(reading.route.text, message, canvasID, activity, &reading, check);
      break;
    case Kind::confirm:
      if (!card_) replyOn(canvasID, Replies::confirmNothing(lang));
      else if (ChatWords::changeWords(message)) replyOn(canvasID, Replies::confirmWithChange(lang));
      else if (reading.doubt) replyOn(canvasID, Replies::confirmDoubted(*reading.doubt, lang));
      else replyOn(canvasID, Replies::confirmPress(lang));
      break;
    case Kind::cancel: cancelByText(canvasID); break;
    case Kind::chat:
    case Kind::clarify:
      replyOn(canvasID, reading.route.text);
      nextSteps_ = Agent::NextSteps::of(reading, message, canvasID);
      emit("options", optionsJson(nextSteps_));
      if (reading.show) emit("show", Json{{"what", "command"}, {"command", *reading.show}, {"canvas", canvasID}});
      break;
    case Kind::question: replyOn(canvasID, answer.value_or(Replies::checkedQuiet(lang))); break;
    case Kind::plan: replyOn(canvasID, Replies::planHelp(lang)); break;
  }
  (void)check;
}

void Workspace::actOnCommand(const std::string& line, const std::string& message, const std::string& canvasID,
                             const std::string& activity, const ChatRouter::Reading* reading, bool background) {
  const Language lang = replyLanguage();
  awaiting_.reset();
  // A token address the model brought from elsewhere is never used.
  {
    Agent::PortfolioSnapshot h = snapshot();
    for (const auto& address : ChatRouter::addresses(line)) {
      if (textHasAddress(message, address)) continue;
      bool favorite = std::any_of(h.favorites.begin(), h.favorites.end(),
                                  [&address](const std::string& f) { return textHasAddress(f, address); });
      bool saved = false;
      if (s_.addressBook)
        for (const auto& e : s_.addressBook->entries()) saved = saved || sameAddress(e.address, address);
      if (favorite || saved) continue;
      replyOn(canvasID, Replies::tokenNotTrusted(address, lang));
      return;
    }
  }
  if (reading && reading->doubt) {
    nextSteps_ = Agent::NextSteps{{ChatRouter::Option{line, "", line, false}}, message, {}, canvasID};
    emit("options", optionsJson(nextSteps_));
    replyOn(canvasID, Replies::doubted(line, *reading->doubt, lang));
    return;
  }
  if (Activity* a = activityById(activity)) {
    Activity copy = *a;
    copy.understood = line;
    log(std::move(copy));
  }

  auto markets = marketsNow();
  const MarketNames names = markets->names();
  std::vector<PendingAction> money;
  std::vector<std::string> moneyLines;
  for (const auto& step : CommandLines::steps(line)) {
    CanvasSession* c = canvasById(canvasID);
    if (!c) c = &canvases_[current_];
    auto command = CommandReader::read(step, names, c->intent);
    if (!command) {
      replyOn(canvasID, Replies::unreadableStep(step, lang));
      return;
    }
    bool stopHere = false;
    std::visit(
        [&](const auto& cmd) {
          using C = std::decay_t<decltype(cmd)>;
          if constexpr (std::is_same_v<C, AppWord>) {
            if (cmd.word == "new canvas") {
              newCanvas();
            } else if (cmd.word == "clear the plan") {
              c->intent.reset();
              {
                std::lock_guard lock(holdingsMutex_);
                holdings_.plan.reset();
              }
              emit("plan", Json{{"canvas", c->id}, {"intent", nullptr}});
              saveCanvases();
            } else if (cmd.word == "lock") {
              if (s_.signerLock) {
                s_.signerLock->lock();
                replyOn(canvasID, Replies::locked(lang));
              } else {
                replyOn(canvasID, Replies::notAvailable(cmd.word, lang));
              }
            } else {
              replyOn(canvasID, Replies::notAvailable(cmd.word, lang));
            }
          } else if constexpr (std::is_same_v<C, TradeIntent>) {
            setPlan(canvasID, cmd, activity, background);
          } else if constexpr (std::is_same_v<C, WalletCommand>) {
            const bool recurring = std::holds_alternative<wallet::schedule>(cmd.value) ||
                                   std::holds_alternative<wallet::stopSchedules>(cmd.value);
            if (recurring && s_.automations) {
              replyOn(canvasID, s_.automations->saveRecurringBuy(cmd));
            } else if (readOnlyWallet(cmd)) {
              emit("show", Json{{"what", "command"}, {"command", cmd.line()}, {"canvas", canvasID}});
              // No screen of the page shows these yet: say so rather than seem to have answered.
              replyOn(canvasID, Replies::notAvailable(cmd.line(), lang));
            } else if (auto need = amountNeed(cmd)) {
              awaiting_ = AwaitingAmount{cmd, need->unit, need->place, canvasID};
              emit("awaiting", Json{{"command", cmd.line()}, {"unit", need->unit}});
              replyOn(canvasID, need->place ? Replies::questionIn(*need->place, lang) : Replies::howMuch(lang));
              stopHere = true;
            } else {
              money.push_back(PendingAction{cmd});
              moneyLines.push_back(cmd.line());
            }
          } else if constexpr (std::is_same_v<C, PositionCommand>) {
            Agent::PortfolioSnapshot h = snapshot();
            std::optional<std::string> coin = IntentParser::asset(step, names);
            if (h.positions.empty()) {
              replyOn(canvasID, Replies::noPosition(positionAction(cmd), step, lang));
              stopHere = true;
            } else if (!coin && h.positions.size() > 1) {
              std::vector<std::string> open;
              for (const auto& p : h.positions) open.push_back(p.coin + " " + std::string(sideName(p.side)));
              replyOn(canvasID, Replies::whichPosition(text::join(open, ", "), lang));
              stopHere = true;
            } else {
              std::string chosen = coin ? *coin : h.positions.front().coin;
              money.push_back(PendingAction{PendingAction::Position{cmd, chosen}});
              moneyLines.push_back(step);
            }
          } else if constexpr (std::is_same_v<C, AddressBookCommand>) {
            if (auto* save = std::get_if<AddressBookCommand::save>(&cmd.value)) {
              std::string network = save->network.value_or(save->address.starts_with("0x") ? "base" : "solana");
              money.push_back(PendingAction{SavedAddress{save->name, save->address, network}});
              moneyLines.push_back(cmd.line());
            } else {
              replyOn(canvasID, Replies::notAvailable(cmd.line(), lang));
            }
          } else if constexpr (std::is_same_v<C, AlertCommand>) {
            replyOn(canvasID, s_.automations ? s_.automations->saveAlert(cmd, canvasID)
                                             : Replies::notAvailable(cmd.line(), lang));
          } else if constexpr (std::is_same_v<C, CommandLines::Scheduled>) {
            // Steps shaped by what a lookup brought in, or by an option the model
            // wrote, are not the user's own words.
            const bool untrusted = optionClicked_ || (reading && !reading->lookups.empty());
            replyOn(canvasID, s_.automations ? s_.automations->saveSchedule(cmd, canvasID, untrusted)
                                             : Replies::notAvailable(step, lang));
          } else if constexpr (std::is_same_v<C, CancelScheduledTasks>) {
            replyOn(canvasID, s_.automations ? s_.automations->cancelSchedules() : Replies::notAvailable(step, lang));
          } else if constexpr (std::is_same_v<C, MemoryCommand>) {
            replyOn(canvasID, memory_.apply(cmd, message, lang));
          } else if constexpr (std::is_same_v<C, CheckLine>) {
            runCheck(cmd.text, true);
          } else if constexpr (std::is_same_v<C, FolderCommand>) {
            if (auto* save = std::get_if<FolderCommand::save>(&cmd.value)) {
              c->folder = save->folder;
            } else if (auto* note = std::get_if<FolderCommand::note>(&cmd.value)) {
              c->folder = note->folder;
              if (c->note) c->moreNotes.push_back(note->text);
              else c->note = note->text;
            }
            emit("canvas", Json{{"id", c->id}, {"folder", c->folder.value_or("")}});
            saveCanvases();
            replyOn(canvasID, Replies::carried(cmd.line(), lang));
          } else {
            // Charts, profit and loss, token pages: read-only blocks beside the chat.
            std::string shown = CommandReader::line(AnyCommand{cmd});
            if constexpr (std::is_same_v<C, ChartCommand>) c->chart = shown;
            emit("show", Json{{"what", "command"}, {"command", shown}, {"canvas", canvasID}});
            replyOn(canvasID, Replies::carried(shown, lang));
          }
        },
        *command);
    if (stopHere) return;
  }
  if (money.empty()) return;

  Card card;
  card.command = line;
  card.steps = std::move(money);
  card.text = message;
  card.canvas = canvasID;
  if (reading && reading->continues && reading->next) card.next = Replies::nextOnCard(lang) + *reading->next;
  placeCard(std::move(card), background);
  if (reading && reading->continues && card_ && card_->canvas == canvasID) {
    CanvasSession* c = canvasById(canvasID);
    agentGoal_ = Agent::AgentGoal::start(*reading, message, c ? static_cast<int>(c->messages.size()) : 0, canvasID,
                                         s_.clock.nowMillis());
    goalCard_ = card_->id;
  }
  replyOn(canvasID, moneyLines.size() > 1 ? Replies::preparedSteps(line, text::join(moneyLines, ", "), lang)
                                          : Replies::prepared(line, lang));
}

void Workspace::setPlan(const std::string& canvasID, const TradeIntent& intent, const std::string& activity,
                        bool background) {
  CanvasSession* c = canvasById(canvasID);
  if (!c) return;
  c->intent = intent;
  auto markets = marketsNow();
  const Market* market = markets->empty() ? nullptr : Agent::findMarket(intent.asset, *markets);
  Agent::PortfolioSnapshot h = snapshot();
  std::optional<Decimal> openRisk = openRiskOf(h.positions);
  Review r = review(intent, market, std::nullopt, s_.policy, openRisk);
  Live live;
  live.marketsLoaded = !markets->empty();
  if (market) live.market = *market;
  live.policy = s_.policy;
  live.openRisk = openRisk;
  live.notes = r.rules.notes;
  Json blocks = Json::array();
  for (const auto& b : Plan::blocks(r.rules.intent, live))
    blocks.push_back(Json{{"id", b.id}, {"label", b.label}, {"title", b.title}, {"lines", b.lines},
                          {"status", statusName(b.status)}});
  {
    std::lock_guard lock(holdingsMutex_);
    holdings_.plan = intent.command();
  }
  emit("plan", Json{{"canvas", canvasID}, {"intent", intent.toJson()}, {"blocks", std::move(blocks)}});
  saveCanvases();
  std::string check = r.evaluation.problem ? *r.evaluation.problem
                      : !r.evaluation.missing.empty() ? "Missing: " + text::join(r.evaluation.missing, ", ") + "."
                                                      : std::string();
  replyOn(canvasID, Replies::planPlaced(intent.command(), check, replyLanguage()));
  (void)activity;
  // A plan that can be placed waits on a card: only its Confirm opens the trade.
  if (market && r.evaluation.canPlace()) {
    Card card;
    card.command = r.rules.intent.command();
    card.steps = {PendingAction{PendingAction::Trade{r.rules.intent, market->markPx}}};
    card.text = intent.command();
    card.canvas = canvasID;
    placeCard(std::move(card), background);
  }
}

// --- Cards --------------------------------------------------------------------

void Workspace::placeCard(Card card, bool background) {
  static constexpr std::string_view kCodeLetters = "ABCDEFGHJKLMNPQRSTUVWXYZ23456789";
  card.id = newId();
  card.version = 1;
  card.at = s_.clock.nowMillis();
  card.code.clear();
  for (int i = 0; i < 4; ++i) card.code += kCodeLetters[s_.random.nextU64() % kCodeLetters.size()];
  const bool busyScreen = card.canvas == canvas().id && background && card_ && card_->status == Card::Status::waiting;
  if (card.canvas != canvas().id || busyScreen) {
    // Never over the card on screen: it waits under its canvas.
    const std::string where = card.canvas;
    parked_[where] = std::move(card);
    emit("parked", Json{{"canvas", where}});
    return;
  }
  card_ = std::move(card);
  emit("card", cardJson(*card_));
}

void Workspace::showParked() {
  if (card_) return;
  auto p = parked_.find(canvas().id);
  if (p == parked_.end()) return;
  card_ = std::move(p->second);
  parked_.erase(p);
  emit("card", cardJson(*card_));
}

void Workspace::dropCard() {
  card_.reset();
  emit("card", nullptr);
  showParked();
}

void Workspace::cancelCard() {
  if (!card_ || card_->status != Card::Status::waiting) return;
  dropCard();
  reply(Replies::cancelled(replyLanguage()));
}

Workspace::ConfirmResult Workspace::confirm(const std::string& cardID, int version) {
  if (!card_ || card_->id != cardID || card_->version != version) return ConfirmResult::stale;
  if (card_->status != Card::Status::waiting) return ConfirmResult::notWaiting;
  card_->status = Card::Status::executing;
  ++card_->version;
  executing_ = true;
  emit("card", cardJson(*card_));
  executeCard();
  return ConfirmResult::started;
}

void Workspace::executeCard() {
  std::vector<PendingAction> steps = card_->steps;
  std::string id = card_->id;
  MoneyExecutor* executor = s_.executor;
  const Language lang = replyLanguage();
  executorWorker_.post([this, steps = std::move(steps), id, executor, lang] {
    ExecutionResult result;
    if (executor) {
      result = executor->execute(steps);
    } else {
      result.outcome = ExecutionResult::Outcome::failed;
      result.reply = lang == Language::russian ? "В этой сборке подписывать пока нечем, поэтому ничего не ушло."
                                               : "Nothing in this build can sign yet, so nothing moved.";
    }
    post([this, id, result = std::move(result)]() mutable { finishExecution(id, std::move(result)); });
  });
}

void Workspace::finishExecution(const std::string& cardID, ExecutionResult result) {
  executing_ = false;
  std::optional<Card> done;
  if (card_ && card_->id == cardID) {
    done = std::move(*card_);
    card_.reset();
  } else {
    for (auto it = parked_.begin(); it != parked_.end(); ++it) {
      if (it->second.id != cardID) continue;
      done = std::move(it->second);
      parked_.erase(it);
      break;
    }
  }
  if (!done) return;
  done->status = result.outcome == ExecutionResult::Outcome::done ? Card::Status::done : Card::Status::failed;
  ++done->version;
  emit("card", cardJson(*done));
  Activity a;
  a.id = newId();
  a.at = s_.clock.nowMillis();
  a.kind = Activity::Kind::execution;
  a.request = done->text;
  a.understood = done->command;
  a.bubbles = result.bubbles;
  a.lines = result.lines;
  a.canvas = done->canvas;
  if (result.outcome == ExecutionResult::Outcome::failed) a.failed = true;
  log(std::move(a));
  if (CanvasSession* c = canvasById(done->canvas)) {
    if (result.outcome == ExecutionResult::Outcome::done) c->executed = true;
    c->bubbles.insert(c->bubbles.end(), result.bubbles.begin(), result.bubbles.end());
  }
  if (!result.reply.empty()) replyOn(done->canvas, result.reply);
  showParked();
  emitStatus();
  if (agentGoal_ && goalCard_ == done->id) {
    // The request goes on: the model hears how the step went, through the same gate.
    Queued next{agentGoal_->request, MessageSource::composer, {}, done->canvas, false, false, std::nullopt,
                Agent::StepOutcome::unknown, {}};
    next.goal = agentGoal_;
    next.outcome = result.outcome == ExecutionResult::Outcome::done     ? Agent::StepOutcome::wentThrough
                   : result.outcome == ExecutionResult::Outcome::failed ? Agent::StepOutcome::failed
                                                                        : Agent::StepOutcome::unknown;
    if (CanvasSession* c = canvasById(done->canvas))
      for (std::size_t i = static_cast<std::size_t>(std::max(agentGoal_->mark, 0)); i < c->messages.size(); ++i)
        if (!c->messages[i].fromUser) next.repliesSince.push_back(c->messages[i].text);
    agentGoal_.reset();
    goalCard_.clear();
    startModel(std::move(next));
  }
}

// --- Canvases -------------------------------------------------------------------

void Workspace::newCanvas() {
  CanvasSession c;
  c.id = newId();
  c.updated = s_.clock.nowMillis();
  c.title = "New canvas";
  canvases_.push_back(std::move(c));
  switchCanvas(canvases_.back().id);
}

bool Workspace::switchCanvas(const std::string& canvasID) {
  auto it = std::find_if(canvases_.begin(), canvases_.end(), [&](const CanvasSession& c) { return c.id == canvasID; });
  if (it == canvases_.end()) return false;
  std::size_t index = static_cast<std::size_t>(it - canvases_.begin());
  if (index == current_) return true;
  if (card_ && card_->status == Card::Status::waiting) {
    parked_[canvas().id] = std::move(*card_);
    card_.reset();
  }
  awaiting_.reset();
  nextSteps_.reset();
  current_ = index;
  canvases_[current_].updated = s_.clock.nowMillis();
  if (auto p = parked_.find(canvasID); p != parked_.end()) {
    card_ = std::move(p->second);
    parked_.erase(p);
  }
  {
    std::lock_guard lock(holdingsMutex_);
    holdings_.plan = canvas().intent ? std::optional<std::string>(canvas().intent->command()) : std::nullopt;
  }
  emit("canvas", Json{{"id", canvasID}, {"title", canvas().title}});
  emit("card", card_ ? cardJson(*card_) : Json(nullptr));
  saveCanvases();
  return true;
}

void Workspace::setModel(ChatRouter::Ask ask, std::string modelName, std::optional<std::string> providerID) {
  s_.ask = std::move(ask);
  s_.modelName = std::move(modelName);
  s_.providerID = std::move(providerID);
  emit("model", Json{{"name", s_.modelName}, {"provider", s_.providerID ? Json(*s_.providerID) : Json(nullptr)}});
}

Json Workspace::stateJson() const {
  Json messages = Json::array();
  for (const auto& m : canvas().messages) messages.push_back(toJson(m));
  Json canvases = Json::array();
  for (const auto& c : canvases_)
    canvases.push_back(Json{{"id", c.id}, {"title", c.title}, {"folder", c.folder ? Json(*c.folder) : Json(nullptr)},
                            {"parked", parked_.count(c.id) > 0}});
  Json out = Json{{"rev", rev_},
                  {"canvasID", canvas().id},
                  {"canvases", std::move(canvases)},
                  {"messages", std::move(messages)},
                  {"intent", canvas().intent ? canvas().intent->toJson() : Json(nullptr)},
                  {"card", card_ ? cardJson(*card_) : Json(nullptr)},
                  {"awaitingAmount", awaiting_ ? Json(awaiting_->command.line()) : Json(nullptr)},
                  {"options", optionsJson(nextSteps_)},
                  {"draftReply", draftReply_},
                  {"composer", composer_},
                  {"busy", busy_},
                  {"thinking", thinking_},
                  {"modelRunning", modelRunning_},
                  {"executing", executing_},
                  {"activities", activities_.size()},
                  {"model", s_.ask ? Json(s_.modelName) : Json(nullptr)}};
  return out;
}

}  // namespace orwenna
