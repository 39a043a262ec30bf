#include "signing/evm_signer.h"

#include <algorithm>
#include <string>

#include <openssl/rand.h>
#include <secp256k1.h>
#include <secp256k1_recovery.h>

#include "signing/accounts.h"
#include "signing/secret.h"
#include "signing/wallet_error.h"
#include "signing/secp256k1_context.h"

namespace orwenna {

namespace {

const char* const kNotASignature = "Not a signature over a 32-byte hash.";

}  // namespace

Bytes EVMSignature::bytes() const {
  Bytes out;
  out.reserve(65);
  out.insert(out.end(), r.begin(), r.end());
  out.insert(out.end(), s.begin(), s.end());
  out.push_back(static_cast<std::uint8_t>(v));
  return out;
}

std::optional<EVMSignature> EVMSignature::fromBytes(ByteView bytes) {
  if (bytes.size() != 65) return std::nullopt;
  EVMSignature sig;
  std::copy(bytes.begin(), bytes.begin() + 32, sig.r.begin());
  std::copy(bytes.begin() + 32, bytes.begin() + 64, sig.s.begin());
  sig.v = bytes[64];
  return sig;
}

Json EVMSignature::toJson() const {
  Json j = Json::object();
  j["r"] = toBase64(r);
  j["s"] = toBase64(s);
  j["v"] = v;
  return j;
}

EVMSignature EVMSignature::fromJson(const Json& json) {
  if (!json.is_object()) throw WalletError(kNotASignature);
  auto half = [&](const char* key, std::array<std::uint8_t, 32>& out) {
    auto it = json.find(key);
    if (it == json.end() || !it->is_string()) throw WalletError(kNotASignature);
    auto raw = fromBase64(it->get<std::string>());
    if (!raw || raw->size() != 32) throw WalletError(kNotASignature);
    std::copy(raw->begin(), raw->end(), out.begin());
  };
  EVMSignature sig;
  half("r", sig.r);
  half("s", sig.s);
  auto v = json.find("v");
  if (v == json.end() || !v->is_number_integer()) throw WalletError(kNotASignature);
  std::int64_t raw = v->get<std::int64_t>();
  if (raw < 0 || raw > 255) throw WalletError(kNotASignature);
  sig.v = static_cast<int>(raw);
  return sig;
}

EVMSignature EVMSigner::sign(ByteView hash, ByteView privateKey) {
  if (hash.size() != 32) throw WalletError("Only a 32-byte hash can be signed.");
  if (!EVMAccount::isValidSecret(privateKey)) throw WalletError("The private key isn't a valid secp256k1 key.");
  secp256k1_ecdsa_recoverable_signature raw;
  // A null nonce function selects RFC 6979; the library always returns low s.
  if (secp256k1_ecdsa_sign_recoverable(secp256k1Context(), &raw, hash.data(), privateKey.data(), nullptr, nullptr) != 1) {
    throw WalletError("The private key isn't a valid secp256k1 key.");
  }
  std::uint8_t compact[64];
  int recoveryId = 0;
  secp256k1_ecdsa_recoverable_signature_serialize_compact(secp256k1Context(), compact, &recoveryId, &raw);
  EVMSignature sig;
  std::copy(compact, compact + 32, sig.r.begin());
  std::copy(compact + 32, compact + 64, sig.s.begin());
  sig.v = 27 + recoveryId;
  return sig;
}

std::string EVMSigner::recover(const EVMSignature& signature, ByteView hash) {
  if (hash.size() != 32 || (signature.v != 27 && signature.v != 28)) throw WalletError(kNotASignature);
  std::uint8_t compact[64];
  std::copy(signature.r.begin(), signature.r.end(), compact);
  std::copy(signature.s.begin(), signature.s.end(), compact + 32);
  secp256k1_ecdsa_recoverable_signature raw;
  secp256k1_pubkey pub;
  if (secp256k1_ecdsa_recoverable_signature_parse_compact(secp256k1Context(), &raw, compact, signature.v - 27) != 1 ||
      secp256k1_ecdsa_recover(secp256k1Context(), &pub, &raw, hash.data()) != 1) {
    throw WalletError("No key recovers from this signature.");
  }
  std::uint8_t full[65];
  std::size_t len = sizeof full;
  secp256k1_ec_pubkey_serialize(secp256k1Context(), full, &len, &pub, SECP256K1_EC_UNCOMPRESSED);
  return EVMAccount::checksummed(toHex(EVMAccount::addressBytes(ByteView(full + 1, 64))));
}

Keccak::Digest PersonalMessage::hash(ByteView message) {
  std::string prefix = "\x19" "Ethereum Signed Message:\n" + std::to_string(message.size());
  Bytes buffer(prefix.begin(), prefix.end());
  buffer.insert(buffer.end(), message.begin(), message.end());
  return Keccak::hash256(ByteView(buffer));
}

}  // namespace orwenna
