// Solana ops for the interop checks: building and parsing messages, program
// and associated token addresses, and the Ed25519 point test.
#include <map>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "chains/solana_curve.h"
#include "chains/solana_transaction.h"
#include "chains/spl.h"
#include "helper.h"

namespace orwenna::interop {

namespace {

Bytes hexField(const Json& request, const char* name) {
  auto b = fromHex(requireString(request, name), false);
  if (!b) throw std::runtime_error(std::string("bad hex in ") + name);
  return *b;
}

std::uint64_t u64Field(const Json& request, const char* name) {
  std::string text = requireString(request, name);
  std::uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') throw std::runtime_error("bad number");
    v = v * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return v;
}

OpRegistrar build("solana.build", [](const Json& request) {
  std::vector<SolanaInstruction> instructions;
  for (const auto& ix : requireField(request, "instructions")) {
    SolanaInstruction out;
    out.program = requireString(ix, "program");
    out.data = hexField(ix, "data");
    for (const auto& a : requireField(ix, "accounts")) {
      out.accounts.push_back({requireString(a, "pubkey"), requireBool(a, "isSigner"), requireBool(a, "isWritable")});
    }
    instructions.push_back(std::move(out));
  }
  auto built = SolanaTransaction::build(instructions, requireString(request, "payer"),
                                        requireString(request, "blockhash"), u64Field(request, "price"));
  return Json{{"transaction", toHex(built.transaction)}, {"message", toHex(built.message)}};
});

OpRegistrar parseMessage("solana.parseMessage", [](const Json& request) {
  SolanaMessage m = SolanaTransaction::parseMessage(hexField(request, "hex"));
  std::map<std::string, std::vector<std::string>> tables;
  if (request.contains("tables")) {
    for (const auto& [address, entries] : request["tables"].items()) {
      tables[address] = entries.get<std::vector<std::string>>();
    }
  }
  Json instructions = Json::array();
  for (const auto& ix : m.instructions) {
    instructions.push_back({{"programIndex", ix.programIndex}, {"accounts", ix.accounts}, {"data", toHex(ix.data)}});
  }
  Json lookups = Json::array();
  for (const auto& l : m.lookups) {
    lookups.push_back({{"table", l.table}, {"writable", l.writable}, {"readonly", l.readonly}});
  }
  return Json{{"version", m.version ? Json(*m.version) : Json("legacy")},
              {"header", {m.requiredSignatures, m.readonlySignedAccounts, m.readonlyUnsignedAccounts}},
              {"staticKeys", m.staticKeys},
              {"blockhash", m.recentBlockhash},
              {"instructions", instructions},
              {"lookups", lookups},
              {"resolved", SolanaTransaction::resolveAccounts(m, tables)}};
});

OpRegistrar pda("solana.pda", [](const Json& request) {
  std::vector<Bytes> seeds;
  for (const auto& s : requireField(request, "seeds")) {
    auto b = fromHex(s.get<std::string>(), false);
    if (!b) throw std::runtime_error("bad seed");
    seeds.push_back(*b);
  }
  auto [address, bump] = SPL::findProgramAddress(seeds, requireString(request, "program"));
  return Json{{"address", address}, {"bump", bump}};
});

OpRegistrar ata("solana.ata", [](const Json& request) {
  return Json(SPL::associatedTokenAddress(requireString(request, "owner"), requireString(request, "mint"),
                                          requireString(request, "tokenProgram")));
});

OpRegistrar onCurve("solana.isOnCurve", [](const Json& request) {
  return Json(Ed25519Curve::isOnCurve(hexField(request, "hex")));
});

}  // namespace

}  // namespace orwenna::interop
