// The signer's storage and prompts below the service: scrypt against its
// published vector, sealed boxes that open only with their key and label,
// the keystore file's round trip, Assuan escaping, a scripted pinentry
// driven through its real protocol (with the time-out), the session rules,
// and the socket's same-user check.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "signer/keystore.h"
#include "signer/pinentry.h"
#include "signer/screen_watch.h"
#include "signer/session.h"
#include "signer/signer_server.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

using testing::FixedClock;
using testing::ScriptedRandom;
using testing::TempDir;

SecretBytes keyOf(std::uint8_t fill) {
  SecretBytes k(32);
  for (auto& b : k.span()) b = fill;
  return k;
}

TEST(SealingTest, ScryptMatchesThePublishedVector) {
  // RFC 7914, section 12: scrypt("password", "NaCl", N=1024, r=8, p=16); the first 32 of its 64 bytes.
  ScryptParams params;
  params.salt = Bytes{'N', 'a', 'C', 'l'};
  params.log2N = 10;
  params.r = 8;
  params.p = 16;
  SecretBytes key = Sealing::deriveKey("password", params);
  EXPECT_EQ(toHex(key.span()), "fdbabe1c9d3472007856e7190d01e9fe7c6ad7cbc8237830e77376634b373162");
}

TEST(SealingTest, ABoxOpensOnlyWithItsKeyAndLabelAndUntouched) {
  ScriptedRandom random;
  const Bytes secret{1, 2, 3, 4, 5};
  SealedBox box = Sealing::seal(keyOf(7), secret, "wallet:a", random);
  EXPECT_EQ(box.nonce.size(), 12u);
  auto opened = Sealing::open(keyOf(7), box, "wallet:a");
  ASSERT_TRUE(opened);
  EXPECT_EQ(Bytes(opened->span().begin(), opened->span().end()), secret);
  EXPECT_FALSE(Sealing::open(keyOf(8), box, "wallet:a"));
  EXPECT_FALSE(Sealing::open(keyOf(7), box, "wallet:b"));  // moved to another wallet's slot
  SealedBox altered = box;
  altered.data[0] ^= 1;
  EXPECT_FALSE(Sealing::open(keyOf(7), altered, "wallet:a"));
  SealedBox cut = SealedBox::fromJson(box.toJson());
  EXPECT_TRUE(Sealing::open(keyOf(7), cut, "wallet:a"));
}

TEST(SealingTest, KeyFileSettingsOutsideTheBoundsAreRefused) {
  ScryptParams weak;
  weak.salt = Bytes(16, 1);
  weak.log2N = 4;
  EXPECT_THROW((void)ScryptParams::fromJson(weak.toJson()), SignerServiceError);
  ScryptParams sound;
  sound.salt = Bytes(16, 1);
  EXPECT_EQ(ScryptParams::fromJson(sound.toJson()).log2N, ScryptParams::kDefaultLog2N);
}

TEST(KeystoreTest, RoundTripsThroughItsFileWithPrivateModes) {
  TempDir dir;
  const auto folder = dir.path() / "signer";
  ScriptedRandom random;
  Keystore k;
  StoredWallet w;
  w.id = "w1";
  w.label = "Wallet 1";
  w.kind = StoredWallet::Kind::evmKey;
  w.evm = "0x9858EfFD232B4033E47d90003D41EC34EcaEda94";
  w.requirePresence = true;
  w.sealed = Sealing::seal(keyOf(1), Bytes(32, 9), w.sealLabel(), random);
  k.wallets.push_back(w);
  k.activeWallet = "w1";
  k.addressBook.push_back({"Mom", "hyperliquid", "0x0000000000000000000000000000000000000001", ""});
  k.agents.push_back({*w.evm, "0x00000000000000000000000000000000000000aa", false, w.sealed});
  k.sessionLength = 600;
  k.save(folder);
  EXPECT_EQ(fileMode(folder), 0700u);
  EXPECT_EQ(fileMode(folder / Keystore::kFileName), 0600u);

  Keystore back = Keystore::load(folder);
  ASSERT_EQ(back.wallets.size(), 1u);
  EXPECT_EQ(back.wallets[0].record(), w.record());
  EXPECT_TRUE(back.wallets[0].requirePresence);
  EXPECT_TRUE(Sealing::open(keyOf(1), back.wallets[0].sealed, "wallet:w1"));
  EXPECT_EQ(back.addressBook, k.addressBook);
  ASSERT_EQ(back.agents.size(), 1u);
  EXPECT_FALSE(back.agents[0].active);
  EXPECT_EQ(back.sessionLength, 600);

  std::ofstream(folder / Keystore::kFileName) << "{\"version\": 1}";
  EXPECT_THROW((void)Keystore::load(folder), SignerServiceError);
}

