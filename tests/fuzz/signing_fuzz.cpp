// What the signer reads from outside: typed data for a page (parsed or refused
// in the system's words, and judged without throwing), MessagePack in both its
// JSON forms (what is read writes back to the same form), address checks and
// the Assuan escaping of prompt texts.
#include "base/json.h"
#include "fuzz_check.h"
#include "signer/pinentry.h"
#include "signing/address_check.h"
#include "signing/msgpack.h"
#include "signing/typed_data.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orwenna;
  const std::string_view text = fuzz::text(data, size);
  (void)fuzz::refusedOrDone([&] {
    TypedData typed = TypedData::parse(text);
    (void)TypedData::refusal(typed);
    (void)typed.toJson();
  });
  for (AddressCheck::Network n : AddressCheck::allNetworks()) (void)AddressCheck::problem(text, n);
  (void)AddressCheck::labelProblem(text);

  const std::string escaped = assuanEscape(text);
  auto back = assuanUnescape(escaped);
  FUZZ_CHECK(back.has_value() && *back == text);
  (void)assuanUnescape(text);

  auto json = parseJson(text);
  if (!json) return 0;
  (void)fuzz::refusedOrDone([&] {
    MsgPack tagged = MsgPack::fromJson(*json);
    FUZZ_CHECK(MsgPack::fromJson(tagged.toJson()) == tagged);
  });
  (void)fuzz::refusedOrDone([&] {
    MsgPack plain = MsgPack::fromPlainJson(*json);
    (void)fuzz::refusedOrDone([&] { FUZZ_CHECK(MsgPack::fromPlainJson(plain.toPlainJson()) == plain); });
  });
  return 0;
}
