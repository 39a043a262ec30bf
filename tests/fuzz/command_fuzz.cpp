// The command language: a wallet or position command read from any text
// writes a line that reads back as the same command.
#include "fuzz_check.h"
#include "language/commands.h"
#include "language/wallet_command.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orwenna;
  const std::string_view text = fuzz::text(data, size);
  (void)fuzz::refusedOrDone([&] {
    if (auto c = WalletCommand::parse(text)) {
      auto again = WalletCommand::parse(c->line());
      FUZZ_CHECK(again.has_value() && *again == *c);
    }
  });
  (void)fuzz::refusedOrDone([&] {
    if (auto p = PositionCommand::parse(text)) {
      auto again = PositionCommand::parse(p->line());
      FUZZ_CHECK(again.has_value() && *again == *p);
    }
  });
  return 0;
}
