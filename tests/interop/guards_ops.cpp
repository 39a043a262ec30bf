// Guard ops for the interop checks: the verdict of SolanaGuard on a wire
// transaction compiled elsewhere.
#include <map>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "base/decimal.h"
#include "chains/solana_transaction.h"
#include "guards/tx_guard.h"
#include "helper.h"

namespace orwenna::interop {

namespace {

// {transaction: hex, owner, recipients: [..], programs: [ids], maxPriorityFee,
//  tables?: {address: [entries]}} → {checks, problems}
OpRegistrar solanaGuard("guard.solana", [](const Json& request) {
  auto wire = fromHex(requireString(request, "transaction"), false);
  if (!wire) throw std::runtime_error("bad hex in transaction");
  SolanaMessage message = SolanaTransaction::parseMessage(SolanaTransaction::parse(*wire).message);
  std::map<std::string, std::vector<std::string>> tables;
  if (request.contains("tables")) {
    for (const auto& [address, entries] : request["tables"].items()) {
      tables[address] = entries.get<std::vector<std::string>>();
    }
  }
  SolanaPolicy policy;
  policy.owner = requireString(request, "owner");
  for (const auto& r : requireField(request, "recipients")) policy.recipients.insert(r.get<std::string>());
  std::vector<std::string_view> ids;
  const Json& programs = requireField(request, "programs");
  for (const auto& p : programs) ids.push_back(p.get_ref<const std::string&>());
  policy.programs = SolanaPolicy::allow(ids);
  policy.maxPriorityFee = Decimal::parse(requireString(request, "maxPriorityFee"));
  Verdict v = SolanaGuard::check(message, SolanaTransaction::resolveAccounts(message, tables), policy);
  return Json{{"checks", v.checks}, {"problems", v.problems}};
});

}  // namespace

}  // namespace orwenna::interop
