#include "signing/hl_signer.h"

#include "base/bytes.h"
#include "signing/wallet_error.h"

namespace orwenna {

namespace {

void putUint64(Bytes& out, std::uint64_t value) {
  for (int i = 7; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
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

}  // namespace orwenna
