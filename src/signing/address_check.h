// Validation of a pasted destination address for each network the user can
// send to, of contact names and memos, and the XRP X-address of a classic
// address with a destination tag. Checks return the sentence to show (or
// nothing when acceptable) and never throw. The known-bad address table is
// built once and read-only afterwards; every function is thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace orwenna {

struct AddressCheck {
  // In this order; the raw values are the lower-case names.
  enum class Network {
    solana,
    hyperliquid,
    ethereum,
    arbitrum,
    base,
    robinhood,
    near,
    tempo,
    polygon,
    hyperevm,
    optimism,
    bnb,
    bitcoin,
    zcash,
    tron,
    xrp,
    dogecoin,
    sui,
  };

  static std::span<const Network> allNetworks();
  static std::string_view rawValue(Network network);
  [[nodiscard]] static std::optional<Network> networkFromRawValue(std::string_view raw);
  // The name used in messages ("Robinhood Chain", "XRP Ledger", …).
  static std::string_view displayName(Network network);
  static bool isEVM(Network network);

  // Nothing when `address` (trimmed) is acceptable for `network`, else the message.
  [[nodiscard]] static std::optional<std::string> problem(std::string_view address, Network network);
  // Nothing when a contact name or memo is acceptable, else the message.
  [[nodiscard]] static std::optional<std::string> labelProblem(std::string_view text);
  // A contact name also may not end with "." or "!" nor begin or end with a
  // quote: the command reader drops those, so no line could name it exactly.
  [[nodiscard]] static std::optional<std::string> nameProblem(std::string_view name);
  // The X-address of a classic r-address with `tag`; nothing when the classic
  // address does not decode to a 20-byte account id.
  [[nodiscard]] static std::optional<std::string> xAddress(std::string_view classic, std::uint32_t tag);
};

}  // namespace orwenna
