// A TradeSigner for tests and benchmarks that signs Hyperliquid actions in
// process with an account of the published BIP-39 test phrase ("abandon" × 11
// + "about"), so signatures are real and a fake exchange can recover them.
// Other requests are refused. Thread-safe.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "signing/secret.h"
#include "signing/trade_signer.h"

namespace orwenna::testing {

class TestTradeSigner final : public TradeSigner {
 public:
  static constexpr const char* kPhrase =
      "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon about";

  // The key at m/44'/60'/0'/0/<index> of the test phrase.
  explicit TestTradeSigner(std::uint32_t index = 0);

  const std::string& address() const { return address_; }
  int l1Signatures() const { return l1_.load(); }
  int userSignatures() const { return user_.load(); }

  Bytes signSolana(const signer_request::SignSolana& request) override;
  EVMSignature signHyperliquidL1(const MsgPack& action, std::uint64_t nonce, bool mainnet) override;
  EVMSignature signHyperliquidUser(const MsgPack& action, bool mainnet,
                                   const std::vector<std::string>& recipients) override;
  EVMSignature signRelayNonceMapping(const signer_request::SignRelayNonceMapping& request) override;
  Bytes signEVMTransaction(const signer_request::SignEVMTransaction& request) override;
  std::string approvalName() const override { return "the test key"; }
  Bytes signEVMBatch(const signer_request::SignEVMBatch& request) override;
  Bytes signNearIntentDeposit(const signer_request::SignNearIntentDeposit& request) override;
  Bytes signNearTransfer(const signer_request::SignNearTransfer& request) override;
  Bytes signNearDeleteAccount(const signer_request::SignNearDeleteAccount& request) override;

 private:
  SecretBytes key_;
  std::string address_;
  std::atomic<int> l1_{0};
  std::atomic<int> user_{0};
};

}  // namespace orwenna::testing
