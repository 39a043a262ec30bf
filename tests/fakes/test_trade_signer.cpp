#include "fakes/test_trade_signer.h"

#include "signing/accounts.h"
#include "signing/derivation.h"
#include "signing/hl_signer.h"
#include "signing/mnemonic.h"

namespace orwenna::testing {

namespace {

[[noreturn]] void refuse() { throw SignerError("The test signer signs only Hyperliquid actions."); }

}  // namespace

TestTradeSigner::TestTradeSigner(std::uint32_t index) {
  SecretBytes seed = Mnemonic::seed(kPhrase, "");
  key_ = Derivation::secp256k1(seed.span(), WalletPath::evm(index));
  address_ = EVMAccount::address(key_.span());
}

EVMSignature TestTradeSigner::signHyperliquidL1(const MsgPack& action, std::uint64_t nonce, bool mainnet) {
  ++l1_;
  return HLSigner::signL1(action, key_.span(), nonce, std::nullopt, std::nullopt, mainnet);
}

EVMSignature TestTradeSigner::signHyperliquidUser(const MsgPack& action, bool mainnet, const std::vector<std::string>&) {
  ++user_;
  const MsgPack* type = action.find("type");
  if (type != nullptr && type->stringValue() != nullptr && *type->stringValue() == "approveAgent") {
    return HLSigner::signApproveAgent(action, key_.span(), mainnet);
  }
  return HLSigner::signUser(action, key_.span(), mainnet);
}

Bytes TestTradeSigner::signSolana(const signer_request::SignSolana&) { refuse(); }
EVMSignature TestTradeSigner::signRelayNonceMapping(const signer_request::SignRelayNonceMapping&) { refuse(); }
Bytes TestTradeSigner::signEVMTransaction(const signer_request::SignEVMTransaction&) { refuse(); }
Bytes TestTradeSigner::signEVMBatch(const signer_request::SignEVMBatch&) { refuse(); }
Bytes TestTradeSigner::signNearIntentDeposit(const signer_request::SignNearIntentDeposit&) { refuse(); }
Bytes TestTradeSigner::signNearTransfer(const signer_request::SignNearTransfer&) { refuse(); }
Bytes TestTradeSigner::signNearDeleteAccount(const signer_request::SignNearDeleteAccount&) { refuse(); }

}  // namespace orwenna::testing