TEST(KeystoreTest, TheDeviceKeyIsMadeOnceAndKept) {
  TempDir dir;
  ScriptedRandom random;
  SecretBytes first = Keystore::deviceKey(dir.path(), random);
  EXPECT_EQ(fileMode(dir.path() / Keystore::kDeviceKeyName), 0600u);
  EXPECT_TRUE(Keystore::deviceKey(dir.path(), random) == first);
  Keystore::erase(dir.path());
  EXPECT_FALSE(fileMode(dir.path() / Keystore::kDeviceKeyName));
}

TEST(AssuanTest, EscapesPercentAndLineBreaksOnlyAndReadsThemBack) {
  EXPECT_EQ(assuanEscape("Buy 50% of\r\nBTC «ok»"), "Buy 50%25 of%0D%0ABTC «ok»");
  EXPECT_EQ(assuanUnescape("Buy 50%25 of%0D%0ABTC"), "Buy 50% of\r\nBTC");
  EXPECT_EQ(assuanUnescape("pass%2bword"), "pass+word");
  EXPECT_FALSE(assuanUnescape("cut%4"));
  EXPECT_FALSE(assuanUnescape("bad%zz"));
}

class PinentryTest : public ::testing::Test {
 protected:
  void script(const std::string& lines) { std::ofstream(scriptPath()) << lines; }
  std::filesystem::path scriptPath() const { return dir.path() / "script"; }
  std::string log() const { return readFile(dir.path() / "script.log").value_or(""); }
  PinentryPrompter prompter(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    return PinentryPrompter(ORWENNA_FAKE_PINENTRY, {"FAKE_PINENTRY_SCRIPT=" + scriptPath().string(), "PATH=/usr/bin:/bin"},
                            limit);
  }
  TempDir dir;
};

TEST_F(PinentryTest, ConfirmAndPassphraseGoThroughAssuan) {
  script("OK\nCANCEL\nPIN pa%25ss word\n");
  auto p = prompter();
  EXPECT_EQ(p.confirm({"Sign", "Buy 1 BTC\nat 50%", ""}).outcome, PromptAnswer::Outcome::approved);
  EXPECT_EQ(p.confirm({"Sign", "again", ""}).outcome, PromptAnswer::Outcome::declined);
  PromptAnswer pin = p.passphrase({"Unlock", "type it", "Passphrase:"});
  EXPECT_EQ(pin.outcome, PromptAnswer::Outcome::approved);
  EXPECT_EQ(pin.pin, "pa%ss word");
  // The description crossed the wire escaped, on one line.
  EXPECT_NE(log().find("CONFIRM Buy 1 BTC%0Aat 50%25"), std::string::npos);
}

TEST_F(PinentryTest, AnUnansweredPromptTimesOut) {
  script("HANG\n");
  auto p = prompter(std::chrono::milliseconds(500));
  EXPECT_EQ(p.confirm({"Sign", "x", ""}).outcome, PromptAnswer::Outcome::timedOut);
}

