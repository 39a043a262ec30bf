#include "chains/evm_call.h"

#include <algorithm>
#include <array>

#include "chains/abi.h"

namespace orwenna {

namespace {

using Kind = EVMCall::Kind;

// The arguments after the selector, read as the EVM reads calldata.
class Args {
 public:
  explicit Args(ByteView args) : args_(args) {}

  std::array<std::uint8_t, 32> wordAt(std::size_t offset) const {
    std::array<std::uint8_t, 32> w{};
    for (std::size_t i = 0; i < 32; ++i) {
      if (offset + i < args_.size() && offset + i >= offset) w[i] = args_[offset + i];
    }
    return w;
  }
  std::array<std::uint8_t, 32> word(std::size_t index) const { return wordAt(index * 32); }
  UInt256 number(std::size_t index) const { return fromBigEndian(word(index)); }
  std::uint64_t small(std::size_t index) const {
    UInt256 n = number(index);
    return n > UInt256(UINT64_MAX) ? UINT64_MAX : static_cast<std::uint64_t>(n);
  }
  bool flag(std::size_t index) const { return number(index) != 0; }
  std::string address(std::size_t index) const { return addressOf(word(index)); }
  static std::string addressOf(const std::array<std::uint8_t, 32>& w) {
    return toHex0x(ByteView(w.data() + 12, 20));
  }

  // Where a dynamic argument starts; past the end for an absurd offset.
  std::size_t offsetOf(std::size_t index) const { return clamp(number(index)); }
  std::size_t lengthAt(std::size_t offset) const {
    // Nothing longer than the data can be there; the rest would read as zeros.
    return std::min(clamp(fromBigEndian(wordAt(offset))), args_.size() + 32);
  }
  std::vector<std::string> addressesAt(std::size_t offset) const {
    std::vector<std::string> out;
    std::size_t n = std::min(lengthAt(offset), args_.size() / 32 + 1);
    for (std::size_t i = 0; i < n; ++i) out.push_back(addressOf(wordAt(offset + 32 + 32 * i)));
    return out;
  }
  Bytes bytesAt(std::size_t offset) const {
    std::size_t n = lengthAt(offset);
    Bytes out(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
      std::size_t at = offset + 32 + i;
      if (at < args_.size()) out[i] = args_[at];
    }
    return out;
  }
  std::vector<Bytes> bytesArrayAt(std::size_t offset) const {
    std::vector<Bytes> out;
    std::size_t n = std::min(lengthAt(offset), args_.size() / 32 + 1);
    const std::size_t base = offset + 32;
    for (std::size_t i = 0; i < n; ++i) out.push_back(bytesAt(base + clamp(fromBigEndian(wordAt(base + 32 * i)))));
    return out;
  }

 private:
  std::size_t clamp(const UInt256& n) const {
    return n > UInt256(args_.size()) ? args_.size() + 1 : static_cast<std::size_t>(n);
  }
  ByteView args_;
};

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    if (c == 'X') c = 'x';
  }
  return out;
}

}  // namespace

std::string_view EVMCall::kindName(Kind kind) {
  static constexpr std::array<std::string_view, 21> names{
      "approve",     "increaseAllowance", "transfer", "transferFrom", "setApprovalForAll", "swap",
      "vault",       "lending",           "claim",    "permit2Approve", "v4Swap",          "nftTransfer",
      "delegation",  "unwrap",            "cctpBurn", "borrow",       "repay",             "contract",
      "plain",       "permit",            "wrap"};
  return names[static_cast<std::size_t>(kind)];
}

bool EVMCall::isUnlimited(const UInt256& amount) { return (amount >> 96) != 0; }

bool EVMCall::sameAddress(std::string_view a, std::string_view b) {
  return a.size() == 42 && b.size() == 42 && lower(a) == lower(b);
}

