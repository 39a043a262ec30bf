// Time and randomness behind small interfaces, so tests can pin both.
//
// Code deep inside the system takes a Clock& / Random& from its owner and never
// reaches for the real ones itself. Implementations are thread-safe.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace orwenna {

class Clock {
 public:
  virtual ~Clock() = default;
  // Wall time: milliseconds since 1970 (UTC). Nonces and stored times use this.
  virtual std::int64_t nowMillis() const = 0;
  // A continuous clock for intervals and time-outs; never jumps backwards.
  virtual std::int64_t monotonicMillis() const = 0;
  virtual void sleepFor(std::int64_t millis) = 0;
};

class SystemClock final : public Clock {
 public:
  std::int64_t nowMillis() const override;
  std::int64_t monotonicMillis() const override;
  void sleepFor(std::int64_t millis) override;
  static SystemClock& shared();
};

class Random {
 public:
  virtual ~Random() = default;
  // Fills `out` with cryptographically secure bytes; throws std::runtime_error
  // when the source fails (never returns weak bytes).
  virtual void fill(std::span<std::uint8_t> out) = 0;
  std::uint64_t nextU64();
};

// OpenSSL's RAND_bytes.
class SecureRandom final : public Random {
 public:
  void fill(std::span<std::uint8_t> out) override;
  static SecureRandom& shared();
};

// A random (version 4) UUID in upper-case text form:
// "E621E1F8-C36C-495A-93FC-0C247A3E6E5F".
std::string makeUuid(Random& random);
bool isUuid(const std::string& text);  // the upper- or lower-case text form

}  // namespace orwenna
