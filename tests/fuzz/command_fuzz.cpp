// The command language: a wallet or position command read from any text
// writes a line that reads back as the same command.
#include "base/json.h"
#include "fuzz_check.h"
#include "language/commands.h"
#include "language/wallet_command.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace orwenna;
  const std::string_view text = fuzz::text(data, size);
  (void)fuzz::refusedOrDone([&] {
    if (auto c = WalletCommand::parse(text)) {
      // The reader drops one "." or "!" at the end of a line and the quotes
      // around a name, so a name ending or starting with them can't be
      // written back; such names are left out of the property.
      const Json fields = c->toJson();
      if (fields.contains("name") && fields["name"].is_string()) {
        const std::string name = fields["name"].get<std::string>();
        for (std::string_view mark : {".", "!", "\"", "»", "”", "«", "“"})
          if (name.ends_with(mark) || name.starts_with(mark)) return;
      }
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
