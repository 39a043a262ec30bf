#include "signer/sealing.h"

#include <openssl/evp.h>

#include <memory>

namespace orwenna {

namespace {

struct CipherContextFree {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree>;

constexpr std::size_t kNonceBytes = 12;
constexpr std::size_t kTagBytes = 16;

Bytes base64Field(const Json& json, const char* key) {
  if (!json.is_object() || !json.contains(key) || !json.at(key).is_string()) {
    throw SignerServiceError(std::string("The signer's key file is damaged (no ") + key + ").");
  }
  auto bytes = fromBase64(json.at(key).get<std::string>());
  if (!bytes) throw SignerServiceError(std::string("The signer's key file is damaged (") + key + " is not Base64).");
  return *bytes;
}

}  // namespace

Json ScryptParams::toJson() const {
  return Json{{"kdf", "scrypt"}, {"salt", toBase64(salt)}, {"log2N", log2N}, {"r", r}, {"p", p}};
}

ScryptParams ScryptParams::fromJson(const Json& json) {
  ScryptParams p;
  p.salt = base64Field(json, "salt");
  auto number = [&](const char* key) {
    if (!json.contains(key) || !json.at(key).is_number_integer()) {
      throw SignerServiceError(std::string("The signer's key file is damaged (no ") + key + ").");
    }
    return json.at(key).get<int>();
  };
  p.log2N = number("log2N");
  p.r = number("r");
  p.p = number("p");
  if (p.salt.size() < 16 || p.log2N < kMinLog2N || p.log2N > kMaxLog2N || p.r < 1 || p.r > 32 || p.p < 1 ||
      p.p > 16) {
    throw SignerServiceError("The signer's key file has key-stretching settings it does not accept.");
  }
  return p;
}

Json SealedBox::toJson() const { return Json{{"nonce", toBase64(nonce)}, {"data", toBase64(data)}}; }

SealedBox SealedBox::fromJson(const Json& json) {
  SealedBox box{base64Field(json, "nonce"), base64Field(json, "data")};
  if (box.nonce.size() != kNonceBytes || box.data.size() < kTagBytes) {
    throw SignerServiceError("The signer's key file is damaged (a sealed key is cut short).");
  }
  return box;
}

SecretBytes Sealing::deriveKey(std::string_view passphrase, const ScryptParams& params) {
  SecretBytes key(kKeyBytes);
  const std::uint64_t n = std::uint64_t{1} << params.log2N;
  // Room for scrypt's 128·N·r·p bytes and its smaller buffers.
  const std::uint64_t maxMem = 256ull * n * static_cast<std::uint64_t>(params.r) * static_cast<std::uint64_t>(params.p);
  int rc = EVP_PBE_scrypt(passphrase.data(), passphrase.size(), params.salt.data(), params.salt.size(), n,
                          static_cast<std::uint64_t>(params.r), static_cast<std::uint64_t>(params.p), maxMem,
                          key.data(), key.size());
  if (rc != 1) throw SignerServiceError("The signer could not stretch the passphrase (scrypt failed).");
  return key;
}

SealedBox Sealing::seal(const SecretBytes& key, ByteView plaintext, std::string_view label, Random& random) {
  SealedBox box;
  box.nonce.resize(kNonceBytes);
  random.fill(box.nonce);
  box.data.resize(plaintext.size() + kTagBytes);
  CipherContext ctx(EVP_CIPHER_CTX_new());
  int len = 0;
  bool ok = ctx && EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
            EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, kNonceBytes, nullptr) == 1 &&
            EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, key.data(), box.nonce.data()) == 1 &&
            EVP_EncryptUpdate(ctx.get(), nullptr, &len, reinterpret_cast<const unsigned char*>(label.data()),
                              static_cast<int>(label.size())) == 1 &&
            EVP_EncryptUpdate(ctx.get(), box.data.data(), &len, plaintext.data(), static_cast<int>(plaintext.size())) ==
                1;
  int tail = 0;
  ok = ok && EVP_EncryptFinal_ex(ctx.get(), box.data.data() + len, &tail) == 1 &&
       EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kTagBytes, box.data.data() + plaintext.size()) == 1;
  if (!ok) throw SignerServiceError("The signer could not seal a key (AES-GCM failed).");
  return box;
}

std::optional<SecretBytes> Sealing::open(const SecretBytes& key, const SealedBox& box, std::string_view label) {
  if (key.size() != kKeyBytes || box.nonce.size() != kNonceBytes || box.data.size() < kTagBytes) return std::nullopt;
  const std::size_t size = box.data.size() - kTagBytes;
  SecretBytes out(size);
  CipherContext ctx(EVP_CIPHER_CTX_new());
  int len = 0;
  Bytes tag(box.data.end() - kTagBytes, box.data.end());
  bool ok = ctx && EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
            EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, kNonceBytes, nullptr) == 1 &&
            EVP_DecryptInit_ex(ctx.get(), nullptr, nullptr, key.data(), box.nonce.data()) == 1 &&
            EVP_DecryptUpdate(ctx.get(), nullptr, &len, reinterpret_cast<const unsigned char*>(label.data()),
                              static_cast<int>(label.size())) == 1 &&
            EVP_DecryptUpdate(ctx.get(), out.data(), &len, box.data.data(), static_cast<int>(size)) == 1 &&
            EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kTagBytes, tag.data()) == 1;
  int tail = 0;
  ok = ok && EVP_DecryptFinal_ex(ctx.get(), out.data() + len, &tail) == 1;
  if (!ok) return std::nullopt;
  return out;
}

}  // namespace orwenna
