#include "orwenna/app_panel.h"

#include "base/text.h"
#include "app/token_lookup.h"
#include "hyperliquid/history.h"
#include "hyperliquid/info.h"
#include "llm/providers.h"
#include "orwenna/command.h"
#include "platform/credential_store.h"
#include "signing/secret.h"
#include "trading/risk_policy.h"

namespace orwenna::cmd {

namespace {

WebAnswer failure(int status, const std::string& error) { return WebAnswer{status, Json{{"error", error}}}; }

}  // namespace

ConversationPanel::ConversationPanel(Conversation& conversation, std::function<void(const Json&)> publish)
    : conversation_(conversation), signer_(SignerLocation::forApp(conversation.paths())), publish_(std::move(publish)) {}

ConversationPanel::~ConversationPanel() {
  signInCancel_.cancel();
  if (signIn_.joinable()) signIn_.join();
  if (setup_.joinable()) setup_.join();
}

std::optional<WebAnswer> ConversationPanel::act(std::string_view action, const Json& body) {
  namespace sr = signer_request;
  if (action == "settings") return settings();
  if (action == "saveRiskPolicy") return saveRiskPolicy(body);
  if (action == "models") return models();
  if (action == "chooseModel") return chooseModel(body);
  if (action == "signIn") return signIn(body);
  if (action == "addressBook") return signer(sr::AddressBook{}, "addressBook");
  if (action == "lock") return signer(sr::Lock{}, "lock");
  if (action == "signerStatus") return signer(sr::Status{}, "status");
  if (action == "sessionLength") {
    auto seconds = body.find("seconds");
    if (seconds == body.end() || !seconds->is_number_integer()) return failure(400, "How long, in seconds?");
    return signer(sr::SetSessionLength{seconds->get<std::int64_t>()}, "sessionLength");
  }
  if (action == "candles") return candles(body);
  if (action == "tokenChart") return tokenChart(body);
  if (action == "localSetup") return localSetup();
  if (action == "pnl") return pnl(body);
  return std::nullopt;
}

WebAnswer ConversationPanel::settings() {
  const Services& services = conversation_.services();
  const Endpoints& e = services.endpoints;
  Json endpoints = Json::object();
  endpoints["ORWENNA_HL_API"] = e.hyperliquid.mainnet;
  endpoints["ORWENNA_HL_TESTNET_API"] = e.hyperliquid.testnet;
  endpoints["ORWENNA_SOLANA_RPC"] = e.solanaRpc;
  endpoints["ORWENNA_RELAY_API"] = e.relay;
  endpoints["ORWENNA_ONECLICK_API"] = e.oneClick;
  endpoints["ORWENNA_OPENROUTER_API"] = e.openRouter();
  return WebAnswer{200, Json{{"riskPolicy", RiskPolicy::load().toJson()},
                             {"testnet", services.hyperliquidTestnet},
                             {"endpoints", std::move(endpoints)}}};
}

WebAnswer ConversationPanel::saveRiskPolicy(const Json& body) {
  auto policy = body.contains("riskPolicy") ? RiskPolicy::fromJson(body["riskPolicy"]) : std::nullopt;
  if (!policy) return failure(400, "Every limit of the risk policy needs a number above zero.");
  try {
    policy->save();
  } catch (const Error& e) {
    return failure(500, e.what());
  }
  conversation_.loop().post([this, p = *policy] { conversation_.workspace().setPolicy(p); });
  return WebAnswer{200, Json{{"riskPolicy", policy->toJson()}}};
}

WebAnswer ConversationPanel::models() {
  const Services& services = conversation_.services();
  LLMEnvironment environment = services.llm(SecureRandom::shared(), FileCredentialStore::shared());
  LLMCredentials credentials{FileCredentialStore::shared()};
  Json list = Json::array();
  for (const auto& provider : makeProviders(environment)) {
    const ProviderInfo& info = provider->info();
    Json p{{"id", info.id},
           {"name", info.name},
           {"kind", kindName(info.kind)},
           {"connected", info.kind == ProviderKind::local || credentials.load(info.id).has_value()},
           {"defaultModel", info.defaultModel},
           {"models", info.models},
           {"takesKey", info.takesKey}};
    // How the page offers to connect it: the browser sign-in first, else the
    // login another program holds.
    if (info.signInLabel) p["signIn"] = *info.signInLabel;
    else if (info.existingLoginLabel) p["signIn"] = *info.existingLoginLabel;
    if (info.unavailable) p["unavailable"] = *info.unavailable;
    list.push_back(std::move(p));
  }
  return WebAnswer{200, Json{{"providers", std::move(list)}}};
}

WebAnswer ConversationPanel::chooseModel(const Json& body) {
  auto provider = body.find("provider");
  if (provider == body.end() || !provider->is_string()) return failure(400, "Which provider?");
  std::string model = body.value("model", std::string());
  ChosenModel chosen;
  try {
    chosen = connectModel(conversation_.services(), provider->get<std::string>(), model);
  } catch (const Error& e) {
    return failure(409, e.what());
  }
  {
    std::lock_guard lock(mutex_);
    clients_.push_back(chosen.client);
  }
  conversation_.loop().post([this, chosen] {
    conversation_.workspace().setModel(ChatRouter::askWith(*chosen.client, chosen.model), chosen.name, chosen.providerID);
  });
  return WebAnswer{200, Json{{"model", chosen.name}, {"provider", chosen.providerID}}};
}

// A key is stored at once. A browser sign-in waits minutes for the user, so it
// runs on its own thread and its outcome comes as a "signIn" event and a chat
// line; an earlier credential stays until a new one arrives.
WebAnswer ConversationPanel::signIn(const Json& body) {
  auto id = body.find("provider");
  if (id == body.end() || !id->is_string()) return failure(400, "Which provider?");
  const std::string providerID = id->get<std::string>();
  const Services& services = conversation_.services();
  LLMEnvironment environment = services.llm(SecureRandom::shared(), FileCredentialStore::shared());
  LLMCredentials credentials{FileCredentialStore::shared()};
  std::unique_ptr<LLMProvider> provider;
  for (auto& p : makeProviders(environment))
    if (p->info().id == providerID) provider = std::move(p);
  if (!provider) return failure(404, "There is no model provider called " + providerID + ".");
  const ProviderInfo info = provider->info();
  if (info.unavailable) return failure(409, *info.unavailable);
  if (info.kind == ProviderKind::local) return failure(409, info.name + " needs no sign-in.");
  if (info.takesKey) {
    auto key = body.find("key");
    std::string text = key != body.end() && key->is_string() ? text::trimmed(key->get<std::string>()) : "";
    if (text.empty()) return failure(400, "Paste the " + info.name + " key first; nothing was changed.");
    try {
      credentials.save(info.id, Credential::apiKey(text));
    } catch (const Error& e) {
      wipeString(text);
      return failure(500, e.what());
    }
    wipeString(text);
    return WebAnswer{200, Json{{"provider", info.id}, {"connected", true}}};
  }
  if (!info.signInLabel && !info.existingLoginLabel) return failure(409, info.name + ": sign-in isn't supported.");
  std::lock_guard lock(mutex_);
  if (signIn_.joinable()) {
    if (signInRunning_) return failure(409, "A sign-in is already waiting in the browser.");
    signIn_.join();
  }
  signInRunning_ = true;
  signIn_ = std::thread([this, providerID, name = info.name, existing = !info.signInLabel] {
    const Services& services = conversation_.services();
    LLMEnvironment environment = services.llm(SecureRandom::shared(), FileCredentialStore::shared());
    environment.signInCancellation = &signInCancel_;
    std::string text;
    bool connected = false;
    try {
      for (auto& p : makeProviders(environment)) {
        if (p->info().id != providerID) continue;
        Credential credential = existing ? p->existingLogin() : p->signIn();
        LLMCredentials{FileCredentialStore::shared()}.save(providerID, credential);
        connected = true;
        text = "Connected " + name + ".";
      }
    } catch (const std::exception& e) {
      text = e.what();
    }
    signInRunning_ = false;
    if (signInCancel_.isCancelled()) return;  // the app is closing
    publish_(Json{{"kind", "signIn"}, {"data", Json{{"provider", providerID}, {"connected", connected}, {"text", text}}}});
    conversation_.loop().post([this, text] { conversation_.workspace().reply(text); });
  });
  return WebAnswer{202, Json{{"started", true}}};
}

// A token's month beside the chat: its deepest pool's daily candles.
WebAnswer ConversationPanel::tokenChart(const Json& body) {
  const std::string address = body.value("address", std::string());
  const Services& services = conversation_.services();
  try {
    Agent::TokenChart chart = Agent::tokenChart(
        address, {services.http, services.clock, services.endpoints.dexScreener, services.endpoints.geckoTerminal});
    Json list = Json::array();
    for (const auto& c : chart.candles) {
      list.push_back(Json{{"t", c.t}, {"o", c.open.toString()}, {"h", c.high.toString()}, {"l", c.low.toString()},
                          {"c", c.close.toString()}});
    }
    return WebAnswer{200, Json{{"coin", chart.symbol}, {"range", "month"}, {"chain", chart.chain},
                               {"pool", chart.pool}, {"candles", std::move(list)}}};
  } catch (const Error& e) {
    return failure(502, e.what());
  }
}

WebAnswer ConversationPanel::signer(const SignerRequest& request, const char* what) {
  SignerReply reply;
  try {
    reply = SignerClient(signer_).send(request);
  } catch (const Error& e) {
    return failure(503, e.what());
  }
  if (!reply.ok) return failure(409, reply.errorText());
  Json out = reply.toJson();
  out.erase("phrase");  // never shown here
  out["what"] = what;
  return WebAnswer{200, std::move(out)};
}

WebAnswer ConversationPanel::candles(const Json& body) {
  auto coin = body.find("coin");
  if (coin == body.end() || !coin->is_string() || coin->get<std::string>().empty()) return failure(400, "Which coin?");
  const std::string range = body.value("range", std::string("day"));
  ChartRange r = range == "month" ? ChartRange::month : range == "week" ? ChartRange::week : ChartRange::day;
  try {
    Json list = Json::array();
    for (const auto& c : Hyperliquid::candles(conversation_.services().hyperliquidInfo(), coin->get<std::string>(), r)) {
      list.push_back(Json{{"t", c.t ? Json(*c.t) : Json(nullptr)},
                          {"o", c.o ? Json(c.o->toString()) : Json(nullptr)},
                          {"h", c.h.toString()},
                          {"l", c.l.toString()},
                          {"c", c.c.toString()}});
    }
    return WebAnswer{200, Json{{"coin", *coin}, {"range", range}, {"candles", std::move(list)}}};
  } catch (const Error& e) {
    return failure(502, e.what());
  }
}

WebAnswer ConversationPanel::localSetup() {
  std::lock_guard lock(mutex_);
  if (setup_.joinable()) setup_.join();  // a finished one; a running one holds the setup lock below
  Language language = Language::english;
  conversation_.loop().sync([&] { language = conversation_.workspace().replyLanguage(); });
  setup_ = std::thread([this, language] {
    LocalSetupOptions options;
    options.language = language;
    auto progress = [this](const SetupEvent& e) {
      static constexpr const char* kKinds[] = {"status", "progress", "notice", "failure"};
      Json data{{"kind", kKinds[static_cast<int>(e.kind)]}, {"text", e.text}, {"percent", e.percent}};
      publish_(Json{{"kind", "setup"}, {"data", std::move(data)}});
      // The outcome is said in the chat too.
      if (e.kind == SetupEvent::Kind::notice || e.kind == SetupEvent::Kind::failure) {
        conversation_.loop().post([this, text = e.text] { conversation_.workspace().reply(text); });
      }
    };
    cmd::localSetup(conversation_.services()).setUpOllama(options, progress);
  });
  return WebAnswer{202, Json{{"started", true}}};
}

// The P/L block: the report, its lines and, per asset, the realised result
// the page draws as bars. The account is the one given, else the signer's.
WebAnswer ConversationPanel::pnl(const Json& body) {
  auto period = PnL::periodFromName(body.value("period", std::string("day")));
  if (!period) return failure(400, "The period is day, week, month or all.");
  std::optional<std::string> coin;
  if (auto c = body.find("coin"); c != body.end() && c->is_string() && !c->get<std::string>().empty()) {
    coin = c->get<std::string>();
  }
  std::string address = body.value("address", std::string());
  try {
    if (address.empty()) {
      SignerReply status = SignerClient(signer_).send(SignerRequest{signer_request::Status{}});
      if (!status.ok || !status.evmAddress) return failure(409, "The signer holds no Hyperliquid account to read.");
      address = *status.evmAddress;
    }
    PortfolioHistory history(conversation_.paths().dataDir / "portfolio-history.json");
    PnL::Report report =
        HyperliquidHistory::pnlReport(conversation_.services().hyperliquidInfo(), address, *period, coin, &history);
    Json out = PnL::toJson(report);
    out["lines"] = PnL::text(report);
    return WebAnswer{200, std::move(out)};
  } catch (const Error& e) {
    return failure(502, e.what());
  }
}

}  // namespace orwenna::cmd
