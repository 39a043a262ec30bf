// The app's web interface over a Workspace whose outside world is scripted: a
// model that answers by the message (streaming its reply in pieces), a local
// market table, an address book with "bob", and an executor that only counts.
// It prints one JSON line — the opening URL and the sentences the browser
// test expects — then "EXECUTED n" for every execution, and ends on SIGTERM.
// Run by browser.test.mjs under headless Chromium.
#include <signal.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <mutex>
#include <thread>

#include "app/app_loop.h"
#include "app/automations.h"
#include "app/chat_replies.h"
#include "app/workspace.h"
#include "base/files.h"
#include "base/http.h"
#include "base/text.h"
#include "trading/risk_policy.h"
#include "fakes/fake_server.h"
#include "hyperliquid/info.h"
#include "web/web_assets.h"
#include "web/workspace_backend.h"

namespace orwenna {
namespace {

constexpr const char* kBob = "0x8617E340B3D01FA5F11F306F4090FD50E238070D";

std::string lastUserText(const std::vector<LLMMessage>& messages) {
  for (auto it = messages.rbegin(); it != messages.rend(); ++it) {
    if (it->role == LLMMessage::Role::user) return it->text;
  }
  return "";
}

// The model's prompt carries the recent chat too: the newest request is the
// one written last.
std::string answerFor(const std::string& prompt) {
  const std::string m = text::lowercased(prompt);
  const std::vector<std::pair<std::string, std::string>> answers = {
      {"long btc", R"({"route":"command","command":"long BTC risk $25 stop 2%"})"},
      {"send 5 usdc to bob", R"({"route":"command","command":"send 5 USDC to bob"})"},
      {"hello", R"({"route":"chat","reply":"Hello! I can size a trade, move money between your wallets, or read your balances."})"},
      {"slow", R"({"route":"chat","reply":"That took a while."})"},
      {"chart btc", R"({"route":"command","command":"chart BTC week"})"},
      {"show token", R"({"route":"command","command":"show token DezXAZ8z7PnrnRJjz3wXBoRgixCa6xjnB7YaB1pPB263"})"},
  };
  std::size_t best = 0;
  std::string answer = answers[2].second;
  for (const auto& [key, value] : answers) {
    auto at = m.rfind(key);
    if (at != std::string::npos && at + 1 > best) {
      best = at + 1;
      answer = value;
    }
  }
  return answer;
}

class CountingExecutor final : public MoneyExecutor {
 public:
  ExecutionResult execute(const std::vector<PendingAction>& steps) override {
    const int n = ++runs_;
    {
      static std::mutex out;
      std::lock_guard lock(out);
      std::cout << "EXECUTED " << n << std::endl;
    }
    return ExecutionResult{ExecutionResult::Outcome::done, "Sent.", {"signed " + std::to_string(steps.size()) + " step"}, {}};
  }

 private:
  std::atomic<int> runs_{0};
};

class Book final : public AddressBook {
 public:
  std::vector<SavedAddress> entries() const override { return {{"bob", kBob, "base"}}; }
};

// The screens around the chat, with fixed answers: two providers, a policy,
// and a week of made-up candles.
class FakePanel final : public AppPanel {
 public:
  FakePanel(AppLoop& loop, Workspace*& workspace) : loop_(loop), workspace_(workspace) {}
  std::optional<WebAnswer> act(std::string_view action, const Json& body) override {
    if (action == "models") {
      Json answer = Json::parse(R"({"providers":[
          {"id":"scripted","name":"Scripted","kind":"apiKey","connected":true,"defaultModel":"s-1","models":[]},
          {"id":"other","name":"Other Model","kind":"apiKey","connected":true,"defaultModel":"o-1","models":[]},
          {"id":"absent","name":"Absent","kind":"apiKey","connected":false,"takesKey":true,"defaultModel":"a-1","models":[]}]})");
      answer["providers"][2]["connected"] = absentKey_ == "sk-browser-test";
      return WebAnswer{200, std::move(answer)};
    }
    if (action == "signIn") {
      if (body.value("provider", std::string()) != "absent") return WebAnswer{404, Json{{"error", "No such provider."}}};
      absentKey_ = body.value("key", std::string());
      if (absentKey_.empty()) return WebAnswer{400, Json{{"error", "Paste the Absent key first; nothing was changed."}}};
      return WebAnswer{200, Json{{"provider", "absent"}, {"connected", true}}};
    }
    if (action == "chooseModel") {
      const std::string name = body.value("provider", std::string()) == "other" ? "Other Model" : "Scripted";
      loop_.post([this, name] {
        workspace_->setModel([](const std::vector<LLMMessage>&, bool, const PartialText&) {
          return std::string(R"({"route":"chat","reply":"Other here."})");
        }, name, std::string("other"));
      });
      return WebAnswer{200, Json{{"model", name}}};
    }
    if (action == "settings") {
      return WebAnswer{200, Json{{"riskPolicy", RiskPolicy{}.toJson()}, {"testnet", false},
                                 {"endpoints", Json{{"ORWENNA_HL_API", "http://127.0.0.1:1"}}}}};
    }
    if (action == "tokenChart") {
      if (body.value("address", std::string()) != "DezXAZ8z7PnrnRJjz3wXBoRgixCa6xjnB7YaB1pPB263")
        return WebAnswer{502, Json{{"error", "DexScreener knows no pool trading that."}}};
      Json list = Json::array();
      for (int i = 0; i < 30; ++i) {
        const std::string base = "0.0000" + std::to_string(2100 + (i % 5) * 40 - (i % 3) * 25);
        list.push_back(Json{{"t", 1800000000000LL + i * 86400000LL}, {"o", base}, {"h", "0.00002600"},
                            {"l", "0.00001900"}, {"c", "0.0000" + std::to_string(2150 + (i % 4) * 30)}});
      }
      return WebAnswer{200, Json{{"coin", "Bonk"}, {"range", "month"}, {"candles", std::move(list)}}};
    }
    if (action == "candles") {
      Json list = Json::array();
      for (int i = 0; i < 40; ++i) {
        const int base = 90000 + (i % 7) * 150 - (i % 3) * 90;
        list.push_back(Json{{"t", 1800000000000LL + i * 3600000LL}, {"o", std::to_string(base)},
                            {"h", std::to_string(base + 260)}, {"l", std::to_string(base - 240)},
                            {"c", std::to_string(base + ((i % 2) ? 120 : -110))}});
      }
      return WebAnswer{200, Json{{"coin", body.value("coin", "")}, {"range", body.value("range", "day")},
                                 {"candles", std::move(list)}}};
    }
    return std::nullopt;
  }

