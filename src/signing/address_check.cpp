#include "signing/address_check.h"

#include <array>
#include <map>

#include "base/bytes.h"
#include "base/regex.h"
#include "base/text.h"
#include "signing/accounts.h"
#include "signing/base58.h"
#include "signing/bech32.h"

namespace orwenna {

namespace {

using Network = AddressCheck::Network;

struct NetworkInfo {
  Network network;
  std::string_view raw;
  std::string_view display;
  bool evm;
};

constexpr std::array<NetworkInfo, 18> kNetworks = {{
    {Network::solana, "solana", "Solana", false},
    {Network::hyperliquid, "hyperliquid", "Hyperliquid", true},
    {Network::ethereum, "ethereum", "Ethereum", true},
    {Network::arbitrum, "arbitrum", "Arbitrum", true},
    {Network::base, "base", "Base", true},
    {Network::robinhood, "robinhood", "Robinhood Chain", true},
    {Network::near, "near", "NEAR", false},
    {Network::tempo, "tempo", "Tempo", true},
    {Network::polygon, "polygon", "Polygon", true},
    {Network::hyperevm, "hyperevm", "HyperEVM", true},
    {Network::optimism, "optimism", "Optimism", true},
    {Network::bnb, "bnb", "BNB Chain", true},
    {Network::bitcoin, "bitcoin", "Bitcoin", false},
    {Network::zcash, "zcash", "Zcash", false},
    {Network::tron, "tron", "TRON", false},
    {Network::xrp, "xrp", "XRP Ledger", false},
    {Network::dogecoin, "dogecoin", "Dogecoin", false},
    {Network::sui, "sui", "Sui", false},
}};

constexpr std::array<Network, 18> kAll = [] {
  std::array<Network, 18> all{};
  for (std::size_t i = 0; i < kNetworks.size(); ++i) all[i] = kNetworks[i].network;
  return all;
}();

const NetworkInfo& info(Network network) { return kNetworks[static_cast<std::size_t>(network)]; }

// Addresses whose funds are lost when sent the wrong way, lower case.
const std::map<std::string, std::string, std::less<>>& knownBad() {
  static const std::map<std::string, std::string, std::less<>> table = {
      {"0x2df1c51e09aecf9cacb7bc98cb1742757f163df7",
       "This is Hyperliquid’s old bridge (Bridge2): USDC sent here the wrong way is lost. Deposit through the "
       "Hyperliquid app instead."},
  };
  return table;
}

bool checkPayload(std::string_view text, std::size_t size, std::initializer_list<std::uint8_t> versions,
                  std::string_view alphabet = Base58::kBitcoinAlphabet) {
  auto payload = Base58::checkDecode(text, alphabet);
  if (!payload || payload->size() != size) return false;
  for (std::uint8_t v : versions) {
    if ((*payload)[0] == v) return true;
  }
  return false;
}

std::optional<std::string> evmProblem(const std::string& address, Network network) {
  static const Regex shape("0x[0-9a-fA-F]{40}");
  if (!shape.matchesWhole(address)) {
    return "Not an " + std::string(info(network).display) + " address: 0x and 40 hex characters.";
  }
  bool lower = false, upper = false;
  for (std::size_t i = 2; i < address.size(); ++i) {
    char c = address[i];
    if (c >= 'a' && c <= 'f') lower = true;
    if (c >= 'A' && c <= 'F') upper = true;
  }
  if (lower && upper && EVMAccount::checksummed(address) != address) {
    return "The checksum doesn’t match, so a character is wrong. Copy the address again from the source.";
  }
  std::string key = text::lowercased(address);
  auto it = knownBad().find(key);
  if (it != knownBad().end()) return it->second;
  return std::nullopt;
}

}  // namespace

std::span<const Network> AddressCheck::allNetworks() { return kAll; }

std::string_view AddressCheck::rawValue(Network network) { return info(network).raw; }

std::optional<Network> AddressCheck::networkFromRawValue(std::string_view raw) {
  for (const auto& n : kNetworks) {
    if (n.raw == raw) return n.network;
  }
  return std::nullopt;
}

std::string_view AddressCheck::displayName(Network network) { return info(network).display; }

bool AddressCheck::isEVM(Network network) { return info(network).evm; }

std::optional<std::string> AddressCheck::problem(std::string_view input, Network network) {
  std::string address = text::trimmed(input);
  if (address.empty()) return "Paste the address.";
  if (isEVM(network)) return evmProblem(address, network);

  switch (network) {
    case Network::solana: {
      auto bytes = Base58::tryDecode(address);
      if (address.size() >= 32 && address.size() <= 44 && bytes && bytes->size() == 32) return std::nullopt;
      return "Not a Solana address: 32–44 letters and digits in base58.";
    }
    case Network::near: {
      static const Regex implicit("[0-9a-f]{64}");
      static const Regex named("[a-z0-9_-]+(?:\\.[a-z0-9_-]+)*\\.near");
      if (implicit.matchesWhole(address) || (address.size() <= 64 && named.matchesWhole(address))) return std::nullopt;
      return "Not a NEAR account: 64 hex characters, or a name ending in .near (lower case).";
    }
    case Network::bitcoin:
      if (text::lowercased(address).starts_with("bc1")) {
        if (Bech32::decodeSegwit("bc", address)) return std::nullopt;
        return "Not a Bitcoin address: its bc1… checksum doesn't match. Copy it again.";
      }
      if (checkPayload(address, 21, {0x00, 0x05})) return std::nullopt;
      return "Not a Bitcoin address: bc1…, 1… or 3…, with a checksum that matches.";
    case Network::zcash: {
      auto payload = Base58::checkDecode(address);
      if (payload && payload->size() == 22 && (*payload)[0] == 0x1C && ((*payload)[1] == 0xB8 || (*payload)[1] == 0xBD)) {
        return std::nullopt;
      }
      return "Not a transparent Zcash address (t1… or t3…). NEAR Intents pays out to those; a shielded or unified one "
             "isn't taken here.";
    }
    case Network::tron:
      if (checkPayload(address, 21, {0x41})) return std::nullopt;
      return "Not a TRON address: T… and 34 characters, with a checksum that matches.";
    case Network::xrp: {
      if (checkPayload(address, 21, {0x00}, Base58::kXrpAlphabet)) return std::nullopt;
      auto payload = Base58::checkDecode(address, Base58::kXrpAlphabet);
      if (payload && payload->size() == 31 && (*payload)[0] == 0x05 && (*payload)[1] == 0x44) return std::nullopt;
      return "Not an XRP address: r… or X…, with a checksum that matches.";
    }
    case Network::dogecoin:
      if (checkPayload(address, 21, {0x1E, 0x16})) return std::nullopt;
      return "Not a Dogecoin address: D… (or 9…/A…), with a checksum that matches.";
    case Network::sui: {
      static const Regex shape("0x[0-9a-fA-F]{64}");
      if (shape.matchesWhole(address)) return std::nullopt;
      return "Not a Sui address: 0x and 64 hex characters.";
    }
    default:
      break;
  }
  return std::nullopt;  // unreachable: every non-EVM network is handled above
}

std::optional<std::string> AddressCheck::labelProblem(std::string_view label) {
  if (text::characterCount(label) >= 65) return "A name or memo is at most 64 characters.";
  for (char32_t cp : text::codePoints(label)) {
    auto category = text::generalCategory(cp);
    if (category == text::GeneralCategory::Cc || category == text::GeneralCategory::Cf ||
        category == text::GeneralCategory::Zl || category == text::GeneralCategory::Zp) {
      return "A name or memo can't hold line breaks or invisible characters.";
    }
  }
  return std::nullopt;
}

std::optional<std::string> AddressCheck::nameProblem(std::string_view name) {
  if (auto p = labelProblem(name)) return p;
  for (std::string_view mark : {".", "!", "\"", "«", "»", "“", "”"}) {
    if (name.ends_with(mark) || name.starts_with(mark)) {
      return "A name can't begin or end with quotes, nor end with “.” or “!”: a command could not name it exactly.";
    }
  }
  return std::nullopt;
}

std::optional<std::string> AddressCheck::xAddress(std::string_view classic, std::uint32_t tag) {
  auto payload = Base58::checkDecode(classic, Base58::kXrpAlphabet);
  if (!payload || payload->size() != 21 || (*payload)[0] != 0x00) return std::nullopt;
  Bytes body = {0x05, 0x44};
  body.insert(body.end(), payload->begin() + 1, payload->end());
  body.push_back(0x01);
  for (int i = 0; i < 4; ++i) body.push_back(static_cast<std::uint8_t>(tag >> (8 * i)));
  body.insert(body.end(), 4, 0x00);
  return Base58::checkEncode(body, Base58::kXrpAlphabet);
}

}  // namespace orwenna
