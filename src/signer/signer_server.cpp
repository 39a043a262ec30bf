#include "signer/signer_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/defaults.h"
#include "signing/secret.h"
#include "signing/signer_client.h"

namespace orwenna {

namespace {

std::optional<int> testKnob(const char* name, int low, int high) {
  const char* test = std::getenv("ORWENNA_TEST");
  const char* value = std::getenv(name);
  if (!test || !*test || !value) return std::nullopt;
  int n = 0;
  for (const char* c = value; *c; ++c) {
    if (*c < '0' || *c > '9' || n > high) return std::nullopt;
    n = n * 10 + (*c - '0');
  }
  if (n < low || n > high) return std::nullopt;
  return n;
}

// A service root as the app resolves it: the variable, else the same name
// under "endpoints" in defaults.json, else the public root.
std::string serviceRoot(const char* variable, const char* publicRoot) {
  std::string root;
  if (const char* value = std::getenv(variable); value && *value) {
    root = value;
  } else if (auto endpoints = Defaults::standard().value("endpoints");
             endpoints && endpoints->is_object() && endpoints->contains(variable) && (*endpoints)[variable].is_string()) {
    root = (*endpoints)[variable].get<std::string>();
  }
  if (root.empty()) root = publicRoot;
  while (root.ends_with('/')) root.pop_back();
  return root;
}

[[noreturn]] void fail(const std::string& what) {
  throw SignerServiceError("The signer could not " + what + ": " + std::strerror(errno) + ".");
}

}  // namespace

SignerSettings SignerSettings::fromEnvironment(const AppPaths& paths) {
  SignerSettings s;
  s.config.folder = paths.dataDir / "signer";
  if (auto n = testKnob("ORWENNA_SIGNER_SCRYPT_LOG2N", ScryptParams::kMinLog2N, ScryptParams::kMaxLog2N)) {
    s.config.scryptLog2N = *n;
  }
  s.config.relayApi = serviceRoot("ORWENNA_RELAY_API", "https://api.relay.link");
  s.config.oneClickApi = serviceRoot("ORWENNA_ONECLICK_API", "https://1click.chaindefuser.com");
  if (auto seconds = testKnob("ORWENNA_SIGNER_PROMPT_SECONDS", 1, 120)) {
    s.promptLimit = std::chrono::seconds(*seconds);
  }
  return s;
}

bool peerAllowed(int fd, uid_t self) { return isSameUser(peerUid(fd), self); }

SignerServer::SignerServer(const std::filesystem::path& runtimeDir, SignerService& service) : service_(service) {
  ensureDirectory(runtimeDir, 0700);
  if (::chmod(runtimeDir.c_str(), 0700) != 0) fail("protect " + runtimeDir.string());
  socket_ = runtimeDir / SignerLocation::kSocketName;

  const auto lockPath = runtimeDir / kLockName;
  lock_ = UniqueFd(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!lock_) fail("open " + lockPath.string());
  if (::flock(lock_.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) throw SignerServiceError("Another signer is running.");
    fail("lock " + lockPath.string());
  }
  std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(lock_.get(), 0) != 0 || ::pwrite(lock_.get(), pid.data(), pid.size(), 0) < 0) {
    fail("write " + lockPath.string());
  }

  // We hold the lock: any socket file left here belongs to a signer that died.
  ::unlink(socket_.c_str());
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = socket_.string();
  if (path.size() >= sizeof address.sun_path) {
    throw SignerServiceError("The signer's socket path is too long: " + path + ".");
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  listener_ = UniqueFd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!listener_) fail("make its socket");
  // The socket is created 0600 under this mask, never wider even for a moment.
  const mode_t previous = ::umask(0177);
  const int bound = ::bind(listener_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
  ::umask(previous);
  if (bound != 0) fail("bind " + path);
  if (::chmod(socket_.c_str(), 0600) != 0) fail("protect " + path);
  if (::listen(listener_.get(), 64) != 0) fail("listen on " + path);
}

SignerServer::~SignerServer() {
  if (listener_) ::unlink(socket_.c_str());
  // Connection threads hold a reference to the service; let them finish. One
  // still waiting on a prompt after that would outlive the service, so the
  // process ends here instead of tearing the service down under it.
  for (int i = 0; i < 200 && connections_.load() > 0; ++i) ::usleep(10'000);
  if (connections_.load() > 0) std::_Exit(0);
}

void SignerServer::serve(int fd, SignerService& service) {
  SignerReply reply;
  std::string text;
  try {
    text = readFrame(fd, kMaxSignerFrameBytes, std::chrono::duration_cast<std::chrono::milliseconds>(kRequestTimeLimit));
  } catch (const SignerTransportError&) {
    return;
  }
  auto json = parseJson(text);
  wipeString(text);
  if (!json) {
    reply = SignerReply::refusal("The request is not JSON.");
  } else {
    try {
      SignerRequest request = SignerRequest::fromJson(*json);
      wipeJsonStrings(*json);
      reply = service.handle(request);
    } catch (const Error& e) {
      wipeJsonStrings(*json);
      reply = SignerReply::refusal(e.what());
    }
  }
  Json out = reply.toJson();
  std::string outText = out.dump();
  try {
    writeFrame(fd, outText);
  } catch (const SignerTransportError&) {
  }
  if (reply.phrase) {
    wipeJsonStrings(out);
    wipeString(outText);
  }
}

void SignerServer::run(const std::atomic<bool>& stop) {
  const uid_t self = ::getuid();
  while (!stop.load()) {
    pollfd p{listener_.get(), POLLIN, 0};
    int rc = ::poll(&p, 1, 200);
    if (rc <= 0) continue;
    UniqueFd connection(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!connection) continue;
    if (!peerAllowed(connection.get(), self)) continue;  // closed unanswered
    if (connections_.load() >= kMaxConnections) continue;
    connections_.fetch_add(1);
    std::thread([this, fd = connection.release()] {
      UniqueFd owned(fd);
      serve(owned.get(), service_);
      connections_.fetch_sub(1);
    }).detach();
  }
}

}  // namespace orwenna
