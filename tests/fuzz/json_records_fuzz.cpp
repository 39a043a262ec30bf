// JSON the app reads from outside or from its own files: signer requests and
// replies, journal lines and the model's answer. Each is refused in the
// system's words or read, and what is read writes back to the same value.
#include "base/json.h"
#include "execution/journal.h"
#include "fuzz_check.h"
#include "router/chat_router.h"
#include "signing/signer_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orwenna;
  const std::string_view text = fuzz::text(data, size);
  (void)fuzz::refusedOrDone([&] { (void)ChatRouter::parseStep(ChatRouter::firstObject(text)); });
  auto json = parseJson(text);
  if (!json) return 0;
  (void)fuzz::refusedOrDone([&] {
    SignerRequest request = SignerRequest::fromJson(*json);
    FUZZ_CHECK(SignerRequest::fromJson(request.toJson()).toJson() == request.toJson());
  });
  (void)fuzz::refusedOrDone([&] { (void)SignerReply::fromJson(*json).toJson(); });
  (void)fuzz::refusedOrDone([&] {
    if (auto entry = Journal::Entry::fromJson(*json)) {
      auto again = Journal::Entry::fromJson(entry->toJson());
      FUZZ_CHECK(again.has_value() && *again == *entry);
    }
  });
  return 0;
}