 private:
  AppLoop& loop_;
  Workspace*& workspace_;
  std::string absentKey_;
};

int run() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  testing::FakeServer info;
  info.on("POST", "/info", [](const testing::RecordedRequest& r) {
    if (r.body.find("perpDexs") != std::string::npos) return testing::FakeResponse::json("[null]");
    return testing::FakeResponse::json(R"([{"universe":[
        {"szDecimals":5,"name":"BTC","maxLeverage":40},
        {"szDecimals":4,"name":"ETH","maxLeverage":25}]},
      [{"funding":"0.0000125","prevDayPx":"90000.0","dayNtlVlm":"2500000000.5","markPx":"91012.0"},
       {"funding":"0.00001","prevDayPx":"3000.0","dayNtlVlm":"900000000.0","markPx":"3012.5"}]])");
  });
  Hyperliquid::InfoApi infoApi{CurlHttpClient::shared(), SystemClock::shared(), info.url()};
  std::once_flag loaded;
  std::shared_ptr<const MarketTable> table;

  AppPaths paths = AppPaths::fromEnvironment();
  paths.ensureExist();
  AppLoop loop;
  CountingExecutor executor;
  Book book;
  Workspace::Services s(SystemClock::shared(), SecureRandom::shared(), loop, paths.dataDir);
  s.modelName = "Scripted";
  s.ask = [](const std::vector<LLMMessage>& messages, bool, const PartialText& onText) {
    const std::string message = lastUserText(messages);
    const std::string answer = answerFor(message);
    if (answer.find("a while") != std::string::npos) std::this_thread::sleep_for(std::chrono::seconds(4));
    // Pieces with pauses, so the page shows the reply growing.
    for (std::size_t i = 12; i < answer.size(); i += 12) {
      if (onText) onText(answer.substr(0, i));
      std::this_thread::sleep_for(std::chrono::milliseconds(60));
    }
    return answer;
  };
  s.lookup = [](const std::string&, const std::string&) { return std::string("nothing found"); };
  s.markets = [&] {
    std::call_once(loaded, [&] { table = std::make_shared<const MarketTable>(Hyperliquid::loadMarketTable(infoApi)); });
    return table;
  };
  s.modelSecondReader = false;
  s.addressBook = &book;
  s.executor = &executor;

  // The alerts board: two alerts and a task armed, marks read once.
  AppAutomations::Setup a(SystemClock::shared(), SecureRandom::shared(), loop, SystemCalendar::shared());
  a.dataDir = paths.dataDir;
  a.defaults = Defaults(paths.configDir / "defaults.json");
  a.markets = s.markets;
  a.readMarks = [markets = s.markets](const std::vector<std::string>&) {
    std::map<std::string, Decimal, std::less<>> marks;
    for (const char* coin : {"BTC", "ETH"})
      if (const Market* m = markets()->find(coin)) marks[coin] = m->markPx;
    return marks;
  };
  AppAutomations automations(std::move(a));
  s.automations = &automations;

  std::unique_ptr<Workspace> workspace;
  loop.sync([&] {
    workspace = std::make_unique<Workspace>(std::move(s));
    automations.attach(workspace.get());
    (void)automations.saveAlert(AlertCommand{AlertCommand::set{"BTC", Decimal(95000), true, {}}}, "");
    (void)automations.saveAlert(AlertCommand{AlertCommand::set{"ETH", Decimal(2500), false, {"buy SOL for 10 USDC"}}}, "");
    (void)automations.saveSchedule({"every monday at 9:00", "buy SOL for 10 USDC"}, "");
  });
  (void)automations.tick();
  Workspace* current = workspace.get();
  FakePanel panel(loop, current);
  WorkspaceBackend backend(loop, *workspace, &panel);
  backend.setAutomations(&automations);
  WebServer server(backend, webAssets(), SecureRandom::shared(), SystemClock::shared(), WebServer::Options{});
  backend.attach(server);
  server.start();
  std::cout << Json{{"url", server.openUrl()},
                    {"stopped", Replies::stopped(Language::english)},
                    {"yesNothingRu", Replies::yesNothingWaiting(Language::russian)}}
                   .dump()
            << std::endl;

  int received = 0;
  sigwait(&signals, &received);
  loop.sync([&] {
    workspace->setListener(nullptr);
    automations.attach(nullptr);
  });
  server.stop();
  loop.sync([&] {
    workspace->flush();
    workspace.reset();
  });
  loop.stop();
  return 0;
}

}  // namespace
}  // namespace orwenna

int main() { return orwenna::run(); }
