// Contract-read answers and signatures: decoding never reads past the data,
// and a parsed type's canonical name parses back to itself.
#include "chains/abi_text.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orwenna;
  static const char* const kTypes[] = {"uint256", "(uint256,uint32[],bytes10,bytes)", "string", "address[]",
                                       "(int8,bool,bytes2)[2]", "bytes[]", "(string,(uint8,string)[])"};
  if (size == 0) return 0;
  auto types = ABIType::parseList(kTypes[data[0] % std::size(kTypes)]);
  FUZZ_CHECK(types.has_value());
  (void)abi_text::decode(*types, ByteView(data + 1, size - 1));

  if (auto f = ABIFunction::parse(fuzz::text(data, size))) {
    for (const auto& t : f->outputs) {
      auto again = ABIType::parse(t.name());
      FUZZ_CHECK(again && again->name() == t.name());
    }
  }
  (void)fuzz::refusedOrDone([&] { (void)abi_text::words(fuzz::text(data, size)); });
  return 0;
}
