// Solana transactions and messages: bounded, refused in the system's words,
// and a message read back from its own encoding is the same message.
#include "chains/solana_transaction.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orwenna;
  (void)fuzz::refusedOrDone([&] { (void)SolanaTransaction::parse(ByteView(data, size)); });
  (void)fuzz::refusedOrDone([&] {
    SolanaMessage message = SolanaTransaction::parseMessage(ByteView(data, size));
    const Bytes encoded = SolanaTransaction::encodeMessage(message);
    FUZZ_CHECK(SolanaTransaction::encodeMessage(SolanaTransaction::parseMessage(encoded)) == encoded);
  });
  return 0;
}
