// `orwenna guardian run [--once]`: the guardian without the app — one pass
// over the stored exit rules (--once), or the background loop until stopped.
// Stops move through the signer like the app's; notices are printed and shown
// on the desktop.
#include <csignal>
#include <iostream>
#include <memory>

#include "app/app_executor.h"
#include "app/services.h"
#include "base/files.h"
#include "execution/guardian.h"
#include "hyperliquid/info.h"
#include "orwenna/command.h"
#include "platform/defaults.h"
#include "platform/desktop_notice.h"

namespace orwenna::cmd {
namespace {

struct GuardianOptions {
  bool once = false;
  bool testnet = false;
  std::string evm;
};

void runGuardian(const GuardianOptions& o) {
  AppPaths paths = AppPaths::fromEnvironment();
  paths.ensureExist();
  const Services services = Services::fromProcess();
  const bool testnet = o.testnet || services.hyperliquidTestnet;
  ExitRulesStore rules(Defaults::standard());
  if (rules.empty()) {
    std::cout << "No exit rules are stored: nothing to guard.\n";
    if (o.once) return;
  }
  TradeDesk desk(services, {SignerLocation::forApp(paths), paths.dataDir, {"", o.evm}, testnet, nullptr, {}});
  const Hyperliquid::InfoApi info{services.http, services.clock, services.endpoints.hyperliquid.root(!testnet)};
  Guardian guardian({desk.executor().orders(), rules, [info] { return Hyperliquid::loadMarketTable(info); },
                     [](const Notice& n) {
                       std::cout << n.title << ": " << n.text << '\n' << std::flush;
                       (void)notifyDesktop(n.title, n.text);
                     }});
  if (o.once) {
    Guardian::PassReport r = guardian.pass();
    if (!r.ran) throw CommandFailure("The account couldn't be read; no stop was moved and no rule removed.");
    for (const auto& c : r.removed) std::cout << "Rules of " << c << " removed: the position is closed.\n";
    if (r.moved.empty() && r.failures.empty()) std::cout << "No stop needed to move.\n";
    if (!r.failures.empty()) throw CommandFailure(r.failures.front());
    return;
  }
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  GuardianLoop loop(guardian, rules);
  loop.start();
  std::cout << "Guarding; stop with Ctrl-C.\n" << std::flush;
  int received = 0;
  sigwait(&signals, &received);
  loop.stop();
}

CommandRegistrar guardianRegistrar([](CLI::App& app) {
  auto o = std::make_shared<GuardianOptions>();
  CLI::App* guardian = app.add_subcommand("guardian", "the exit rules of open positions");
  CLI::App* run = guardian->add_subcommand("run", "move stops by the stored exit rules until stopped");
  run->add_flag("--once", o->once, "one pass, then exit");
  run->add_flag("--testnet", o->testnet, "Hyperliquid's testnet");
  run->add_option("--evm", o->evm, "the Hyperliquid account (default: the signer's active wallet)");
  run->callback([o] { runGuardian(*o); });
  guardian->require_subcommand(1);
});

}  // namespace
}  // namespace orwenna::cmd
