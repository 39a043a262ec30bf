// TradeSigner: the signing operations the executor uses, each ending in one
// request to a signer. `SocketTradeSigner` sends them to the signer service
// (one connection per request, wrapped in asWallet when a wallet is named);
// a hardware wallet or a test key can be another implementation.
//
// Every operation throws SignerError with the finished sentence when the
// signer refuses ("The signer refused." and its problems) or cannot be
// reached. Implementations are thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "signing/evm_signer.h"
#include "signing/msgpack.h"
#include "signing/signer_client.h"
#include "signing/signer_protocol.h"

namespace orwenna {

class TradeSigner {
 public:
  virtual ~TradeSigner() = default;

  // The signed transaction, wire bytes ready to send.
  virtual Bytes signSolana(const signer_request::SignSolana& request) = 0;
  virtual EVMSignature signHyperliquidL1(const MsgPack& action, std::uint64_t nonce, bool mainnet) = 0;
  virtual EVMSignature signHyperliquidUser(const MsgPack& action, bool mainnet,
                                           const std::vector<std::string>& recipients) = 0;
  virtual EVMSignature signRelayNonceMapping(const signer_request::SignRelayNonceMapping& request) = 0;
  // The signed raw transaction (type 2), ready for eth_sendRawTransaction.
  virtual Bytes signEVMTransaction(const signer_request::SignEVMTransaction& request) = 0;
  // What each signature waits for, for sentences such as "every order asks
  // for …": the signer's passphrase or confirmation, or the Ledger's buttons.
  virtual std::string approvalName() const = 0;
  virtual Bytes signEVMBatch(const signer_request::SignEVMBatch& request) = 0;
  // Signed NEAR transactions, ready to send.
  virtual Bytes signNearIntentDeposit(const signer_request::SignNearIntentDeposit& request) = 0;
  virtual Bytes signNearTransfer(const signer_request::SignNearTransfer& request) = 0;
  virtual Bytes signNearDeleteAccount(const signer_request::SignNearDeleteAccount& request) = 0;
  // A move out of Hyperliquid over Relay. A signer that cannot confirm the
  // depository with Relay itself refuses it.
  virtual EVMSignature signRelayHyperliquidDeposit(const signer_request::SignRelayHyperliquidDeposit& request);
  // A signSolana or signEVMTransaction paying a 1Click deposit address; the
  // signed wire or raw transaction. A signer that cannot confirm the address
  // with 1Click itself refuses it.
  virtual Bytes signOneClickDeposit(const std::string& depositAddress, const SignerRequest& request);
};

class SocketTradeSigner final : public TradeSigner {
 public:
  // `activity` may be null; when given it must outlive this signer.
  SocketTradeSigner(SignerLocation location, std::optional<std::string> asWallet = std::nullopt,
                    SignerActivity* activity = nullptr, Clock& clock = SystemClock::shared());

  Bytes signSolana(const signer_request::SignSolana& request) override;
  EVMSignature signHyperliquidL1(const MsgPack& action, std::uint64_t nonce, bool mainnet) override;
  EVMSignature signHyperliquidUser(const MsgPack& action, bool mainnet,
                                   const std::vector<std::string>& recipients) override;
  EVMSignature signRelayNonceMapping(const signer_request::SignRelayNonceMapping& request) override;
  Bytes signEVMTransaction(const signer_request::SignEVMTransaction& request) override;
  std::string approvalName() const override;
  Bytes signEVMBatch(const signer_request::SignEVMBatch& request) override;
  Bytes signNearIntentDeposit(const signer_request::SignNearIntentDeposit& request) override;
  Bytes signNearTransfer(const signer_request::SignNearTransfer& request) override;
  Bytes signNearDeleteAccount(const signer_request::SignNearDeleteAccount& request) override;
  EVMSignature signRelayHyperliquidDeposit(const signer_request::SignRelayHyperliquidDeposit& request) override;
  Bytes signOneClickDeposit(const std::string& depositAddress, const SignerRequest& request) override;

  // Sends one request (wrapped when a wallet is named) and returns the reply
  // when ok; throws SignerError with the reply's error text otherwise.
  SignerReply call(SignerRequest request);

 private:
  SignerLocation location_;
  std::optional<std::string> asWallet_;
  SignerActivity* activity_;
  Clock& clock_;
};

}  // namespace orwenna
