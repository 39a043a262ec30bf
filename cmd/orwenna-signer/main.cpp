// orwenna-signer: holds the wallets' keys and answers the app's signing
// requests on a Unix socket (see src/signer/signer_server.h). The app starts
// it when nothing answers; it leaves the app's session so closing a terminal
// does not end it, and runs until SIGTERM or SIGINT.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <optional>

#include "base/clock.h"
#include "base/files.h"
#include "base/http.h"
#include "platform/process.h"
#include "signer/pinentry.h"
#include "signer/screen_watch.h"
#include "signer/signer_server.h"
#include "signer/signer_service.h"

namespace {

std::atomic<bool> gStop{false};

extern "C" void onStopSignal(int) { gStop.store(true); }

}  // namespace

int main() {
  using namespace orwenna;
  ::signal(SIGPIPE, SIG_IGN);
  struct sigaction stop {};
  stop.sa_handler = onStopSignal;
  ::sigaction(SIGTERM, &stop, nullptr);
  ::sigaction(SIGINT, &stop, nullptr);
  if (::getsid(0) != ::getpid()) ::setsid();
  ::umask(077);
  try {
    const AppPaths paths = AppPaths::fromEnvironment();
    SignerSettings settings = SignerSettings::fromEnvironment(paths);
    settings.config.http = &CurlHttpClient::shared();
    ensureDirectory(settings.config.folder, 0700);
    ::chmod(settings.config.folder.c_str(), 0700);
    PinentryPrompter prompter(PinentryPrompter::locate().value_or(std::filesystem::path()), currentEnvironment(),
                              settings.promptLimit);
    SignerService service(settings.config, prompter, SystemClock::shared(), SecureRandom::shared());
    SignerServer server(paths.runtimeDir, service);
    std::optional<ScreenWatch> screen;
    if (auto gdbus = ScreenWatch::locate()) screen.emplace(*gdbus, [&service] { service.endSession(); });
    server.run(gStop);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orwenna-signer: %s\n", e.what());
    return 1;
  }
  return 0;
}
