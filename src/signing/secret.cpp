#include "signing/secret.h"

#include <openssl/crypto.h>

namespace orwenna {

SecretBytes& SecretBytes::operator=(SecretBytes&& other) noexcept {
  if (this != &other) {
    wipe();
    bytes_ = std::move(other.bytes_);
    other.bytes_.clear();
  }
  return *this;
}

bool SecretBytes::operator==(const SecretBytes& other) const {
  if (bytes_.size() != other.bytes_.size()) return false;
  return CRYPTO_memcmp(bytes_.data(), other.bytes_.data(), bytes_.size()) == 0;
}

void SecretBytes::wipe() {
  wipeBytes(bytes_);
  bytes_.clear();
}

void wipeBytes(std::span<std::uint8_t> bytes) {
  if (!bytes.empty()) OPENSSL_cleanse(bytes.data(), bytes.size());
}

void wipeString(std::string& s) {
  wipeBytes(std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(s.data()), s.size()));
  s.clear();
}

}  // namespace orwenna
