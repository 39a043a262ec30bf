// End to end: the real orwenna-signer, started by the app's own client in a
// temporary ORWENNA_HOME, approving through a scripted pinentry. A phrase is
// imported, its addresses are the published ones, an order recovers to the
// account, a denial signs nothing, lock asks for the passphrase and a wrong
// one is refused, an unanswered prompt times out, payments outside the
// address book and unlimited approvals are refused before any prompt, and
// the folder, key file and socket keep their private modes.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <future>
#include <thread>

#include "chains/abi.h"
#include "platform/process.h"
#include "signing/eip712.h"
#include "signing/hl_action.h"
#include "signing/hl_signer.h"
#include "signing/signer_client.h"
#include "signing/signer_socket.h"
#include "signing/trade_signer.h"
#include "signer/real_signer_fixture.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

namespace sr = signer_request;
using testing::TempDir;

constexpr const char* kE2EPhrase =
    "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon about";
// The phrase's first accounts as every public wallet library derives them
// (m/44'/60'/0'/0/0 and m/44'/501'/0'/0'), and the EVM private key behind the first.
constexpr const char* kE2EAccount = "0x9858EfFD232B4033E47d90003D41EC34EcaEda94";
constexpr const char* kE2ESolana = "HAgk14JpMQLgt6rVgv7cBQFJWFto5Dqxi472uT3DKpqk";
constexpr const char* kE2EPrivateKey = "1ab42cc412b618bdea3a599e3c9bae199ebf030895b039e9db1e30dafb12b727";

class SignerE2ETest : public testing::RealSignerTest {
 protected:
  void SetUp() override {
    RealSignerTest::SetUp();
    setenv("ORWENNA_SIGNER_PROMPT_SECONDS", "2", 1);  // the unanswered prompt below runs out sooner
    home = dir.path() / "home";
  }

  void script(const std::string& lines) { std::ofstream(dir.path() / "script") << lines; }
  std::string pinentryLog() const { return readFile(dir.path() / "script.log").value_or(""); }

  SignerReply send(const SignerRequest& request) {
    SignerClient client(location);
    SignerReply reply = client.send(request);
    replies += reply.toJson().dump() + "\n";
    return reply;
  }

  std::filesystem::path home;
  std::string replies;  // every reply frame the app received
};

