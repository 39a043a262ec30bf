#include "chains/evm_transaction.h"

#include <algorithm>

#include "chains/abi.h"
#include "chains/evm_call.h"
#include "chains/rlp.h"
#include "signing/wallet_error.h"

namespace orwenna {

namespace {

RLP addressItem(std::string_view text, const char* failure) {
  try {
    auto b = ABI::addressBytes(text);
    return RLP::bytes(ByteView(b));
  } catch (const WalletError&) {
    throw WalletError(std::string(failure) + std::string(text));
  }
}

int yParity(const EVMSignature& s) {
  if (s.v != 27 && s.v != 28) throw WalletError("A signature's v must be 27 or 28, not " + std::to_string(s.v) + ".");
  return s.v - 27;
}

RLP minimal(ByteView word) {
  auto first = std::find_if(word.begin(), word.end(), [](std::uint8_t b) { return b != 0; });
  return RLP::bytes(Bytes(first, word.end()));
}

RLP::List payload(const EVMTransaction& tx) {
  RLP::List items{RLP::uint(tx.chainId),
                  RLP::uint(tx.nonce),
                  RLP::uint(tx.maxPriorityFeePerGas),
                  RLP::uint(tx.maxFeePerGas),
                  RLP::uint(tx.gasLimit),
                  addressItem(tx.to, "Invalid recipient address: "),
                  RLP::uint(tx.value),
                  RLP::bytes(tx.data),
                  RLP::list({})};
  if (!tx.authorizations.empty()) {
    RLP::List list;
    for (const auto& a : tx.authorizations) {
      list.push_back(RLP::list({RLP::uint(a.chainId), addressItem(a.address, "Invalid authorization address: "),
                                RLP::uint(a.nonce), RLP::uint(UInt256(yParity(a.signature))), minimal(a.signature.r),
                                minimal(a.signature.s)}));
    }
    items.push_back(RLP::list(std::move(list)));
  }
  return items;
}

Bytes typed(std::uint8_t type, const RLP& body) {
  Bytes out{type};
  Bytes encoded = body.encode();
  out.insert(out.end(), encoded.begin(), encoded.end());
  return out;
}

}  // namespace

Bytes EVMTransaction::unsignedBytes() const { return typed(typeByte(), RLP::list(payload(*this))); }

Keccak::Digest EVMTransaction::signingHash(const EVMTransaction& tx) { return Keccak::hash256(tx.unsignedBytes()); }

Bytes EVMTransaction::signedBytes(const EVMTransaction& tx, const EVMSignature& signature) {
  RLP::List items = payload(tx);
  items.push_back(RLP::uint(UInt256(yParity(signature))));
  items.push_back(minimal(signature.r));
  items.push_back(minimal(signature.s));
  return typed(tx.typeByte(), RLP::list(std::move(items)));
}

Keccak::Digest EVMTransaction::authorizationHashFor(const UInt256& chainId, std::string_view delegate,
                                                    const UInt256& nonce) {
  RLP body = RLP::list({RLP::uint(chainId), addressItem(delegate, "Invalid authorization address: "), RLP::uint(nonce)});
  return Keccak::hash256(typed(0x05, body));
}

Keccak::Digest EVMTransaction::authorizationHash(const UInt256& chainId, const UInt256& nonce) {
  return authorizationHashFor(chainId, kBatchContract, nonce);
}

Json Batch7702::Call::toJson() const { return Json{{"to", to}, {"data", toHex0x(data)}}; }

Batch7702::Call Batch7702::Call::fromJson(const Json& json) {
  if (!json.is_object() || !json.contains("to") || !json["to"].is_string() || !json.contains("data") ||
      !json["data"].is_string()) {
    throw WalletError("A batched call needs \"to\" and \"data\".");
  }
  auto data = fromHex(json["data"].get<std::string>());
  if (!data) throw WalletError("A batched call's data isn't hex.");
  return Call{json["to"].get<std::string>(), *data};
}

bool Batch7702::batchesOn(std::uint64_t chainId) {
  // Networks known to accept type-4 transactions.
  switch (chainId) {
    case 1: case 10: case 56: case 137: case 8453: case 42161: return true;
    default: return false;
  }
}

Bytes Batch7702::executeData(const std::vector<Call>& calls) {
  std::vector<ABI::Value> items;
  for (const auto& call : calls) {
    items.push_back(ABI::Value::tuple({ABI::Value::address(call.to), ABI::Value::uint(0), ABI::Value::bytes(call.data)}));
  }
  return ABI::call("execute((address,uint256,bytes)[])", {ABI::Value::array(std::move(items))});
}

Bytes Batch7702::delegatedCode() {
  Bytes code{0xef, 0x01, 0x00};
  auto address = ABI::addressBytes(EVMTransaction::kBatchContract);
  code.insert(code.end(), address.begin(), address.end());
  return code;
}

EVMTransaction Batch7702::transaction(std::uint64_t chainId, std::uint64_t nonce, const UInt256& maxPriorityFeePerGas,
                                      const UInt256& maxFeePerGas, const UInt256& gasLimit, const std::string& wallet,
                                      const std::vector<Call>& calls) {
  EVMTransaction tx;
  tx.chainId = chainId;
  tx.nonce = nonce;
  tx.maxPriorityFeePerGas = maxPriorityFeePerGas;
  tx.maxFeePerGas = maxFeePerGas;
  tx.gasLimit = gasLimit;
  tx.to = wallet;
  tx.value = 0;
  tx.data = executeData(calls);
  EVMTransaction::Authorization auth;
  auth.chainId = chainId;
  auth.address = std::string(EVMTransaction::kBatchContract);
  auth.nonce = UInt256(nonce) + 1;
  auth.signature.v = 27;
  tx.authorizations.push_back(std::move(auth));
  return tx;
}

std::vector<std::string> Batch7702::problems(const std::vector<Call>& calls, std::string_view wallet,
                                             std::uint64_t chainId, std::int64_t nowSeconds) {
  std::vector<std::string> out;
  if (!batchesOn(chainId)) out.push_back("orwenna doesn't batch calls on network " + std::to_string(chainId) + ".");
  if (calls.empty() || calls.size() > kMaxCalls) {
    out.push_back("A batch holds 1 to " + std::to_string(kMaxCalls) + " calls, not " + std::to_string(calls.size()) +
                  ".");
  }
  for (const auto& call : calls) {
    std::array<std::uint8_t, 20> target{};
    try {
      target = ABI::addressBytes(call.to);
    } catch (const WalletError&) {
      out.push_back("Not an address: " + call.to);
      continue;
    }
    if (EVMCall::sameAddress(toHex0x(target), wallet)) {
      out.push_back("A call into this wallet's own address: it would run calls nobody checked. Refused.");
      continue;
    }
    if (auto p = EVMCall::problem(EVMCall::decode(call.to, call.data), wallet, nowSeconds)) out.push_back(*p);
  }
  return out;
}

}  // namespace orwenna
