#include "app/evm_tokens.h"

#include <algorithm>
#include <cctype>

#include <fmt/format.h>

#include "app/token_lookup.h"
#include "base/text.h"
#include "chains/abi.h"
#include "execution/chain_send.h"
#include "execution/execution_error.h"
#include "trading/fmt.h"

namespace orwenna {

namespace evm_tokens {

struct Curated {
  const char* network;
  const char* symbol;
  const char* contract;
};

// Contracts every explorer agrees on; anything else goes through the pools.
constexpr Curated kCurated[] = {
    {"ethereum", "WETH", "0xc02aaa39b223fe8d0a0e5c4f27ead9083c756cc2"},
    {"ethereum", "USDT", "0xdac17f958d2ee523a2206206994597c13d831ec7"},
    {"ethereum", "DAI", "0x6b175474e89094c44da98b954eedeac495271d0f"},
    {"ethereum", "WBTC", "0x2260fac5e5542a773aa44fbcfedf7c193bc2c599"},
    {"base", "WETH", "0x4200000000000000000000000000000000000006"},
    {"base", "CBBTC", "0xcbb7c0000ab88b473b1f5afd9ef808440eed33bf"},
    {"optimism", "WETH", "0x4200000000000000000000000000000000000006"},
    {"arbitrum", "WETH", "0x82af49447d8a07e3bd95bd0d56f35241523fbab1"},
    {"arbitrum", "USDT", "0xfd086bc7cd5c481dcc9c85ebe478a1c0b69fcbb9"},
    {"polygon", "USDT", "0xc2132d05d31c914a87c6611c10748aeb04b58e8f"},
    {"polygon", "WETH", "0x7ceb23fd6bc0add59e62ac25578270cff1b9f619"},
};

// DexScreener's name of each network's chain.
std::optional<std::string> dexChain(std::string_view key) {
  if (key == "bnb") return "bsc";
  if (key == "ethereum" || key == "base" || key == "arbitrum" || key == "polygon" || key == "optimism" ||
      key == "hyperevm") {
    return std::string(key);
  }
  return std::nullopt;
}

bool isContract(std::string_view s) {
  return s.size() == 42 && s.starts_with("0x") &&
         std::all_of(s.begin() + 2, s.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

}  // namespace evm_tokens

std::optional<std::string> curatedEVMToken(std::string_view symbol, std::string_view networkKey) {
  const std::string upper = [&] {
    std::string u(symbol);
    for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return u;
  }();
  for (const auto& c : evm_tokens::kCurated) {
    if (networkKey == c.network && upper == c.symbol) return std::string(c.contract);
  }
  return std::nullopt;
}

EVMTokenChoice resolveEVMToken(const std::string& token, const EVMNetwork& network, const Services& services) {
  using namespace evm_tokens;
  EVMTokenChoice out;
  const bool byAddress = isContract(token);
  if (byAddress) {
    out.contract = text::asciiLowercased(token);
    out.source = "address";
  } else if (auto curated = curatedEVMToken(token, network.key)) {
    out.contract = *curated;
    out.source = "curated";
  } else {
    auto chain = dexChain(network.key);
    if (!chain) {
      throw ExecutionError(nothingSigned("Name the token on " + network.name + " by its 0x contract address"));
    }
    std::vector<Agent::TokenCandidate> found;
    try {
      found = Agent::tokenCandidates(token, *chain,
                                     {services.http, services.clock, services.endpoints.dexScreener,
                                      services.endpoints.geckoTerminal});
    } catch (const Error& e) {
      throw ExecutionError(nothingSigned(std::string(e.what()) + " Name the token by its 0x contract address"));
    }
    if (found.empty()) {
      throw ExecutionError(nothingSigned("orwenna finds no token «" + token + "» on " + network.name +
                                         ": name it by its 0x contract address"));
    }
    if (found.size() > 1) {
      std::string list;
      for (std::size_t i = 0; i < found.size() && i < 6; ++i) {
        list += fmt::format("\n- {} ({}) {}, liquidity {}", found[i].symbol, found[i].name, found[i].address,
                            Fmt::usd(found[i].liquidity));
      }
      throw ExecutionError(nothingSigned(fmt::format("{} tokens on {} are called «{}»; name the one to send by its "
                                                     "0x contract address:{}",
                                                     found.size(), network.name, token, list)));
    }
    out.contract = text::asciiLowercased(found.front().address);
    out.source = "DexScreener";
    if (!isContract(out.contract)) throw ExecutionError(nothingSigned("DexScreener gave no contract for «" + token + "»"));
  }
  try {
    out.info = ERC20Info::read(services.evm(network), out.contract, network.name);
  } catch (const Error& e) {
    throw ExecutionError(nothingSigned(e.what()));
  }
  if (!byAddress && text::asciiLowercased(out.info.symbol) != text::asciiLowercased(token)) {
    throw ExecutionError(nothingSigned("The contract " + out.contract + " calls itself «" + out.info.symbol +
                                       "», not «" + token + "»"));
  }
  return out;
}

}  // namespace orwenna
