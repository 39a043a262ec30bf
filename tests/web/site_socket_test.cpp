// The site socket as the browser's host speaks to it: JSON lines in, replies
// with their ids out, the socket file only its owner's, and a host that hangs
// up taking its frames' waiting requests with it.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "base/http.h"
#include "fakes/chain_test_signer.h"
#include "support/test_support.h"
#include "web/site_socket.h"

namespace orwenna {
namespace {

class Line {
 public:
  explicit Line(const std::filesystem::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
    EXPECT_EQ(::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    timeval limit{10, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
  }
  ~Line() { hangUp(); }
  void send(const Json& message) {
    std::string text = message.dump() + "\n";
    EXPECT_EQ(::write(fd_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  Json read() {
    std::size_t newline;
    char chunk[4096];
    while ((newline = buffer_.find('\n')) == std::string::npos) {
      ssize_t n = ::recv(fd_, chunk, sizeof(chunk), 0);
      if (n <= 0) return nullptr;
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
    Json out = Json::parse(buffer_.substr(0, newline));
    buffer_.erase(0, newline + 1);
    return out;
  }
  void hangUp() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
  std::string buffer_;
};

TEST(SiteSocket, AnswersLinesAndForgetsAHostThatHangsUp) {
  testing::TempDir dir;
  testing::FixedClock clock;
  testing::ChainTestSigner signer;
  Journal journal{dir.path() / "journal.jsonl"};
  Services services{CurlHttpClient::shared(), clock, Endpoints{}, std::nullopt, std::nullopt};
  SiteBridge bridge(SiteBridge::Setup{services, signer, [](const SignerRequest&) { return SignerReply::refusal("no"); },
                                      [&] { return SiteWallet{signer.solana, signer.evm, false}; }, journal,
                                      PhishingList{}, nullptr, nullptr});
  SiteSocket socket(bridge, dir.path() / SiteSocket::kSocketName);
  socket.start();
  struct stat st{};
  ASSERT_EQ(::stat(socket.path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  Line host(socket.path());
  host.send({{"id", 7}, {"frame", "1:0:a"}, {"origin", "https://app.example"}, {"method", "eth"},
             {"params", {{"method", "eth_chainId"}, {"params", "[]"}}}});
  EXPECT_EQ(host.read(), Json({{"result", "\"0x1\""}, {"id", 7}}));
  host.send({{"id", 8}, {"frame", "1:0:a"}, {"origin", "https://app.example"}, {"method", "eth"},
             {"params", {{"method", "eth_requestAccounts"}, {"params", "[]"}}}});
  host.send({{"id", 9}, {"frame", "2:0:b"}, {"origin", "https://other.example"}, {"method", "eth"},
             {"params", {{"method", "eth_requestAccounts"}, {"params", "[]"}}}});
  for (int i = 0; i < 500 && bridge.sheets().size() < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(bridge.sheets().size(), 2u);
  host.send({{"gone", "1:0:a"}});
  EXPECT_EQ(host.read(), Json({{"error", "4900|The page went away."}, {"id", 8}}));
  EXPECT_EQ(bridge.sheets().size(), 1u);

  host.hangUp();
  for (int i = 0; i < 500 && !bridge.sheets().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_TRUE(bridge.sheets().empty()) << "nothing waits for a browser that is gone";
  socket.stop();
  EXPECT_FALSE(std::filesystem::exists(socket.path()));
}

}  // namespace
}  // namespace orwenna
