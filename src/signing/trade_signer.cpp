#include "signing/trade_signer.h"

namespace orwenna {

namespace sr = signer_request;

SocketTradeSigner::SocketTradeSigner(SignerLocation location, std::optional<std::string> asWallet,
                                     SignerActivity* activity, Clock& clock)
    : location_(std::move(location)), asWallet_(std::move(asWallet)), activity_(activity), clock_(clock) {}

SignerReply SocketTradeSigner::call(SignerRequest request) {
  SignerActivity::Scope waiting(activity_);
  // One client, so one connection, for this one request.
  SignerClient client(location_, clock_);
  SignerReply reply = asWallet_ ? client.send(SignerRequest::asWallet(*asWallet_, std::move(request)))
                                : client.send(request);
  if (!reply.ok) throw SignerError(reply.errorText());
  return reply;
}

namespace {

EVMSignature needSignature(const SignerReply& reply) {
  if (!reply.signature) throw SignerError("The signer answered without a signature.");
  return *reply.signature;
}

Bytes needWire(const std::optional<Bytes>& bytes) {
  if (!bytes || bytes->empty()) throw SignerError("The signer answered without a signed transaction.");
  return *bytes;
}

}  // namespace

Bytes SocketTradeSigner::signSolana(const sr::SignSolana& request) { return needWire(call(request).signedWire); }

EVMSignature SocketTradeSigner::signHyperliquidL1(const MsgPack& action, std::uint64_t nonce, bool mainnet) {
  return needSignature(call(sr::SignHyperliquidL1{action, nonce, mainnet}));
}

EVMSignature SocketTradeSigner::signHyperliquidUser(const MsgPack& action, bool mainnet,
                                                    const std::vector<std::string>& recipients) {
  return needSignature(call(sr::SignHyperliquidUser{action, mainnet, recipients}));
}

EVMSignature SocketTradeSigner::signRelayNonceMapping(const sr::SignRelayNonceMapping& request) {
  return needSignature(call(request));
}

Bytes SocketTradeSigner::signEVMTransaction(const sr::SignEVMTransaction& request) {
  return needWire(call(request).signedRaw);
}

std::string SocketTradeSigner::approvalName() const { return "the signer's approval"; }

Bytes SocketTradeSigner::signEVMBatch(const sr::SignEVMBatch& request) { return needWire(call(request).signedRaw); }

Bytes SocketTradeSigner::signNearIntentDeposit(const sr::SignNearIntentDeposit& request) {
  return needWire(call(request).signedWire);
}

Bytes SocketTradeSigner::signNearTransfer(const sr::SignNearTransfer& request) {
  return needWire(call(request).signedWire);
}

Bytes SocketTradeSigner::signNearDeleteAccount(const sr::SignNearDeleteAccount& request) {
  return needWire(call(request).signedWire);
}

EVMSignature TradeSigner::signRelayHyperliquidDeposit(const sr::SignRelayHyperliquidDeposit&) {
  throw SignerError("This signer can't pay Relay's depository on Hyperliquid. Nothing was signed.");
}

EVMSignature SocketTradeSigner::signRelayHyperliquidDeposit(const sr::SignRelayHyperliquidDeposit& request) {
  return needSignature(call(request));
}

Bytes TradeSigner::signOneClickDeposit(const std::string& depositAddress, const SignerRequest&) {
  throw SignerError("This signer can't confirm the 1Click deposit address " + depositAddress +
                    ". Nothing was signed.");
}

Bytes SocketTradeSigner::signOneClickDeposit(const std::string& depositAddress, const SignerRequest& request) {
  SignerReply reply = call(sr::SignOneClickDeposit{depositAddress, request.toJson().dump()});
  return needWire(reply.signedWire ? reply.signedWire : reply.signedRaw);
}

}  // namespace orwenna
