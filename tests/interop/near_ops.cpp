// NEAR ops for the interop checks: signed transactions from given fields and
// the wrap-and-deposit calls.
#include <string>
#include <vector>

#include "base/bytes.h"
#include "base/uint.h"
#include "chains/near_transaction.h"
#include "helper.h"

namespace orwenna::interop {

namespace {

Bytes nearHex(const Json& request, const char* name) {
  auto b = fromHex(requireString(request, name), false);
  if (!b) throw std::runtime_error(std::string("bad hex in ") + name);
  return *b;
}

UInt128 nearU128(const Json& request, const char* name) {
  auto v = parseUInt128(requireString(request, name));
  if (!v) throw std::runtime_error(std::string("bad number in ") + name);
  return *v;
}

std::vector<NearAction> nearActions(const Json& list) {
  std::vector<NearAction> out;
  for (const auto& a : list) {
    const std::string type = requireString(a, "type");
    if (type == "transfer") {
      out.push_back(NearAction::transfer(nearU128(a, "deposit")));
    } else if (type == "deleteAccount") {
      out.push_back(NearAction::deleteAccount(requireString(a, "beneficiary")));
    } else {
      out.push_back(NearAction::functionCall(requireString(a, "method"), requireString(a, "args"),
                                             static_cast<std::uint64_t>(nearU128(a, "gas")), nearU128(a, "deposit")));
    }
  }
  return out;
}

OpRegistrar nearSigned("near.signed", [](const Json& request) {
  Bytes seed = nearHex(request, "seed");
  auto signedTx = NearTransaction::signedBytes(seed, static_cast<std::uint64_t>(nearU128(request, "nonce")),
                                               requireString(request, "receiver"), nearHex(request, "blockHash"),
                                               nearActions(requireField(request, "actions")));
  return Json{{"signed", toHex(signedTx)}, {"id", NearTransaction::idOfSigned(signedTx)}};
});

OpRegistrar nearDeposit("near.intentDeposit", [](const Json& request) {
  Bytes seed = nearHex(request, "seed");
  const std::string sender = requireString(request, "sender");
  auto actions = NearTransaction::intentDeposit(sender, requireString(request, "depositAddress"),
                                                nearU128(request, "amount"));
  auto signedTx = NearTransaction::signedBytes(seed, static_cast<std::uint64_t>(nearU128(request, "nonce")),
                                               NearTransaction::kWrapContract, nearHex(request, "blockHash"), actions);
  return Json{{"signed", toHex(signedTx)}};
});

}  // namespace

}  // namespace orwenna::interop
