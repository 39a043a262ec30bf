// Typed data a web page asks the browser wallet to sign (the JSON of an
// eth_signTypedData_v4 request): reading it into the fields shown to the user
// and the EIP-712 digest to sign, and the policy that refuses the kinds a
// drainer sends (permits, user operations, Hyperliquid actions, token
// authorisations, payments). Pure; thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/json.h"
#include "signing/eip712.h"

namespace orwenna {

struct TypedData {
  // One message field as shown for review: the value is the text as received.
  struct Field {
    std::string name;
    std::string type;
    std::string value;
    bool operator==(const Field&) const = default;
  };

  std::string primaryType;
  std::string domainName;         // the domain's "name", empty when absent
  std::string chainId;            // the domain's chain id as text, empty when absent
  std::string verifyingContract;  // lower-cased, empty when absent
  std::vector<Field> fields;
  EIP712::Hash digest{};

  // Throws WalletError with the sentence for the first thing that stops it:
  // unreadable JSON or shape, a field without a name or type, nested structs
  // or arrays, an unsupported type, or a value its type cannot hold. Numbers
  // are read from the JSON text exactly, however long.
  [[nodiscard]] static TypedData parse(std::string_view jsonText);

  // Why the system will not sign this for a web page, or nothing when it may be
  // shown to the user for signing.
  [[nodiscard]] static std::optional<std::string> refusal(const TypedData& typed);

  // {"primaryType", "domainName", "chainId", "verifyingContract",
  //  "fields": [{"name", "type", "value"}], "digest": Base64}
  Json toJson() const;
};

}  // namespace orwenna