TEST_F(PinentryTest, AMissingProgramFailsWithAdvice) {
  PinentryPrompter none("", {});
  PromptAnswer a = none.confirm({"Sign", "x", ""});
  EXPECT_EQ(a.outcome, PromptAnswer::Outcome::failed);
  EXPECT_NE(a.error.find("pinentry-curses"), std::string::npos);
}

TEST(SessionTest, WindowsAndLocking) {
  FixedClock clock;
  SessionState s(clock);
  EXPECT_EQ(s.needed(false, false), Approval::passphrase);  // locked
  s.unlock(keyOf(1));
  EXPECT_EQ(s.needed(false, false), Approval::confirm);
  s.approved();
  EXPECT_EQ(s.needed(false, false), Approval::none);
  EXPECT_EQ(s.needed(false, true), Approval::confirm);     // widening never rides on a window
  EXPECT_EQ(s.needed(true, false), Approval::passphrase);  // presence asks every time
  clock.sleepFor(SessionState::kNoSessionWindowMillis);
  EXPECT_EQ(s.needed(false, false), Approval::confirm);  // one minute without a session

  s.setLength(10 * 60);
  s.approved();
  clock.sleepFor(9 * 60'000);
  EXPECT_EQ(s.needed(false, false), Approval::none);
  s.endSession();
  EXPECT_EQ(s.needed(false, false), Approval::confirm);

  clock.sleepFor(SessionState::kUnlockedIdleMillis);
  EXPECT_EQ(s.storageKey(), nullptr);  // idle too long: locked again
  s.unlock(keyOf(1));
  s.lock();
  EXPECT_EQ(s.needed(false, false), Approval::passphrase);

  EXPECT_TRUE(SessionState::validLength(0));
  EXPECT_TRUE(SessionState::validLength(300));
  EXPECT_TRUE(SessionState::validLength(1800));
  EXPECT_FALSE(SessionState::validLength(299));
  EXPECT_FALSE(SessionState::validLength(1801));
}

TEST(ScreenWatchTest, ALockOrSleepEndsTheSessionAndAWakeDoesNot) {
  EXPECT_TRUE(ScreenWatch::endsSession(
      "/org/freedesktop/login1: org.freedesktop.login1.Manager.PrepareForSleep (true,)"));
  EXPECT_FALSE(ScreenWatch::endsSession(
      "/org/freedesktop/login1: org.freedesktop.login1.Manager.PrepareForSleep (false,)"));
  EXPECT_TRUE(ScreenWatch::endsSession(
      "/org/freedesktop/login1/session/_32: org.freedesktop.DBus.Properties.PropertiesChanged "
      "('org.freedesktop.login1.Session', {'LockedHint': <true>}, @as [])"));
  EXPECT_FALSE(ScreenWatch::endsSession("'LockedHint': <false>"));

  TempDir dir;
  const auto monitor = dir.path() / "gdbus";
  std::ofstream(monitor) << "#!/bin/sh\n"
                            "[ \"$1 $2 $3 $4\" = 'monitor --system --dest org.freedesktop.login1' ] || exit 1\n"
                            "echo '/org/freedesktop/login1: org.freedesktop.login1.Manager.PrepareForSleep (false,)'\n"
                            "echo '/org/freedesktop/login1/session/_3: org.freedesktop.login1.Session.Lock ()'\n"
                            "exec sleep 600\n";
  std::filesystem::permissions(monitor, std::filesystem::perms::owner_all);
  std::atomic<int> locks{0};
  {
    ScreenWatch watch(monitor, [&] { locks.fetch_add(1); });
    for (int i = 0; i < 200 && locks.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(locks.load(), 1);
}

TEST(PeerCheckTest, OnlyTheSameUserIsAnswered) {
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  EXPECT_TRUE(peerAllowed(fds[0], ::getuid()));
  EXPECT_FALSE(peerAllowed(fds[0], ::getuid() + 1));
  ::close(fds[0]);
  ::close(fds[1]);
  EXPECT_FALSE(peerAllowed(-1, ::getuid()));  // no credentials, no answer
}

}  // namespace
}  // namespace orwenna
