#include "app/gas_lookup.h"

#include <array>
#include <future>
#include <map>

#include "base/text.h"
#include "chains/evm_rpc.h"
#include "language/command_text.h"
#include "trading/fmt.h"

namespace orwenna::Agent {
namespace {

constexpr std::string_view kFooter =
    "Relay's own fee for a bridge is apart: it is on the move's card. Tempo has no gas coin: its fees come out of "
    "the USDC.";

constexpr std::array<TypicalCall, 5> kCalls{{
    {"a transfer", 65'000},
    {"a Uniswap swap", 200'000},
    {"approve + Aave supply", 250'000},
    {"approve + Morpho deposit", 500'000},
    {"an exact approve + Relay's deposit", 150'000},
}};

Decimal toDecimal(const UInt256& v) { return Decimal::parse(toDecimalString(v)); }

// Cents when there are any; an L2 call costing a fraction of a cent keeps two
// significant digits rather than reading "$0.00".
std::string costText(const Decimal& usd) {
  if (usd.isZero()) return "$0";
  if (usd >= Decimal::parse("0.01")) return Fmt::usd(usd);
  return "$" + Fmt::sig(usd, 2);
}

const EVMNetwork* networkNamed(std::string_view name) {
  if (const EVMNetwork* n = EVMNetwork::byKey(name)) return n;
  if (auto canonical = grammar::network(text::trimmed(name))) return EVMNetwork::byKey(*canonical);
  return nullptr;
}

std::string keys() {
  std::string out;
  for (const EVMNetwork& n : EVMNetwork::all()) out += (out.empty() ? "" : ", ") + n.key;
  return out;
}

std::string networkLine(const EVMNetwork& network, const UInt256& wei, const std::optional<Decimal>& coinUSD) {
  std::string out = network.name + ": " + gweiText(wei) + " gwei";
  if (!network.gasCoin) return out + "; no gas coin, the fee comes out of the USDC.";
  if (!coinUSD) return out + "; the dollar cost is unknown (no " + *network.gasCoin + " price).";
  out += " (" + *network.gasCoin + " " + Fmt::usd(*coinUSD) + "): ";
  for (std::size_t i = 0; i < kCalls.size(); ++i)
    out += (i ? " · " : "") + std::string(kCalls[i].what) + " ≈ " + costText(gasCostUSD(wei, kCalls[i].gas, *coinUSD));
  return out + ".";
}

}  // namespace

std::span<const TypicalCall> typicalCalls() { return kCalls; }

Decimal gasCostUSD(const UInt256& gasPriceWei, std::uint64_t gas, const Decimal& coinUSD) {
  return (toDecimal(gasPriceWei) * Decimal(gas) * coinUSD).scaledByPowerOfTen(-18);
}

std::string gweiText(const UInt256& wei) {
  const Decimal gwei = toDecimal(wei).scaledByPowerOfTen(-9);
  if (gwei >= Decimal(1)) return Fmt::num(gwei, 2);
  return Fmt::sig(gwei, 3);
}

std::string gasLookup(std::string_view arg, const GasLookupInputs& in) {
  std::vector<const EVMNetwork*> asked;
  const std::string name = text::trimmed(arg);
  if (name.empty()) {
    for (const EVMNetwork& n : EVMNetwork::all()) asked.push_back(&n);
  } else if (const EVMNetwork* n = networkNamed(name)) {
    asked.push_back(n);
  } else {
    return "No EVM network by «" + name + "». Networks: " + keys() + ".";
  }

  // Prices and node lists are read here, on the caller's thread; only the
  // node calls run in parallel.
  std::map<std::string, std::optional<Decimal>> prices;
  for (const EVMNetwork* n : asked) {
    if (!n->gasCoin || prices.contains(*n->gasCoin)) continue;
    std::optional<Decimal> price;
    if (in.coinPrice) {
      try {
        price = in.coinPrice(*n->gasCoin);
      } catch (const std::exception&) {
        // Unknown price: the line says so.
      }
    }
    if (price && !price->isPositive()) price.reset();
    prices[*n->gasCoin] = price;
  }
  std::vector<std::future<std::optional<UInt256>>> reads;
  for (const EVMNetwork* n : asked) {
    std::vector<std::string> nodes = in.nodes ? in.nodes(*n) : n->defaultNodes;
    reads.push_back(std::async(std::launch::async, [&in, n, nodes = std::move(nodes)]() -> std::optional<UInt256> {
      if (nodes.empty()) return std::nullopt;
      try {
        EVMRPC rpc(in.http, in.clock, nodes.front(), n->chainId,
                   std::vector<std::string>(nodes.begin() + 1, nodes.end()));
        return rpc.gasPrice();
      } catch (const std::exception&) {
        return std::nullopt;
      }
    }));
  }

  std::string out = "Gas today in gwei, and what typical calls cost (";
  for (std::size_t i = 0; i < kCalls.size(); ++i)
    out += (i ? ", " : "") + std::string(kCalls[i].what) + " ≈ " + std::to_string(kCalls[i].gas / 1000) + "k gas";
  out += "):\n";
  for (std::size_t i = 0; i < asked.size(); ++i) {
    const EVMNetwork& n = *asked[i];
    const std::optional<UInt256> wei = reads[i].get();
    if (!wei) {
      out += n.name + ": gas couldn't be read.\n";
      continue;
    }
    out += networkLine(n, *wei, n.gasCoin ? prices[*n.gasCoin] : std::nullopt) + "\n";
  }
  return out + std::string(kFooter);
}

LookupHandler gasLookupHandler(GasLookupInputs inputs) {
  return [inputs = std::move(inputs)](const std::string& arg) { return gasLookup(arg, inputs); };
}

}  // namespace orwenna::Agent
