// Calldata the EVM rules judge: any bytes decode into one of the known cases
// and the rules answer without throwing.
#include "chains/evm_call.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orwenna;
  const EVMCall call = EVMCall::decode("0x833589fcd6edb6e08f4c7c32d4f71b54bda02913", ByteView(data, size));
  (void)EVMCall::problem(call, "0x9858effd232b4033e47d90003d41ec34ecaeda94", 1'800'000'000);
  FUZZ_CHECK(size < 4 || call.selector.size() == 8);
  return 0;
}
