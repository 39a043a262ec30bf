// Scheduled runs end to end: the real orwenna-signer with its automation
// wallet, the app's automations round and Workspace, the send runner through
// the scoped signer, and a fake Solana node keeping balances. A due task
// signs from the automation wallet with no pinentry call; an untrusted one
// waits for Confirm; too little SOL stops the run with the top-up move.
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "app/app_executor.h"
#include "app/app_loop.h"
#include "app/automation_wallet.h"
#include "app/automations.h"
#include "app/send_moves.h"
#include "app/workspace.h"
#include "base/http.h"
#include "base/text.h"
#include "chains/spl.h"
#include "fakes/fake_ledgers.h"
#include "signer/real_signer_fixture.h"
#include "support/test_support.h"

namespace orwenna {
namespace automation_e2e {
namespace {

namespace sr = signer_request;

constexpr const char* kPhrase =
    "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon about";
const std::string kMom = "9WzDXwBbmkg8ZTbNMqUxvQRAyrZzDsGYdLVL9zYtAWWM";
const std::string kUsdc(SolanaPrograms::kUsdcMint);

class Book final : public AddressBook {
 public:
  std::vector<SavedAddress> entries() const override { return saved; }
  std::vector<SavedAddress> saved;
};

class ScheduledRunE2E : public testing::RealSignerTest {
 protected:
  void SetUp() override {
    RealSignerTest::SetUp();
    services.endpoints.solanaRpc = solana.node.url();
  }

  std::uint64_t usdcOf(const std::string& owner) {
    auto t = solana.token(SPL::associatedTokenAddress(owner, kUsdc, SolanaPrograms::kToken));
    return t ? t->amount : 0;
  }

  testing::FixedClock clock{1'804'957'200'000};
  testing::FakeSolanaLedger solana;
  Services services{CurlHttpClient::shared(), clock, Endpoints{}, std::nullopt, std::nullopt};
};

TEST_F(ScheduledRunE2E, ADueTaskSignsFromTheAutomationWalletAndAnUntrustedOneWaits) {
  // Import, saving Mom, creating the automation wallet: three approvals, no more.
  std::ofstream(dir.path() / "script") << "PIN correct horse\nOK\nOK\n";
  ASSERT_TRUE(send(sr::ImportMnemonic{kPhrase, "", false}).ok);
  ASSERT_TRUE(send(sr::SaveAddresses{{{"Mom", "solana", kMom, ""}}}).ok);
  SignerReply created = send(sr::CreateAutomationWallet{});
  ASSERT_TRUE(created.ok) << created.errorText();
  const std::size_t approvals = prompts();
  std::optional<SignerWallet> bot;
  for (const auto& w : created.wallets.value())
    if (w.automation.value_or(false)) bot = w;
  ASSERT_TRUE(bot && bot->solana);
  ASSERT_NE(created.solanaAddress, bot->solana);  // the user's wallet stays the active one

  paths.ensureExist();
  Book book;
  book.saved = {{"Mom", kMom, "solana"}};
  ScopedWalletSigner signer(location);
  Journal journal = Journal::inDataFolder(paths.dataDir);
  SendMoves sends(services, book, signer, journal,
                  [this] { return scopedAddresses(SignerClient(location).send(sr::Status{})); });
  AppExecutor executor(nullptr, {}, &sends);
  SignerAutomationWallet automationWallet(location, services, executor);

  AppLoop loop;
  AppAutomations::Setup setup(clock, SecureRandom::shared(), loop, SystemCalendar::shared());
  setup.dataDir = paths.dataDir;
  setup.defaults = Defaults(dir.path() / "defaults.json");
  setup.readMarks = [](const std::vector<std::string>&) { return std::map<std::string, Decimal, std::less<>>{}; };
  setup.signing = &automationWallet;
  AppAutomations automations(std::move(setup));
  Workspace::Services s(clock, SecureRandom::shared(), loop, paths.dataDir);
  s.lookup = [](const std::string&, const std::string&) { return std::string(); };
  s.executor = &executor;
  s.automations = &automations;
  std::unique_ptr<Workspace> ws;
  loop.sync([&] {
    ws = std::make_unique<Workspace>(std::move(s));
    automations.attach(ws.get());
  });
  auto round = [&] {
    (void)automations.tick();
    for (bool idle = false; !idle; std::this_thread::sleep_for(std::chrono::milliseconds(20)))
      loop.sync([&] { idle = ws->idle(); });
  };
  auto said = [&](const std::string& text) {
    bool found = false;
    loop.sync([&] {
      for (const auto& c : ws->canvases())
        for (const auto& m : c.messages) found = found || m.text == text;
    });
    return found;
  };
  auto due = [&](std::vector<std::string> steps, bool untrusted) {
    ScheduledTask t;
    t.id = makeUuid(SecureRandom::shared());
    t.steps = std::move(steps);
    t.next = clock.nowMillis() - 1;
    if (untrusted) t.untrusted = true;
    automations.tasks().add(t);
  };

  // The scheduling reply offers what now runs by itself.
  const std::string answer = [&] {
    std::string out;
    loop.sync([&] { out = automations.saveSchedule({"every day at 9:00", "send 2 USDC to Mom"}, ws->canvas().id); });
    return out;
  }();
  EXPECT_TRUE(answer.ends_with(" Its moves run by themselves from the automation wallet, no Touch ID.")) << answer;
  (void)automations.tasks().removeAll();

  // Too little SOL for fees: the run stops and offers the top-up, signing nothing.
  solana.fund(*bot->solana, 1'000'000);
  solana.fundToken(*bot->solana, kUsdc, 10'000'000);
  due({"send 2 USDC to Mom"}, false);
  round();
  EXPECT_TRUE(said("The automation wallet «" + bot->label +
                   "» holds 0.001 SOL — too little for Solana’s fees and the accounts a move opens. Send it 0.01 SOL "
                   "and the next run goes through."));
  std::vector<std::string> parked;
  loop.sync([&] {
    for (const auto& [canvas, card] : ws->parkedPending()) parked.push_back(card.command);
  });
  ASSERT_EQ(parked.size(), 1u);
  EXPECT_EQ(text::lowercased(parked[0]), "send 0.01 sol to " + text::lowercased(*bot->solana));
  EXPECT_EQ(usdcOf(kMom), 0u);

  // Enough SOL: the trusted task lands from the automation wallet, no prompt;
  // the untrusted one waits on its card.
  solana.fund(*bot->solana, 50'000'000);
  due({"send 2 USDC to Mom"}, false);
  due({"send 1 USDC to Mom"}, true);
  round();
  EXPECT_EQ(usdcOf(kMom), 2'000'000u);
  EXPECT_EQ(usdcOf(*bot->solana), 8'000'000u);
  EXPECT_EQ(prompts(), approvals);
  EXPECT_TRUE(said("From the automation wallet «" + bot->label + "», no Touch ID."));
  std::size_t waiting = 0;
  loop.sync([&] {
    for (const auto& [canvas, card] : ws->parkedPending())
      waiting += card.command == "send 1 USDC to Mom" && card.status == Workspace::Card::Status::waiting ? 1 : 0;
  });
  EXPECT_EQ(waiting, 1u);

  loop.sync([&] {
    automations.attach(nullptr);
    ws.reset();
  });
}

}  // namespace
}  // namespace automation_e2e
}  // namespace orwenna