EVMCall EVMCall::decode(std::string_view to, ByteView data) {
  EVMCall c;
  c.target = std::string(to);
  if (data.empty()) {
    c.kind = Kind::plain;
    return c;
  }
  std::array<std::uint8_t, 4> sel{};
  std::copy_n(data.begin(), std::min<std::size_t>(4, data.size()), sel.begin());
  c.selector = toHex(sel);
  const Args a(data.size() > 4 ? data.subspan(4) : ByteView{});
  const std::uint32_t s = (std::uint32_t{sel[0]} << 24) | (std::uint32_t{sel[1]} << 16) |
                          (std::uint32_t{sel[2]} << 8) | std::uint32_t{sel[3]};
  // A selector is four bytes; shorter data calls the fallback function.
  if (data.size() < 4) {
    c.kind = Kind::contract;
    return c;
  }
  switch (s) {
    case 0x095ea7b3:
    case 0x39509351:
      c.kind = s == 0x095ea7b3 ? Kind::approve : Kind::increaseAllowance;
      c.to = a.address(0);
      c.amount = a.number(1);
      break;
    case 0xa9059cbb:
      c.kind = Kind::transfer;
      c.to = a.address(0);
      c.amount = a.number(1);
      break;
    case 0x23b872dd:
      c.kind = Kind::transferFrom;
      c.from = a.address(0);
      c.to = a.address(1);
      c.amount = a.number(2);
      break;
    case 0xa22cb465:
      c.kind = Kind::setApprovalForAll;
      c.to = a.address(0);
      c.granted = a.flag(1);
      break;
    case 0xd505accf:
    case 0x8fcbaf0c:
      c.kind = Kind::permit;
      break;
    case 0x04e45aaf:  // exactInputSingle((tokenIn, tokenOut, fee, recipient, …))
      c.kind = Kind::swap;
      c.to = a.address(3);
      break;
    case 0xb858183f:  // exactInput((bytes path, address recipient, …)): a tuple behind an offset
      c.kind = Kind::swap;
      c.to = Args::addressOf(a.wordAt(a.offsetOf(0) + 32));
      break;
    case 0x38ed1739:
    case 0x5c11d795:
    case 0x18cbafe5:
    case 0x791ac947:  // (amountIn, amountOutMin, path, to, deadline)
      c.kind = Kind::swap;
      c.to = a.address(3);
      break;
    case 0x3593564c: {
      c.kind = Kind::v4Swap;
      c.commands = a.bytesAt(a.offsetOf(0));
      c.inputs = a.bytesArrayAt(a.offsetOf(1));
      break;
    }
    case 0x6e553f65:  // deposit(assets, receiver)
      c.kind = Kind::vault;
      c.to = a.address(1);
      break;
    case 0xb460af94:
    case 0xba087652:  // withdraw/redeem(amount, receiver, owner)
      c.kind = Kind::vault;
      c.to = a.address(1);
      c.from = a.address(2);
      break;
    case 0x617ba037:
    case 0xe8eda9df:  // supply/deposit(asset, amount, onBehalfOf, referral)
    case 0x69328dec:  // withdraw(asset, amount, to)
      c.kind = Kind::lending;
      c.asset = a.address(0);
      c.amount = a.number(1);
      c.to = a.address(2);
      break;
    case 0xa415bcad:  // borrow(asset, amount, rateMode, referral, onBehalfOf)
      c.kind = Kind::borrow;
      c.asset = a.address(0);
      c.amount = a.number(1);
      c.to = a.address(4);
      break;
    case 0x573ade81:  // repay(asset, amount, rateMode, onBehalfOf)
      c.kind = Kind::repay;
      c.asset = a.address(0);
      c.amount = a.number(1);
      c.to = a.address(3);
      break;
    case 0x71ee95c0:
      c.kind = Kind::claim;
      c.recipients = a.addressesAt(a.offsetOf(0));
      break;
    case 0x87517c45:
      c.kind = Kind::permit2Approve;
      c.asset = a.address(0);
      c.to = a.address(1);
      c.amount = a.number(2);
      c.expiration = a.small(3);
      break;
    case 0x42842e0e:
    case 0xb88d4fde:
    case 0xf242432a:
    case 0x2eb2c2d6:
      c.kind = Kind::nftTransfer;
      c.from = a.address(0);
      c.to = a.address(1);
      break;
    case 0xc04a8a10:  // approveDelegation(delegatee, amount)
      c.kind = Kind::delegation;
      c.to = a.address(0);
      c.amount = a.number(1);
      c.granted = c.amount != 0;
      break;
    case 0xeecea000:  // setAuthorization(authorized, isAuthorized)
      c.kind = Kind::delegation;
      c.to = a.address(0);
      c.granted = a.flag(1);
      break;
    case 0xd0e30db0:
      c.kind = Kind::wrap;
      break;
    case 0x2e1a7d4d:
      c.kind = Kind::unwrap;
      c.amount = a.number(0);
      break;
    case 0x8e0250ee:
    case 0x779b432d: {  // (amount, destinationDomain, mintRecipient, burnToken, …)
      c.kind = Kind::cctpBurn;
      c.amount = a.number(0);
      c.domain = static_cast<std::uint32_t>(std::min<std::uint64_t>(a.small(1), UINT32_MAX));
      auto w = a.word(2);
      c.mintRecipient.assign(w.begin(), w.end());
      if (std::all_of(w.begin(), w.begin() + 12, [](std::uint8_t b) { return b == 0; })) {
        c.recipient = Args::addressOf(w);
      }
      c.asset = a.address(3);
      break;
    }
    default:  // 95777d59 among them: nothing here reads its arguments
      c.kind = Kind::contract;
      break;
  }
  return c;
}

