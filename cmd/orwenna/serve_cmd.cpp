// `orwenna` (no arguments) and `orwenna serve [--port N] [--no-browser]
// [--background]`: the app. In the background (keep-running's service) no
// browser opens and an app already running is left alone. One instance per user: a lock in the runtime folder; a second start
// asks the running one for a fresh opening link and opens that. The page is
// served on 127.0.0.1 and opened in the browser at a link with a one-time
// code, which is also printed for a person on a headless machine. SIGTERM,
// SIGINT and SIGHUP save every pending file before the app ends.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <iostream>
#include <memory>
#include <thread>

#include <fmt/format.h>

#include "base/bytes.h"
#include "base/http.h"
#include "base/log.h"
#include "execution/bridge_recovery.h"
#include "orwenna/app_panel.h"
#include "orwenna/command.h"
#include "orwenna/conversation.h"
#include "orwenna/site_wallet.h"
#include "platform/process.h"
#include "web/web_assets.h"
#include "web/workspace_backend.h"

namespace orwenna::cmd {

namespace {

struct ServeOptions {
  ConversationOptions conversation;
  int port = 0;
  bool noBrowser = false;
  bool background = false;
};

void openBrowser(const std::string& url) {
  if (auto opener = findProgram("xdg-open")) {
    try {
      spawnDetached(*opener, {url});
    } catch (const Error& e) {
      log::warn("couldn't open the browser: {}", e.what());
    }
  }
}

// The running instance, told by the file it wrote beside its lock.
void openRunning(const AppPaths& paths, bool noBrowser) {
  auto text = readFile(paths.runtimeDir / "app.json");
  auto json = text ? parseJson(*text) : std::nullopt;
  if (!json || !json->is_object()) throw CommandFailure("orwenna is already running, but it didn't say where.");
  const std::string url = fmt::format("http://127.0.0.1:{}/api/open-url?key={}", json->value("port", 0),
                                      json->value("launchKey", std::string()));
  HttpRequest request;
  request.url = url;
  request.headers = {{"Host", fmt::format("127.0.0.1:{}", json->value("port", 0))}};
  request.timeout = std::chrono::milliseconds(5000);
  HttpResponse response;
  try {
    response = CurlHttpClient::shared().send(request);
  } catch (const NetError& e) {
    throw CommandFailure(std::string("orwenna is already running, but it doesn't answer: ") + e.what());
  }
  auto answer = parseJson(response.body);
  if (!response.ok() || !answer || !answer->contains("url")) {
    throw CommandFailure("orwenna is already running, but it didn't give a link.");
  }
  const std::string link = answer->at("url").get<std::string>();
  std::cout << "orwenna is already running. Open it at:\n  " << link << std::endl;
  if (!noBrowser) openBrowser(link);
}

// Bridge moves a crash or a quit left open, settled in the background.
void settleBridges(const Conversation& conversation) {
  try {
    Journal journal = Journal::inDataFolder(conversation.paths().dataDir);
    HttpBridgeStatus source(conversation.services().http, conversation.services().endpoints.relay,
                            conversation.services().endpoints.oneClick);
    auto result = BridgeRecovery::run(journal, source, conversation.services().clock.nowMillis());
    for (const auto& e : result.appended) log::info("journal: {} {} {} {}", e.chain, e.id, Journal::kindName(e.kind), e.note);
    for (const auto& why : result.unreadable) log::warn("journal: couldn't read the status of {}", why);
  } catch (const std::exception& e) {
    log::warn("journal: bridge recovery stopped: {}", e.what());
  }
}

void runServe(const ServeOptions& options) {
  AppPaths paths = AppPaths::fromEnvironment();
  paths.ensureExist();
  const auto lockPath = paths.runtimeDir / "app.lock";
  int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock < 0) throw CommandFailure("Can't create " + lockPath.string() + ".");
  if (::flock(lock, LOCK_EX | LOCK_NB) != 0) {
    ::close(lock);
    if (options.background) return;  // it runs already: nothing to start
    openRunning(paths, options.noBrowser);
    return;
  }

  // The signals wait for the main thread; every thread started below inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  Conversation conversation(options.conversation);
  Bytes key(32);
  SecureRandom::shared().fill(key);
  WebServer::Options serverOptions;
  serverOptions.port = options.port;
  serverOptions.launchKey = toHex(key);
  // Set while the server exists; the panel's setup thread may outlive its stop.
  std::atomic<WebServer*> published{nullptr};
  ConversationPanel panel(conversation, [&published](const Json& event) {
    if (WebServer* server = published.load()) server->publish(event);
  });
  WorkspaceBackend backend(conversation.loop(), conversation.workspace(), &panel);
  backend.setAutomations(&conversation.automations());
  WebServer server(backend, webAssets(), SecureRandom::shared(), SystemClock::shared(), serverOptions);
  published.store(&server);
  SiteWalletService siteWallet(conversation, backend, [&published](const Json& event) {
    if (WebServer* server = published.load()) server->publish(event);
  });
  backend.attach(server);
  const int port = server.start();
  writeFileAtomically(paths.runtimeDir / "app.json",
                      Json{{"port", port}, {"launchKey", *serverOptions.launchKey}, {"pid", ::getpid()}}.dump());

  std::thread recovery([&conversation] {
    settleBridges(conversation);
    // May wait on the signer for the account: never on the main thread.
    conversation.startGuardian();
  });
  const std::string link = server.openUrl();
  std::cout << "orwenna is running. Open it at:\n  " << link << std::endl;
  if (!options.noBrowser && !options.background) openBrowser(link);

  int received = 0;
  sigwait(&signals, &received);
  log::info("stopping on signal {}", received);
  recovery.join();
  std::error_code ignored;
  std::filesystem::remove(paths.runtimeDir / "app.json", ignored);
  conversation.loop().sync([&] { conversation.workspace().setListener(nullptr); });
  published.store(nullptr);
  server.stop();
  ::close(lock);
}

CommandRegistrar serveRegistrar([](CLI::App& app) {
  auto options = std::make_shared<ServeOptions>();
  CLI::App* sub = app.add_subcommand("serve", "start the app: the chat in your browser (also what `orwenna` alone does)");
  sub->add_option("--port", options->port, "the port on 127.0.0.1 (default: any free one)");
  sub->add_flag("--no-browser", options->noBrowser, "print the link instead of opening the browser");
  sub->add_flag("--background", options->background,
                "run without opening the browser, for keep-running; do nothing when the app already runs");
  sub->add_option("--provider", options->conversation.provider, "model provider id (default: the first connected)");
  sub->add_option("--model", options->conversation.model, "model id (default: the provider's default)");
  sub->add_option("--evm", options->conversation.evm, "your EVM / Hyperliquid address, for balances");
  sub->add_option("--solana", options->conversation.solana, "your Solana address, for balances");
  sub->callback([options] { runServe(*options); });
});

}  // namespace

}  // namespace orwenna::cmd
