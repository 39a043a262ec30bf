#include "defi/yield_place.h"

#include "base/bytes.h"
#include "chains/evm_network.h"

namespace orwenna {

Decimal unitsToDecimal(const UInt256& units, int decimals) { return Decimal::parse(formatUnits(units, decimals)); }

UInt256 baseUnitsOf(const Decimal& amount, int decimals, const std::string& symbol) {
  if (!amount.isPositive()) throw YieldError("The amount of " + symbol + " must be more than zero. Nothing was signed.");
  Decimal scaled = amount.scaledByPowerOfTen(decimals);
  Decimal whole = scaled.rounded(0, RoundingMode::towardZero);
  auto units = whole == scaled ? parseUInt256(whole.toString()) : std::nullopt;
  if (!units) {
    throw YieldError(amount.toString() + " " + symbol + " is finer than one unit of " + symbol +
                     ". Nothing was signed.");
  }
  return *units;
}

UInt256 answerWord(const Bytes& answer, std::size_t index, const std::string& what) {
  if (answer.size() < 32 * (index + 1)) throw YieldError("The node's answer to " + what + " is too short.");
  return fromBigEndian(ByteView(answer).subspan(32 * index, 32));
}

std::string answerAddress(const Bytes& answer, std::size_t index, const std::string& what) {
  if (answer.size() < 32 * (index + 1)) throw YieldError("The node's answer to " + what + " is too short.");
  return toHex0x(ByteView(answer).subspan(32 * index + 12, 20));
}

}  // namespace orwenna
