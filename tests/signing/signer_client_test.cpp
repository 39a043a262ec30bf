// The app's signer client against a fake signer on a real Unix socket: the
// exact "unavailable" sentence, starting the signer when nothing answers, the
// debug interface's limits, asWallet wrapping and the waiting count.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <thread>

#include "signing/signer_client.h"
#include "signing/signer_socket.h"
#include "signing/trade_signer.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

namespace sr = signer_request;
using testing::errorOf;
using testing::TempDir;

// Answers each connection's one request with `handler`, and keeps what came.
class FakeSigner {
 public:
  using Handler = std::function<SignerReply(const SignerRequest&)>;

  FakeSigner(std::filesystem::path socket, Handler handler) : socket_(std::move(socket)), handler_(std::move(handler)) {}
  ~FakeSigner() { stop(); }

  void start() {
    listener_ = UniqueFd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, socket_.c_str());
    ASSERT_EQ(::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(listener_.get(), 8), 0);
    thread_ = std::thread([this] { serve(); });
  }

  void stop() {
    if (!thread_.joinable()) return;
    stopping_ = true;
    ::shutdown(listener_.get(), SHUT_RDWR);
    thread_.join();
  }

  std::vector<std::string> received() {
    std::lock_guard lock(mutex_);
    return received_;
  }

 private:
  void serve() {
    while (!stopping_) {
      UniqueFd connection(::accept(listener_.get(), nullptr, nullptr));
      if (!connection) return;
      try {
        auto request = SignerRequest::fromJson(*parseJson(readFrame(connection.get())));
        {
          std::lock_guard lock(mutex_);
          received_.push_back(request.toJson().dump());
        }
        writeFrame(connection.get(), handler_(request).toJson().dump());
      } catch (const std::exception&) {
      }
    }
  }

  std::filesystem::path socket_;
  Handler handler_;
  UniqueFd listener_;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::vector<std::string> received_;
};

SignerReply okReply() {
  SignerReply reply;
  reply.ok = true;
  return reply;
}

SignerReply statusWith(bool testWallet) {
  SignerReply reply = okReply();
  reply.wallets = std::vector<SignerWallet>{
      {"W1", "Main", "phrase", "So1", "0xE", "n.near", testWallet ? std::optional(true) : std::nullopt, std::nullopt}};
  reply.activeWallet = "W1";
  return reply;
}

TEST(SignerClient, NoSignerGivesTheUnavailableSentence) {
  TempDir dir;
  SignerLocation location{dir.path() / "signer.sock", dir.path() / "orwenna-signer"};
  EXPECT_FALSE(SignerClient::isAvailable(location));
  testing::FixedClock clock;
  SignerClient client(location, clock);
  const std::string message = errorOf([&] { (void)client.send(sr::Status{}); });
  EXPECT_EQ(message, "The signer is unavailable: nothing answers at " + location.socket.string() + " and " +
                         location.program.string() + " is not installed beside the app.");
}

