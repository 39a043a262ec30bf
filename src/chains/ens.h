// ENS names: the EIP-137 namehash and the resolution of a plain .eth name to
// the address its resolver records, through the registry on Ethereum.
// Pure apart from the node calls; thread-safe.
#pragma once

#include <string>
#include <string_view>

#include "signing/keccak.h"

namespace orwenna {

class EVMRPC;

struct ENS {
  static constexpr std::string_view kRegistry = "0x00000000000c2e074ec69a0dfb2997ba6c7d2e1e";
  // namehash("") = 32 zero bytes; namehash(label.rest) = keccak(namehash(rest) ‖ keccak(label)).
  static Keccak::Digest namehash(std::string_view name);
  // Throws WalletError with the sentence to show when the name is not one we
  // read, has no resolver, the resolver does not answer, or points nowhere.
  // REQUIRES: rpc is an Ethereum mainnet client.
  static std::string resolve(std::string_view name, const EVMRPC& rpc);
};

}  // namespace orwenna
