// Base58, Base58Check and bech32: what decodes encodes back to the same text
// (bech32 in lower case).
#include "base/text.h"
#include "fuzz_check.h"
#include "signing/base58.h"
#include "signing/bech32.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orwenna;
  const std::string_view text = fuzz::text(data, size);
  if (auto bytes = Base58::tryDecode(text)) FUZZ_CHECK(Base58::encode(*bytes) == text);
  if (auto payload = Base58::checkDecode(text)) FUZZ_CHECK(Base58::checkEncode(*payload) == text);
  if (auto decoded = Bech32::decode(text))
    FUZZ_CHECK(Bech32::encode(decoded->hrp, decoded->data, decoded->encoding) == text::asciiLowercased(text));
  return 0;
}
