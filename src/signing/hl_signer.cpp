#include "signing/hl_signer.h"

#include "base/bytes.h"
#include "signing/hl_action.h"
#include "signing/wallet_error.h"

namespace orwenna {

namespace {

void putUint64(Bytes& out, std::uint64_t value) {
  for (int i = 7; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

constexpr const char* kZeroAddress = "0x0000000000000000000000000000000000000000";

std::vector<EIP712::Field> domain(std::string name, std::string version, std::uint64_t chainId) {
  return {
      {"name", "string", EIP712::Value::string(std::move(name))},
      {"version", "string", EIP712::Value::string(std::move(version))},
      {"chainId", "uint256", EIP712::Value::uint(chainId)},
      {"verifyingContract", "address", EIP712::Value::address(kZeroAddress)},
  };
}

[[noreturn]] void missingField(std::string_view name, std::string_view type) {
  throw WalletError("The action has no " + std::string(name) + " field of type " + std::string(type) + ".");
}

// One typed-data field from the action's value of that name; the kinds must
// match exactly (a time given as text is refused, not parsed).
EIP712::Field convertField(const MsgPack& action, std::string_view name, std::string_view type) {
  const MsgPack* value = action.find(name);
  if (value == nullptr) missingField(name, type);
  EIP712::Field field{std::string(name), std::string(type), EIP712::Value::string("")};
  if (type == "string" || type == "address") {
    const std::string* text = value->stringValue();
    if (text == nullptr) missingField(name, type);
    field.value = type == "string" ? EIP712::Value::string(*text) : EIP712::Value::address(*text);
  } else if (type == "uint64") {
    const std::uint64_t* number = value->uintValue();
    if (number == nullptr) missingField(name, type);
    field.value = EIP712::Value::uint(*number);
  } else if (type == "bool") {
    const bool* flag = value->boolValue();
    if (flag == nullptr) missingField(name, type);
    field.value = EIP712::Value::boolean(*flag);
  } else {
    missingField(name, type);
  }
  return field;
}

EIP712::Typed hyperliquidTransaction(const MsgPack& action, std::string_view suffix,
                                     const std::vector<HLUserField>& fields, bool mainnet) {
  EIP712::Typed typed;
  typed.domain = domain("HyperliquidSignTransaction", "1", 421614);
  typed.type = "HyperliquidTransaction:" + std::string(suffix);
  typed.message.reserve(fields.size() + 1);
  typed.message.push_back(
      {"hyperliquidChain", "string", EIP712::Value::string(std::string(HLAction::chainName(mainnet)))});
  for (const HLUserField& f : fields) typed.message.push_back(convertField(action, f.name, f.type));
  return typed;
}

const std::string* actionType(const MsgPack& action) {
  if (action.kind() != MsgPack::Kind::map) throw WalletError("Unrecognized action.");
  const MsgPack* type = action.find("type");
  return type ? type->stringValue() : nullptr;
}

}  // namespace

Bytes HLSigner::actionHashPreimage(const MsgPack& action, const std::optional<std::string>& vaultAddress,
                                   std::uint64_t nonce, std::optional<std::uint64_t> expiresAfter) {
  // The vault is checked first so that nothing is encoded for a bad one.
  std::optional<Bytes> vault;
  if (vaultAddress) {
    vault = fromHex(*vaultAddress);
    if (!vault || vault->size() != 20) throw WalletError("Invalid vault address.");
  }
  Bytes bytes;
  action.encode(bytes);
  putUint64(bytes, nonce);
  if (vault) {
    bytes.push_back(0x01);
    bytes.insert(bytes.end(), vault->begin(), vault->end());
  } else {
    bytes.push_back(0x00);
  }
  if (expiresAfter) {
    bytes.push_back(0x00);
    putUint64(bytes, *expiresAfter);
  }
  return bytes;
}

Keccak::Digest HLSigner::actionHash(const MsgPack& action, const std::optional<std::string>& vaultAddress,
                                    std::uint64_t nonce, std::optional<std::uint64_t> expiresAfter) {
  return Keccak::hash256(actionHashPreimage(action, vaultAddress, nonce, expiresAfter));
}

EIP712::Typed HLSigner::l1TypedData(const MsgPack& action, std::uint64_t nonce,
                                    const std::optional<std::string>& vaultAddress,
                                    std::optional<std::uint64_t> expiresAfter, bool mainnet) {
  Keccak::Digest connectionId = actionHash(action, vaultAddress, nonce, expiresAfter);
  EIP712::Typed typed;
  typed.domain = domain("Exchange", "1", 1337);
  typed.type = "Agent";
  typed.message = {
      {"source", "string", EIP712::Value::string(mainnet ? "a" : "b")},
      {"connectionId", "bytes32", EIP712::Value::bytes32(Bytes(connectionId.begin(), connectionId.end()))},
  };
  return typed;
}

EIP712::Parts HLSigner::l1Parts(const MsgPack& action, std::uint64_t nonce,
                                const std::optional<std::string>& vaultAddress,
                                std::optional<std::uint64_t> expiresAfter, bool mainnet) {
  return EIP712::parts(l1TypedData(action, nonce, vaultAddress, expiresAfter, mainnet));
}

EVMSignature HLSigner::signL1(const MsgPack& action, ByteView key, std::uint64_t nonce,
                              const std::optional<std::string>& vaultAddress,
                              std::optional<std::uint64_t> expiresAfter, bool mainnet) {
  return sign(l1TypedData(action, nonce, vaultAddress, expiresAfter, mainnet), key);
}

EIP712::Typed HLSigner::userTypedData(const MsgPack& action, bool mainnet) {
  const std::string* type = actionType(action);
  const HLUserType* entry = type ? HLAction::userType(*type) : nullptr;
  if (entry == nullptr) throw WalletError("Signing this Hyperliquid action isn't supported.");
  return hyperliquidTransaction(action, entry->suffix, entry->fields, mainnet);
}

EIP712::Parts HLSigner::userParts(const MsgPack& action, bool mainnet) {
  return EIP712::parts(userTypedData(action, mainnet));
}

EVMSignature HLSigner::signUser(const MsgPack& action, ByteView key, bool mainnet) {
  return sign(userTypedData(action, mainnet), key);
}

EIP712::Typed HLSigner::approveAgentTypedData(const MsgPack& action, bool mainnet) {
  static const std::vector<HLUserField> kFields = {
      {"agentAddress", "address"}, {"agentName", "string"}, {"nonce", "uint64"}};
  const std::string* type = actionType(action);
  if (type == nullptr || *type != "approveAgent") {
    throw WalletError("Signing this Hyperliquid action isn't supported.");
  }
  return hyperliquidTransaction(action, "ApproveAgent", kFields, mainnet);
}

EIP712::Parts HLSigner::approveAgentParts(const MsgPack& action, bool mainnet) {
  return EIP712::parts(approveAgentTypedData(action, mainnet));
}

EVMSignature HLSigner::signApproveAgent(const MsgPack& action, ByteView key, bool mainnet) {
  return sign(approveAgentTypedData(action, mainnet), key);
}

EIP712::Typed HLSigner::relayNonceMappingTypedData(const std::string& wallet, const std::string& depositor,
                                                   ByteView id, std::uint64_t nonce) {
  if (id.size() != 32) throw WalletError("Invalid Relay mapping id.");
  EIP712::Typed typed;
  typed.domain = domain("RelayNonceMapping", "2", 1);
  typed.type = "NonceMapping";
  typed.message = {
      {"chainId", "string", EIP712::Value::string("hyperliquid")},
      {"wallet", "address", EIP712::Value::address(wallet)},
      {"depositor", "address", EIP712::Value::address(depositor)},
      {"id", "bytes32", EIP712::Value::bytes32(Bytes(id.begin(), id.end()))},
      {"nonce", "uint256", EIP712::Value::uint(nonce)},
  };
  return typed;
}

EIP712::Parts HLSigner::relayNonceMappingParts(const std::string& wallet, const std::string& depositor,
                                               ByteView id, std::uint64_t nonce) {
  return EIP712::parts(relayNonceMappingTypedData(wallet, depositor, id, nonce));
}

EVMSignature HLSigner::signRelayNonceMapping(const std::string& wallet, const std::string& depositor, ByteView id,
                                             std::uint64_t nonce, ByteView key) {
  return sign(relayNonceMappingTypedData(wallet, depositor, id, nonce), key);
}

EVMSignature HLSigner::sign(const EIP712::Typed& typed, ByteView key) {
  EIP712::Hash digest = EIP712::digest(typed);
  return EVMSigner::sign(digest, key);
}

}  // namespace orwenna
