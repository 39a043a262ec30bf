#include "chains/ens.h"

#include <algorithm>

#include "base/regex.h"
#include "base/text.h"
#include "chains/abi.h"
#include "chains/evm_rpc.h"
#include "signing/accounts.h"
#include "signing/wallet_error.h"

namespace orwenna {

Keccak::Digest ENS::namehash(std::string_view name) {
  Keccak::Digest node{};
  while (!name.empty()) {
    const auto dot = name.rfind('.');
    const std::string_view label = dot == std::string_view::npos ? name : name.substr(dot + 1);
    name = dot == std::string_view::npos ? std::string_view{} : name.substr(0, dot);
    Keccak::Digest labelHash = Keccak::hash256(label);
    Bytes joined(node.begin(), node.end());
    joined.insert(joined.end(), labelHash.begin(), labelHash.end());
    node = Keccak::hash256(joined);
  }
  return node;
}

namespace {

bool isZero(ByteView b) {
  return std::all_of(b.begin(), b.end(), [](std::uint8_t x) { return x == 0; });
}

Bytes withNode(std::string_view signature, const Keccak::Digest& node) {
  return ABI::call(signature, {ABI::Value::fixedBytes(node)});
}

}  // namespace

std::string ENS::resolve(std::string_view name, const EVMRPC& rpc) {
  static const Regex pattern(R"([a-z0-9](?:[a-z0-9-]*[a-z0-9])?(?:\.[a-z0-9](?:[a-z0-9-]*[a-z0-9])?)*\.eth)");
  // ENS normalisation lower-cases ASCII; nothing else is accepted.
  const std::string lowered = text::asciiLowercased(name);
  const std::string shown(name);
  if (!pattern.matchesWhole(lowered)) {
    throw WalletError(shown + " isn't an ENS name orwenna reads: plain letters, digits and hyphens, ending in .eth.");
  }
  const Keccak::Digest node = namehash(lowered);
  Bytes resolverWord = rpc.ethCall(std::string(kRegistry), withNode("resolver(bytes32)", node));
  if (resolverWord.size() < 32 || isZero(ByteView(resolverWord).first(32))) {
    throw WalletError(shown + " has no resolver on Ethereum: it isn't registered, or it lives elsewhere.");
  }
  const std::string resolver = toHex0x(ByteView(resolverWord).subspan(12, 20));
  Bytes addressWord;
  try {
    addressWord = rpc.ethCall(resolver, withNode("addr(bytes32)", node));
  } catch (const EVMRPCError&) {
    addressWord.clear();
  }
  if (addressWord.size() < 32) {
    throw WalletError(shown + "'s resolver doesn't answer on Ethereum (an off-chain name?). Paste the address itself.");
  }
  ByteView address = ByteView(addressWord).subspan(12, 20);
  if (isZero(address)) throw WalletError(shown + " points at no address.");
  return EVMAccount::checksummed(toHex0x(address));
}

}  // namespace orwenna
