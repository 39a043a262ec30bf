// The site wallet for the browser test: the web interface over a Workspace,
// a SiteBridge over fake Solana and EVM nodes that keep balances and a test
// signer, its socket, and the app's own browser folder (the unpacked
// extension and the native-messaging host entry) prepared as `open SITE`
// prepares it. Prints one JSON line with what the test needs, then "OPEN
// SITE" for each site the chat asks to open; ends on SIGTERM.
// Usage: site_harness PATH-TO-orwenna-site-host
#include <signal.h>

#include <iostream>
#include <mutex>

#include "app/app_loop.h"
#include "app/site_bridge.h"
#include "app/workspace.h"
#include "base/files.h"
#include "base/http.h"
#include "fakes/chain_test_signer.h"
#include "fakes/fake_ledgers.h"
#include "signing/typed_data.h"
#include "web/site_browser.h"
#include "web/site_socket.h"
#include "web/web_assets.h"
#include "web/workspace_backend.h"

namespace orwenna {
namespace {

// Messages and typed data signed with ChainTestSigner's keys.
SignerReply signWithTestKeys(const SignerRequest& request) {
  Bytes evmKey(32), solanaKey(32);
  for (std::size_t i = 0; i < 32; ++i) {
    solanaKey[i] = static_cast<std::uint8_t>(i + 1);
    evmKey[i] = static_cast<std::uint8_t>(0x40 + i);
  }
  SignerReply r;
  r.ok = true;
  if (auto* p = request.get<signer_request::SignPersonal>()) {
    r.signatureBytes = EVMSigner::sign(PersonalMessage::hash(p->message), evmKey).bytes();
  } else if (auto* t = request.get<signer_request::SignTypedData>()) {
    r.signatureBytes = EVMSigner::sign(TypedData::parse(std::string(t->json.begin(), t->json.end())).digest, evmKey).bytes();
  } else if (auto* m = request.get<signer_request::SignSolanaMessage>()) {
    auto s = Ed25519::sign(solanaKey, m->message);
    r.signatureBytes = Bytes(s.begin(), s.end());
  } else {
    return SignerReply::refusal("not here");
  }
  return r;
}

std::mutex outMutex;
void say(const std::string& line) {
  std::lock_guard lock(outMutex);
  std::cout << line << std::endl;
}

int run(const std::filesystem::path& hostProgram) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  AppPaths paths = AppPaths::fromEnvironment();
  paths.ensureExist();
  testing::FakeSolanaLedger solana;
  testing::FakeEVMLedger evm{8453};
  testing::ChainTestSigner signer;
  solana.fund(signer.solana, 2'000'000'000);
  evm.fund(signer.evm, UInt256(50'000'000'000'000'000ULL));
  Endpoints endpoints;
  endpoints.solanaRpc = solana.node.url();
  endpoints.evmNodes["base"] = {evm.node.url()};
  Services services{CurlHttpClient::shared(), SystemClock::shared(), endpoints, std::nullopt, std::nullopt};
  Journal journal{paths.dataDir / "journal.jsonl"};

  AppLoop loop;
  Workspace::Services s(SystemClock::shared(), SecureRandom::shared(), loop, paths.dataDir);
  s.lookup = [](const std::string&, const std::string&) { return std::string("nothing found"); };
  s.modelSecondReader = false;
  std::unique_ptr<Workspace> workspace;
  loop.sync([&] { workspace = std::make_unique<Workspace>(std::move(s)); });
  WorkspaceBackend backend(loop, *workspace);
  WebServer server(backend, webAssets(), SecureRandom::shared(), SystemClock::shared(), WebServer::Options{});

  SiteBridge bridge(SiteBridge::Setup{
      services, signer, signWithTestKeys, [&] { return SiteWallet{signer.solana, signer.evm, false}; }, journal,
      PhishingList::fromJson(Json::parse(R"({"blacklist": ["drainer.test"]})")),
      [](const std::string& line) { say("ACTIVITY " + line); },
      [&server] { server.publish(Json{{"kind", "site"}, {"data", Json::object()}}); }});
  backend.setSiteBridge(&bridge);
  backend.onOpenSite([](const std::string& site) { say("OPEN " + site); });
  backend.attach(server);
  server.start();

  const auto socketPath = paths.runtimeDir / SiteSocket::kSocketName;
  SiteSocket socket(bridge, socketPath);
  socket.start();
  SiteBrowser::Layout layout = SiteBrowser::prepare(paths.dataDir, hostProgram, socketPath);
  say(Json{{"url", server.openUrl()},
           {"extension", layout.extension.string()},
           {"profile", layout.profile.string()},
           {"evm", signer.evm},
           {"solana", signer.solana},
           {"solanaNode", solana.node.url()},
           {"evmNode", evm.node.url()}}
          .dump());

  int received = 0;
  sigwait(&signals, &received);
  socket.stop();
  loop.sync([&] { workspace->setListener(nullptr); });
  server.stop();
  loop.sync([&] { workspace.reset(); });
  loop.stop();
  return 0;
}

}  // namespace
}  // namespace orwenna

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  return orwenna::run(argv[1]);
}
