#include "signing/derivation.h"

#include <array>

#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <secp256k1.h>

#include "signing/wallet_error.h"
#include "signing/secp256k1_context.h"

namespace orwenna {

namespace {

// HMAC-SHA512(key, data) split into the new key (left) and chain code (right).
ExtendedKey hmacSplit(ByteView key, ByteView data) {
  std::array<std::uint8_t, 64> mac{};
  unsigned len = 0;
  if (HMAC(EVP_sha512(), key.data(), static_cast<int>(key.size()), data.data(), data.size(), mac.data(), &len) ==
          nullptr ||
      len != 64) {
    wipeBytes(mac);
    throw WalletError("HMAC-SHA512 failed.");
  }
  ExtendedKey out{SecretBytes(std::span<const std::uint8_t>(mac.data(), 32)),
                  SecretBytes(std::span<const std::uint8_t>(mac.data() + 32, 32))};
  wipeBytes(mac);
  return out;
}

void putStep(std::uint8_t* out, std::uint32_t step) {
  out[0] = static_cast<std::uint8_t>(step >> 24);
  out[1] = static_cast<std::uint8_t>(step >> 16);
  out[2] = static_cast<std::uint8_t>(step >> 8);
  out[3] = static_cast<std::uint8_t>(step);
}

std::string invalidKeyMessage() {
  return "This path leads to an invalid key (a one in 2^127 chance); use another index.";
}

std::string indexPath(std::string_view prefix, std::uint32_t index, std::string_view suffix) {
  return std::string(prefix) + std::to_string(index) + std::string(suffix);
}

}  // namespace

std::string WalletPath::evm(std::uint32_t index) { return indexPath("m/44'/60'/0'/0/", index, ""); }
std::string WalletPath::solana(std::uint32_t index) { return indexPath("m/44'/501'/", index, "'/0'"); }
std::string WalletPath::near(std::uint32_t index) { return indexPath("m/44'/397'/", index, "'"); }

std::vector<std::uint32_t> Derivation::parse(std::string_view path) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t slash = path.find('/', start);
    if (slash == std::string_view::npos) slash = path.size();
    if (slash > start) pieces.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  if (pieces.empty() || pieces[0] != "m") throw WalletError("The path must start with m/: " + std::string(path));

  std::vector<std::uint32_t> steps;
  for (std::size_t i = 1; i < pieces.size(); ++i) {
    std::string_view piece = pieces[i];
    std::string_view digits = piece;
    bool hardened = false;
    if (!digits.empty() && (digits.back() == '\'' || digits.back() == 'h')) {
      hardened = true;
      digits.remove_suffix(1);
    }
    std::uint64_t value = 0;
    bool ok = !digits.empty();
    for (char c : digits) {
      if (c < '0' || c > '9') {
        ok = false;
        break;
      }
      value = value * 10 + static_cast<std::uint64_t>(c - '0');
      if (value >= WalletPath::kHardened) {
        ok = false;
        break;
      }
    }
    if (!ok) throw WalletError("Invalid path step: " + std::string(piece));
    steps.push_back(static_cast<std::uint32_t>(value) + (hardened ? WalletPath::kHardened : 0u));
  }
  return steps;
}

ExtendedKey Derivation::secp256k1Node(ByteView seed, std::span<const std::uint32_t> steps) {
  ExtendedKey node = hmacSplit(asBytes("Bitcoin seed"), seed);
  if (secp256k1_ec_seckey_verify(secp256k1Context(), node.key.data()) != 1) throw WalletError(invalidKeyMessage());
  std::array<std::uint8_t, 37> data{};
  for (std::uint32_t step : steps) {
    if (step & WalletPath::kHardened) {
      data[0] = 0;
      std::copy(node.key.span().begin(), node.key.span().end(), data.begin() + 1);
    } else {
      secp256k1_pubkey pub;
      if (secp256k1_ec_pubkey_create(secp256k1Context(), &pub, node.key.data()) != 1) throw WalletError(invalidKeyMessage());
      std::size_t len = 33;
      secp256k1_ec_pubkey_serialize(secp256k1Context(), data.data(), &len, &pub, SECP256K1_EC_COMPRESSED);
    }
    putStep(data.data() + 33, step);
    ExtendedKey child = hmacSplit(node.chainCode.span(), data);
    // child.key holds I_L; the child key is I_L + k_par (mod n), done in place on k_par.
    if (secp256k1_ec_seckey_verify(secp256k1Context(), child.key.data()) != 1 ||
        secp256k1_ec_seckey_tweak_add(secp256k1Context(), node.key.data(), child.key.data()) != 1) {
      wipeBytes(data);
      throw WalletError(invalidKeyMessage());
    }
    node.chainCode = std::move(child.chainCode);
  }
  wipeBytes(data);
  return node;
}

ExtendedKey Derivation::ed25519Node(ByteView seed, std::span<const std::uint32_t> steps) {
  for (std::uint32_t step : steps) {
    if (!(step & WalletPath::kHardened)) throw WalletError("For ed25519 every path step must be hardened (with ').");
  }
  ExtendedKey node = hmacSplit(asBytes("ed25519 seed"), seed);
  std::array<std::uint8_t, 37> data{};
  for (std::uint32_t step : steps) {
    data[0] = 0;
    std::copy(node.key.span().begin(), node.key.span().end(), data.begin() + 1);
    putStep(data.data() + 33, step);
    node = hmacSplit(node.chainCode.span(), data);
  }
  wipeBytes(data);
  return node;
}

SecretBytes Derivation::secp256k1(ByteView seed, std::string_view path) {
  auto steps = parse(path);
  return std::move(secp256k1Node(seed, steps).key);
}

SecretBytes Derivation::ed25519(ByteView seed, std::string_view path) {
  auto steps = parse(path);
  return std::move(ed25519Node(seed, steps).key);
}

}  // namespace orwenna
