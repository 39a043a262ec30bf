#include "base/clock.h"

#include <chrono>
#include <stdexcept>
#include <thread>

#include <fmt/format.h>
#include <openssl/rand.h>

namespace orwenna {

std::int64_t SystemClock::nowMillis() const {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::int64_t SystemClock::monotonicMillis() const {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void SystemClock::sleepFor(std::int64_t millis) {
  if (millis > 0) std::this_thread::sleep_for(std::chrono::milliseconds(millis));
}

SystemClock& SystemClock::shared() {
  static SystemClock clock;
  return clock;
}

std::uint64_t Random::nextU64() {
  std::uint8_t b[8];
  fill(b);
  std::uint64_t v = 0;
  for (std::uint8_t x : b) v = v << 8 | x;
  return v;
}

void SecureRandom::fill(std::span<std::uint8_t> out) {
  if (out.empty()) return;
  if (RAND_bytes(out.data(), static_cast<int>(out.size())) != 1) {
    throw std::runtime_error("The system's secure random source failed");
  }
}

SecureRandom& SecureRandom::shared() {
  static SecureRandom random;
  return random;
}

std::string makeUuid(Random& random) {
  std::uint8_t b[16];
  random.fill(b);
  b[6] = static_cast<std::uint8_t>((b[6] & 0x0f) | 0x40);  // version 4
  b[8] = static_cast<std::uint8_t>((b[8] & 0x3f) | 0x80);  // RFC 4122 variant
  return fmt::format("{:02X}{:02X}{:02X}{:02X}-{:02X}{:02X}-{:02X}{:02X}-{:02X}{:02X}-{:02X}{:02X}{:02X}{:02X}{:02X}{:02X}",
                     b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14],
                     b[15]);
}

bool isUuid(const std::string& text) {
  if (text.size() != 36) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (c != '-') return false;
    } else if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
      return false;
    }
  }
  return true;
}

}  // namespace orwenna
