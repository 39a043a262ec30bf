// RLP: anything decoded encodes to bytes that decode to the same value.
#include "chains/rlp.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orwenna;
  auto decoded = RLP::decode(ByteView(data, size));
  if (!decoded) return 0;
  const Bytes encoded = decoded->encode();
  auto again = RLP::decode(encoded);
  FUZZ_CHECK(again.has_value());
  FUZZ_CHECK(again->encode() == encoded);
  return 0;
}
