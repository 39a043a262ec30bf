// What the send pipelines of every chain share: the outcome of one move as
// the chat reports it, and the wording of a stop before the signature.
//
// Plain values and pure functions; thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace orwenna {

struct ChainSendOutcome {
  enum class Kind {
    confirmed,  // landed and succeeded
    failed,     // landed and failed, or refused by the node after signing
    expired,    // can no longer land
    unknown,    // sent, outcome not known yet: the journal entry stays open
  };
  std::string chain;  // the journal's chain: "solana", "near", an EVM network's name
  std::string id;     // signature or hash, as journaled
  Kind kind = Kind::unknown;
  std::string detail;               // the chain's error text, or why the outcome is unknown
  std::vector<std::string> checks;  // what the guards and the signer verified
};

// The sentence ending of every stop before a signature.
inline constexpr std::string_view kNothingWasSigned = "Nothing was signed.";

// `text` as a finished sentence followed by "Nothing was signed." (once).
std::string nothingSigned(std::string_view text);
// The problems of a refused verdict, one sentence each, then "Nothing was signed.".
std::string nothingSigned(const std::vector<std::string>& problems);

}  // namespace orwenna