std::optional<std::string> EVMCall::problem(const EVMCall& call, std::string_view wallet, std::int64_t nowSeconds) {
  auto other = [&](const std::string& address) { return !sameAddress(address, wallet); };
  switch (call.kind) {
    case Kind::approve:
    case Kind::increaseAllowance:
      if (isUnlimited(call.amount)) {
        return "Unlimited token spending approval — the drainers' main trick. orwenna only approves exact amounts.";
      }
      return std::nullopt;
    case Kind::permit:
      return "A permit call grants approval to spend your tokens. Refused.";
    case Kind::transferFrom:
      if (call.from && sameAddress(*call.from, wallet)) {
        return "transferFrom from your address in your name — this is how tokens are pulled through an existing "
               "approval. Refused.";
      }
      return std::nullopt;
    case Kind::setApprovalForAll:
      if (call.granted) return "Rights to all your NFTs in this contract (setApprovalForAll) — an NFT drainer trick. Refused.";
      return std::nullopt;
    case Kind::delegation:
      if (call.granted) {
        return "Lets " + call.to +
               " borrow against or manage your lending positions (Aave credit delegation, Morpho authorization). "
               "Refused.";
      }
      return std::nullopt;
    case Kind::permit2Approve:
      if (isUnlimited(call.amount)) {
        return "Unlimited spending through Permit2 — the drainers' main trick. orwenna only approves exact amounts.";
      }
      if (nowSeconds < 0 || call.expiration > static_cast<std::uint64_t>(nowSeconds) + 86'400) {
        return "A Permit2 approval for longer than a day. orwenna approves for the one swap only.";
      }
      return std::nullopt;
    case Kind::swap:
      if (other(call.to)) return "The swap would pay " + call.to + ", not this wallet.";
      return std::nullopt;
    case Kind::lending:
      if (other(call.to)) return "The lending pool would credit " + call.to + ", not this wallet.";
      return std::nullopt;
    case Kind::borrow:
      if (other(call.to)) return "The borrow would put the debt on " + call.to + ", not this wallet.";
      return std::nullopt;
    case Kind::repay:
      if (other(call.to)) return "The repay would pay " + call.to + "'s debt, not this wallet's.";
      return std::nullopt;
    case Kind::claim:
      for (const auto& r : call.recipients) {
        if (other(r)) return "The rewards claim would pay " + r + ", not this wallet.";
      }
      return std::nullopt;
    case Kind::vault:
      if (other(call.to)) return "The vault would credit " + call.to + ", not this wallet.";
      if (call.from && other(*call.from)) return "The vault call spends shares of " + *call.from + ", not this wallet's.";
      return std::nullopt;
    case Kind::cctpBurn:
      if (!call.recipient) {
        return "The CCTP burn mints to an account that isn't an EVM address. orwenna mints only to EVM addresses.";
      }
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

}  // namespace orwenna
