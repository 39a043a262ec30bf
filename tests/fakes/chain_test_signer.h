// A TradeSigner for the send pipelines' tests: signs Solana and EVM
// transactions in process with fixed test keys, exactly what it is handed,
// and can be told to sign something else instead, as a faulty or hostile
// signer would. Counts its signatures. Not thread-safe.
#pragma once

#include <string>

#include "chains/evm_transaction.h"
#include "chains/near_transaction.h"
#include "chains/solana_transaction.h"
#include "signing/accounts.h"
#include "signing/secret.h"
#include "signing/trade_signer.h"

namespace orwenna::testing {

class ChainTestSigner final : public TradeSigner {
 public:
  ChainTestSigner() : solanaKey_(32), evmKey_(32) {
    for (std::size_t i = 0; i < 32; ++i) {
      solanaKey_.span()[i] = static_cast<std::uint8_t>(i + 1);
      evmKey_.span()[i] = static_cast<std::uint8_t>(0x40 + i);
    }
    solana = SolanaAccount::address(solanaKey_.span());
    near = NearAccount::implicitAccount(solanaKey_.span());
    evm = EVMAccount::address(evmKey_.span());
  }

  std::string solana;
  std::string evm;
  std::string near;  // the implicit account of the Solana key
  int signatures = 0;
  bool tamper = false;  // sign a changed transaction

  Bytes signSolana(const signer_request::SignSolana& request) override {
    ++signatures;
    Bytes wire = request.wire;
    if (tamper) wire.back() ^= 1;
    auto message = SolanaTransaction::parse(wire).message;
    auto signature = Ed25519::sign(solanaKey_.span(), message);
    return SolanaTransaction::attach(wire, signature);
  }
  Bytes signEVMTransaction(const signer_request::SignEVMTransaction& r) override {
    ++signatures;
    EVMTransaction tx;
    tx.chainId = r.chainId;
    tx.nonce = r.nonce;
    tx.maxPriorityFeePerGas = r.maxPriorityFee;
    tx.maxFeePerGas = r.maxFee;
    tx.gasLimit = r.gasLimit;
    tx.to = r.to;
    tx.value = tamper ? r.value + 1 : r.value;
    tx.data = r.data;
    return EVMTransaction::signedBytes(tx, EVMSigner::sign(EVMTransaction::signingHash(tx), evmKey_.span()));
  }
  EVMSignature signHyperliquidL1(const MsgPack&, std::uint64_t, bool) override { throw SignerError("not here"); }
  EVMSignature signHyperliquidUser(const MsgPack&, bool, const std::vector<std::string>&) override {
    throw SignerError("not here");
  }
  EVMSignature signRelayNonceMapping(const signer_request::SignRelayNonceMapping&) override {
    throw SignerError("not here");
  }
  std::string approvalName() const override { return "the test key"; }
  // Tampering delegates the wallet to other code, as a hostile signer would.
  Bytes signEVMBatch(const signer_request::SignEVMBatch& r) override {
    ++signatures;
    std::vector<Batch7702::Call> calls;
    for (const auto& c : r.calls) calls.push_back({c.to, c.data});
    EVMTransaction tx = Batch7702::transaction(r.chainId, r.nonce, r.maxPriorityFee, r.maxFee, r.gasLimit, evm, calls);
    auto& auth = tx.authorizations.front();
    if (tamper) auth.address = "0x000000000000000000000000000000000000dead";
    auth.signature =
        EVMSigner::sign(EVMTransaction::authorizationHashFor(auth.chainId, auth.address, auth.nonce), evmKey_.span());
    return EVMTransaction::signedBytes(tx, EVMSigner::sign(EVMTransaction::signingHash(tx), evmKey_.span()));
  }
  Bytes signNearIntentDeposit(const signer_request::SignNearIntentDeposit& r) override {
    return signNear(std::string(NearTransaction::kWrapContract), r.nonce, r.blockHash,
                    NearTransaction::intentDeposit(near, r.depositAddress, *parseUInt128(r.amount)));
  }
  Bytes signNearTransfer(const signer_request::SignNearTransfer& r) override {
    return signNear(r.receiver, r.nonce, r.blockHash, {NearAction::transfer(*parseUInt128(r.amount))});
  }
  Bytes signNearDeleteAccount(const signer_request::SignNearDeleteAccount& r) override {
    return signNear(near, r.nonce, r.blockHash, {NearAction::deleteAccount(r.beneficiary)});
  }
  // Signs the transaction as it is, like every other request here.
  Bytes signOneClickDeposit(const std::string&, const SignerRequest& request) override {
    if (const auto* r = request.get<signer_request::SignSolana>()) return signSolana(*r);
    if (const auto* r = request.get<signer_request::SignEVMTransaction>()) return signEVMTransaction(*r);
    throw SignerError("not here");
  }

 private:
  Bytes signNear(const std::string& receiver, std::uint64_t nonce, const Bytes& blockHash,
                 std::vector<NearAction> actions) {
    ++signatures;
    if (tamper) actions.push_back(NearAction::transfer(1));
    return NearTransaction::signedBytes(solanaKey_.span(), nonce, receiver, blockHash, actions);
  }

  SecretBytes solanaKey_;
  SecretBytes evmKey_;
};

}  // namespace orwenna::testing
