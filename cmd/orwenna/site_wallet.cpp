#include "orwenna/site_wallet.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>

#include "base/files.h"
#include "base/log.h"
#include "signing/signer_client.h"
#include "web/site_browser.h"

namespace orwenna::cmd {

namespace {

// MetaMask's list as last saved in the data folder; empty when there is none.
PhishingList loadPhishingList(const std::filesystem::path& dataDir) {
  try {
    if (auto text = readFile(dataDir / "phishing.json")) {
      if (auto json = parseJson(*text)) return PhishingList::fromJson(*json);
    }
  } catch (const std::exception& e) {
    log::warn("site wallet: the phishing list couldn't be read: {}", e.what());
  }
  return {};
}

struct WalletCache {
  std::mutex mutex;
  std::optional<SiteWallet> wallet;
  std::int64_t at = 0;
};

std::filesystem::path besideThisProgram(const char* name) {
  std::error_code ec;
  auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path(name) : self.parent_path() / name;
}

}  // namespace

SiteWalletService::SiteWalletService(Conversation& conversation, WorkspaceBackend& backend,
                                     std::function<void(const Json&)> publish)
    : conversation_(conversation) {
  const AppPaths& paths = conversation.paths();
  const SignerLocation signer = SignerLocation::forApp(paths);
  auto phishing = loadPhishingList(paths.dataDir);
  AppLoop& loop = conversation.loop();
  Workspace* workspace = &conversation.workspace();
  auto activity = [&loop, workspace](const std::string& line) {
    loop.post([workspace, line] {
      Activity a;
      a.id = makeUuid(SecureRandom::shared());
      a.at = SystemClock::shared().nowMillis();
      a.kind = Activity::Kind::automatic;
      a.title = "Site wallet";
      a.lines = {line};
      workspace->log(std::move(a));
    });
  };
  bridge_ = std::make_unique<SiteBridge>(SiteBridge::Setup{
      conversation.services(), conversation.sendSigner(),
      [signer](const SignerRequest& request) { return SignerClient(signer).send(request); },
      // Pages poll the node many times a second: the signer is asked about
      // the active wallet at most every two seconds.
      [signer, cache = std::make_shared<WalletCache>()] {
        std::lock_guard lock(cache->mutex);
        const std::int64_t now = SystemClock::shared().monotonicMillis();
        if (!cache->wallet || now - cache->at > 2000) {
          SignerReply status = SignerClient(signer).send(signer_request::Status{});
          const SignerWallet* active = status.activeWalletRecord();
          cache->wallet = SiteWallet{status.solanaAddress, status.evmAddress, active && active->kind == "ledger"};
          cache->at = now;
        }
        return *cache->wallet;
      },
      conversation.journal(), phishing, activity, [publish] { publish(Json{{"kind", "site"}, {"data", Json::object()}}); }});
  backend.setSiteBridge(bridge_.get());

  const auto socketPath = paths.runtimeDir / SiteSocket::kSocketName;
  socket_ = std::make_unique<SiteSocket>(*bridge_, socketPath);
  try {
    socket_->start();
  } catch (const SiteSocketError& e) {
    log::warn("site wallet: {}", e.what());
  }
  const auto dataDir = paths.dataDir;
  backend.onOpenSite([&loop, workspace, phishing, dataDir, socketPath](const std::string& site) {
    auto url = SiteBrowser::siteURL(site);
    auto origin = url ? SiteOrigin::parse(url->substr(0, url->find('/', url->find("://") + 3))) : std::nullopt;
    std::string refusal;
    if (!url || !origin) {
      refusal = "“" + site + "” isn't a site address.";
    } else if (phishing.blocked(origin->host)) {
      log::warn("orwenna browser: blocked {} (phishing list)", origin->host);
      refusal = origin->host +
                " is on MetaMask's list of phishing sites, so orwenna didn't open it and offers it no wallet. If you "
                "typed it, check the address letter by letter.";
    } else {
      try {
        SiteBrowser::open(dataDir, besideThisProgram(SiteBrowser::kHostProgram), socketPath, *url);
      } catch (const SiteBrowserError& e) {
        refusal = e.what();
      }
    }
    if (!refusal.empty()) loop.post([workspace, refusal] { workspace->reply(refusal); });
  });
}

SiteWalletService::~SiteWalletService() {
  if (socket_) socket_->stop();
  socket_.reset();
  bridge_.reset();
}

}  // namespace orwenna::cmd
