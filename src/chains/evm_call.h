// What a call's data does, read from its selector and arguments into a
// closed set of cases, and the rules that refuse the cases drainers use.
// Arguments are read the way the EVM reads calldata: bytes past the end are
// zero and an address is the low 20 bytes of its word, so a short or padded
// argument cannot hide a larger amount from the rules. Pure; thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.h"
#include "base/uint.h"

namespace orwenna {

struct EVMCall {
  enum class Kind {
    approve,            // to = spender, amount
    increaseAllowance,  // to = spender, amount
    transfer,           // to, amount
    transferFrom,       // from, to, amount
    setApprovalForAll,  // to = operator, granted
    swap,               // to = recipient
    vault,              // to = receiver, from = owner (optional)
    lending,            // to = beneficiary
    claim,              // recipients
    permit2Approve,     // asset = token, to = spender, amount, expiration
    v4Swap,             // commands, inputs
    nftTransfer,        // from, to
    delegation,         // to, granted
    unwrap,             // amount
    cctpBurn,           // recipient (optional), domain, amount
    borrow,             // asset, amount, to = onBehalfOf
    repay,              // asset, amount, to = onBehalfOf
    contract,           // selector
    plain,              // no data
    permit,
    wrap,
  };

  Kind kind = Kind::plain;
  std::string target;                 // the called contract, as given
  std::string to;                     // the counterparty named above, lower-case "0x…"
  std::optional<std::string> from;    // transferFrom/nftTransfer from, vault owner
  std::string asset;
  UInt256 amount;
  bool granted = false;
  std::uint64_t expiration = 0;
  std::vector<std::string> recipients;
  std::optional<std::string> recipient;  // cctpBurn: the EVM address minted to, if it is one
  Bytes mintRecipient;                   // cctpBurn: the raw 32-byte recipient
  std::uint32_t domain = 0;
  std::string selector;                  // 8 hex digits; set whenever there is data
  Bytes commands;                        // v4Swap
  std::vector<Bytes> inputs;             // v4Swap

  static std::string_view kindName(Kind kind);

  [[nodiscard]] static EVMCall decode(std::string_view to, ByteView data);
  // Nothing when the call may be signed for `wallet`, else the refusal.
  [[nodiscard]] static std::optional<std::string> problem(const EVMCall& call, std::string_view wallet,
                                                          std::int64_t nowSeconds);

  // 2^96 or more: any non-zero byte among the word's first 20.
  static bool isUnlimited(const UInt256& amount);
  // Same 20 bytes, whatever the letter case.
  static bool sameAddress(std::string_view a, std::string_view b);
};

}  // namespace orwenna
