// SecretBytes: an owning buffer for seeds, private keys and chain codes that is
// wiped (OPENSSL_cleanse) when it goes away or is reassigned. It never prints
// itself; copying is explicit (`copy()`), so secrets do not spread by accident.
// Not thread-safe; one owner at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace orwenna {

class SecretBytes {
 public:
  SecretBytes() = default;
  explicit SecretBytes(std::size_t size) : bytes_(size, 0) {}
  explicit SecretBytes(std::span<const std::uint8_t> bytes) : bytes_(bytes.begin(), bytes.end()) {}
  ~SecretBytes() { wipe(); }

  SecretBytes(SecretBytes&& other) noexcept : bytes_(std::move(other.bytes_)) { other.bytes_.clear(); }
  SecretBytes& operator=(SecretBytes&& other) noexcept;
  SecretBytes(const SecretBytes&) = delete;
  SecretBytes& operator=(const SecretBytes&) = delete;

  SecretBytes copy() const { return SecretBytes(span()); }

  std::uint8_t* data() { return bytes_.data(); }
  const std::uint8_t* data() const { return bytes_.data(); }
  std::size_t size() const { return bytes_.size(); }
  bool empty() const { return bytes_.empty(); }
  std::span<std::uint8_t> span() { return bytes_; }
  std::span<const std::uint8_t> span() const { return bytes_; }
  std::uint8_t& operator[](std::size_t i) { return bytes_[i]; }
  const std::uint8_t& operator[](std::size_t i) const { return bytes_[i]; }

  // Constant-time comparison of equal-length secrets.
  bool operator==(const SecretBytes& other) const;

  void wipe();

 private:
  std::vector<std::uint8_t> bytes_;
};

// Wipes any buffer that held secret material.
void wipeBytes(std::span<std::uint8_t> bytes);
// Wipes a string that held a phrase or a pasted key, then empties it.
void wipeString(std::string& s);

}  // namespace orwenna