TEST(SignerClient, StartsTheSignerBesideTheAppAndRetries) {
  TempDir dir;
  SignerLocation location{dir.path() / "signer.sock", dir.path() / "orwenna-signer"};
  const auto marker = dir.path() / "started";
  {
    std::ofstream script(location.program);
    script << "#!/bin/sh\ntouch '" << marker.string() << "'\n";
  }
  ::chmod(location.program.c_str(), 0700);
  FakeSigner signer(location.socket, [](const SignerRequest&) { return statusWith(false); });
  // The "signer" only comes up once the client has started the program.
  std::thread late([&] {
    for (int i = 0; i < 200 && !std::filesystem::exists(marker); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    signer.start();
  });
  SignerClient client(location);
  SignerReply reply = client.send(sr::Status{});
  late.join();
  EXPECT_TRUE(std::filesystem::exists(marker));
  EXPECT_TRUE(reply.ok);
  EXPECT_EQ(signer.received(), std::vector<std::string>{R"({"status":{}})"});
}

TEST(SignerClient, DebugInterfaceSendsOnlyWhatItMay) {
  TempDir dir;
  SignerLocation location{dir.path() / "signer.sock", dir.path() / "none"};
  bool testWallet = false;
  FakeSigner signer(location.socket, [&](const SignerRequest& request) {
    if (request.get<sr::Status>()) return statusWith(testWallet);
    SignerReply reply = okReply();
    EVMSignature signature;
    reply.signature = signature;
    return reply;
  });
  signer.start();
  SignerClient client(location);
  SignerClient::DebugAPIScope debug;
  EXPECT_TRUE(client.send(sr::EndSession{}).ok);
  EXPECT_EQ(errorOf([&] { (void)client.send(sr::Lock{}); }),
            "Nothing is signed from the debug API: confirm money moves in orwenna’s window.");
  EXPECT_EQ(errorOf([&] { (void)client.send(sr::LedgerAgent{"0xo", true}); }),
            "Nothing is signed from the debug API: confirm money moves in orwenna’s window.");
  const sr::SignHyperliquidL1 order{MsgPack::uint(1), 5, true};
  EXPECT_EQ(errorOf([&] { (void)client.send(order); }),
            "Nothing is signed from the debug API while a Touch ID wallet signs: confirm money moves in orwenna’s "
            "window, or switch to a test wallet.");
  testWallet = true;
  EXPECT_TRUE(client.send(order).ok);
  // The refused requests never reached the signer; the order went after a status.
  EXPECT_EQ(signer.received(),
            (std::vector<std::string>{R"({"endSession":{}})", R"({"status":{}})", R"({"status":{}})",
                                      SignerRequest(order).toJson().dump()}));
}

TEST(SocketTradeSigner, WrapsInTheNamedWalletAndCountsTheWait) {
  TempDir dir;
  SignerLocation location{dir.path() / "signer.sock", dir.path() / "none"};
  SignerActivity activity;
  std::atomic<int> waitingSeen{-1};
  FakeSigner signer(location.socket, [&](const SignerRequest& request) {
    waitingSeen = activity.waiting();
    if (request.unwrapped().get<sr::SignHyperliquidUser>()) {
      return SignerReply::refusal("Refused.", {"The destination isn't in the address book."});
    }
    SignerReply reply = okReply();
    reply.signedRaw = Bytes{0x02, 0xf8};
    return reply;
  });
  signer.start();
  SocketTradeSigner trade(location, "W7", &activity);
  sr::SignEVMTransaction tx;
  tx.chainId = 8453;
  EXPECT_EQ(trade.signEVMTransaction(tx), (Bytes{0x02, 0xf8}));
  EXPECT_EQ(waitingSeen.load(), 1);
  EXPECT_EQ(activity.waiting(), 0);
  EXPECT_EQ(errorOf([&] { (void)trade.signHyperliquidUser(MsgPack::uint(1), true, {}); }),
            "Refused. The destination isn't in the address book.");
  EXPECT_EQ(activity.waiting(), 0);
  // A reply that is ok but lacks the signature is not a signature.
  EXPECT_EQ(errorOf([&] { (void)trade.signHyperliquidL1(MsgPack::uint(1), 1, true); }),
            "The signer answered without a signature.");
  auto received = signer.received();
  ASSERT_EQ(received.size(), 3u);
  EXPECT_EQ(received[0].rfind(R"({"asWallet":{"id":"W7","request":{"signEVMTransaction":)", 0), 0u);
}

TEST(SignerSocket, PeerCheckKnowsTheUser) {
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  UniqueFd a(fds[0]), b(fds[1]);
  EXPECT_TRUE(isSameUser(peerUid(a.get()), ::getuid()));
  EXPECT_FALSE(isSameUser(peerUid(a.get()), ::getuid() + 1));
  EXPECT_FALSE(isSameUser(std::nullopt, ::getuid()));
  EXPECT_EQ(peerUid(-1), std::nullopt);
}

}  // namespace
}  // namespace orwenna