TEST_F(SignerE2ETest, TheRealSignerImportsSignsRefusesAndLocks) {
  script(
      "PIN correct horse\n"  // choose the passphrase on import
      "OK\n"                 // the first order
      "CANCEL\n"             // the second order
      "PIN wrong\n"          // after lock
      "PIN correct horse\n"
      "HANG\n"               // nobody answers
      "OK\n");               // the exact approval
  // A socket file left by a signer that died must not stop a new one.
  ensureDirectory(paths.runtimeDir, 0700);
  {
    UniqueFd stale(::socket(AF_UNIX, SOCK_STREAM, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, location.socket.c_str());
    ASSERT_EQ(::bind(stale.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  }

  SignerReply first = send(sr::Status{});  // the client starts the signer
  ASSERT_TRUE(first.ok);
  EXPECT_EQ(first.hasWallet, false);
  // Only one signer runs at a time.
  EXPECT_NE(std::system((std::string(ORWENNA_SIGNER_PROGRAM) + " 2>/dev/null").c_str()), 0);

  SignerReply imported = send(sr::ImportMnemonic{kE2EPhrase, "", false});
  ASSERT_TRUE(imported.ok) << imported.errorText();
  EXPECT_EQ(imported.evmAddress, kE2EAccount);
  EXPECT_EQ(imported.solanaAddress, kE2ESolana);

  EXPECT_EQ(fileMode(paths.dataDir / "signer"), 0700u);
  EXPECT_EQ(fileMode(paths.dataDir / "signer" / "keystore.json"), 0600u);
  EXPECT_EQ(fileMode(paths.runtimeDir), 0700u);
  EXPECT_EQ(fileMode(location.socket), 0600u);

  HLOrder order;
  order.asset = 0;
  order.isBuy = true;
  order.price = Decimal(50000);
  order.size = Decimal::parse("0.01");
  MsgPack action = HLAction::order(std::span(&order, 1), "na");
  const auto digest = EIP712::digest(HLSigner::l1TypedData(action, 42, std::nullopt, std::nullopt, true));
  SocketTradeSigner trade(location);
  EVMSignature signature = trade.signHyperliquidL1(action, 42, true);
  EXPECT_EQ(EVMSigner::recover(signature, digest), kE2EAccount);
  EXPECT_NE(pinentryLog().find("CONFIRM Buy 0.01 of asset #0 at 50000 (Gtc)%0Aon Hyperliquid."), std::string::npos);

  ASSERT_TRUE(send(sr::EndSession{}).ok);
  SignerReply denied = send(sr::SignHyperliquidL1{action, 43, true});
  EXPECT_FALSE(denied.ok);
  EXPECT_FALSE(denied.signature);
  EXPECT_EQ(denied.errorText(), "The approval was declined. Nothing was signed.");

  ASSERT_TRUE(send(sr::Lock{}).ok);
  SignerReply wrong = send(sr::SignHyperliquidL1{action, 44, true});
  EXPECT_EQ(wrong.errorText(), "The passphrase is wrong. Nothing was signed.");
  EXPECT_NE(pinentryLog().rfind("GETPIN"), std::string::npos);
  SignerReply unlocked = send(sr::SignHyperliquidL1{action, 45, true});
  ASSERT_TRUE(unlocked.ok) << unlocked.errorText();

  ASSERT_TRUE(send(sr::EndSession{}).ok);
  auto pending = std::async(std::launch::async, [&] {
    SignerClient client(location);
    return client.send(sr::SignHyperliquidL1{action, 46, true});
  });
  // While nobody answers that prompt, status still answers.
  for (int i = 0; i < 100 && prompts() < 6; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  SignerReply meanwhile = send(sr::Status{});
  EXPECT_TRUE(meanwhile.ok);
  EXPECT_EQ(pending.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
  SignerReply late = pending.get();
  EXPECT_FALSE(late.ok);
  EXPECT_EQ(late.errorText(), "The approval timed out.");

  const std::size_t before = prompts();
  const std::string stranger = "0x1111111111111111111111111111111111111111";
  SignerReply send1 = send(sr::SignHyperliquidUser{HLAction::usdSend(stranger, Decimal(25), 1, true), true, {stranger}});
  EXPECT_FALSE(send1.ok);
  EXPECT_EQ(send1.problems, std::vector<std::string>{"Funds go to someone else's address " + stranger});

  const std::string usdc = "0x833589fcd6edb6e08f4c7c32d4f71b54bda02913";
  auto approval = [&](const UInt256& amount) {
    return ABI::call("approve(address,uint256)", {ABI::Value::address(stranger), ABI::Value::uint(amount)});
  };
  sr::SignEVMTransaction tx{8453, 3, 1'000'000, 100'000'000, 60'000, usdc, 0, approval(~UInt256(0)), {}};
  SignerReply unlimited = send(tx);
  EXPECT_FALSE(unlimited.ok);
  ASSERT_EQ(unlimited.problems.size(), 1u);
  EXPECT_EQ(unlimited.problems[0].rfind("Unlimited token spending approval", 0), 0u);
  EXPECT_EQ(prompts(), before);  // refused before anyone was asked

  tx.data = approval(25'000'000);
  SignerReply exact = send(tx);
  ASSERT_TRUE(exact.ok) << exact.errorText();
  EXPECT_TRUE(exact.signedRaw);

  // The app received addresses and signatures, never the key.
  EXPECT_EQ(replies.find(kE2EPrivateKey), std::string::npos);
  EXPECT_EQ(replies.find(toBase64(*fromHex(kE2EPrivateKey))), std::string::npos);
  EXPECT_EQ(replies.find("abandon"), std::string::npos);
}

}  // namespace
}  // namespace orwenna
