#include "chains/abi.h"

#include <algorithm>
#include <limits>

#include "signing/keccak.h"
#include "signing/wallet_error.h"

namespace orwenna {

namespace {

void appendWord(Bytes& out, const UInt256& v) {
  auto be = toBigEndian32(v);
  out.insert(out.end(), be.begin(), be.end());
}

void appendPadded(Bytes& out, ByteView data) {
  out.insert(out.end(), data.begin(), data.end());
  out.insert(out.end(), (32 - data.size() % 32) % 32, std::uint8_t{0});
}

Bytes encodeOne(const ABI::Value& v);

Bytes encodeTuple(const std::vector<ABI::Value>& values) {
  std::size_t headSize = 0;
  for (const auto& v : values) headSize += v.isDynamic() ? 32 : encodeOne(v).size();
  Bytes head;
  Bytes tail;
  for (const auto& v : values) {
    Bytes encoded = encodeOne(v);
    if (v.isDynamic()) {
      appendWord(head, UInt256(headSize + tail.size()));
      tail.insert(tail.end(), encoded.begin(), encoded.end());
    } else {
      head.insert(head.end(), encoded.begin(), encoded.end());
    }
  }
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

Bytes encodeOne(const ABI::Value& v) {
  using K = ABI::Value::Kind;
  Bytes out;
  switch (v.kind) {
    case K::uint:
    case K::boolean:
      appendWord(out, v.number);
      break;
    case K::address:
      out.assign(32, 0);
      std::copy_n(v.data.begin(), std::min<std::size_t>(v.data.size(), 20), out.begin() + 12);
      break;
    case K::fixedBytes:
      appendPadded(out, v.data);
      break;
    case K::bytes:
      appendWord(out, UInt256(v.data.size()));
      appendPadded(out, v.data);
      break;
    case K::array: {
      appendWord(out, UInt256(v.items.size()));
      Bytes body = encodeTuple(v.items);
      out.insert(out.end(), body.begin(), body.end());
      break;
    }
    case K::tuple:
      out = encodeTuple(v.items);
      break;
  }
  return out;
}

}  // namespace

ABI::Value ABI::Value::address(std::string_view text) {
  auto b = ABI::addressBytes(text);
  Value v;
  v.kind = Kind::address;
  v.data.assign(b.begin(), b.end());
  return v;
}

ABI::Value ABI::Value::uint(const UInt256& n) {
  Value v;
  v.kind = Kind::uint;
  v.number = n;
  return v;
}

ABI::Value ABI::Value::boolean(bool b) {
  Value v;
  v.kind = Kind::boolean;
  v.number = b ? 1 : 0;
  return v;
}

ABI::Value ABI::Value::fixedBytes(ByteView b) {
  Value v;
  v.kind = Kind::fixedBytes;
  v.data.assign(b.begin(), b.end());
  return v;
}

ABI::Value ABI::Value::bytes(ByteView b) {
  Value v;
  v.kind = Kind::bytes;
  v.data.assign(b.begin(), b.end());
  return v;
}

ABI::Value ABI::Value::array(std::vector<Value> items) {
  Value v;
  v.kind = Kind::array;
  v.items = std::move(items);
  return v;
}

ABI::Value ABI::Value::tuple(std::vector<Value> items) {
  Value v;
  v.kind = Kind::tuple;
  v.items = std::move(items);
  return v;
}

bool ABI::Value::isDynamic() const {
  if (kind == Kind::bytes || kind == Kind::array) return true;
  if (kind == Kind::tuple) return std::any_of(items.begin(), items.end(), [](const Value& i) { return i.isDynamic(); });
  return false;
}

ABI::Word ABI::word(const UInt256& v) {
  Word w{};
  auto be = toBigEndian32(v);
  std::copy(be.begin(), be.end(), w.begin());
  return w;
}

std::array<std::uint8_t, 20> ABI::addressBytes(std::string_view address) {
  std::optional<Bytes> b;
  if (address.size() == 42 && address[0] == '0' && (address[1] == 'x' || address[1] == 'X')) {
    b = fromHex(address.substr(2), false);
  }
  if (!b || b->size() != 20) throw WalletError("Not an address: " + std::string(address));
  std::array<std::uint8_t, 20> out{};
  std::copy(b->begin(), b->end(), out.begin());
  return out;
}

ABI::Word ABI::addressWord(std::string_view address) {
  auto b = addressBytes(address);
  Word w{};
  std::copy(b.begin(), b.end(), w.begin() + 12);
  return w;
}

Bytes ABI::encode(const std::vector<Value>& values) { return encodeTuple(values); }

std::array<std::uint8_t, 4> ABI::selector(std::string_view signature) {
  auto digest = Keccak::hash256(signature);
  return {digest[0], digest[1], digest[2], digest[3]};
}

Bytes ABI::call(std::string_view signature, const std::vector<Value>& values) {
  auto sel = selector(signature);
  Bytes out(sel.begin(), sel.end());
  Bytes args = encode(values);
  out.insert(out.end(), args.begin(), args.end());
  return out;
}

UInt256 ABI::tokenAmount(std::string_view text, int decimals) {
  const std::string original(text);
  const auto point = text.find('.');
  std::string_view whole = text.substr(0, point);
  std::string_view fraction = point == std::string_view::npos ? std::string_view{} : text.substr(point + 1);
  auto digitsOnly = [](std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (decimals < 0 || (whole.empty() && fraction.empty()) || !digitsOnly(whole) || !digitsOnly(fraction) ||
      (point != std::string_view::npos && fraction.empty() && whole.empty())) {
    throw WalletError("Not an amount: " + original);
  }
  std::string digits(whole);
  const auto places = static_cast<std::size_t>(decimals);
  if (fraction.size() > places) {
    std::string_view rest = fraction.substr(places);
    if (rest.find_first_not_of('0') != std::string_view::npos) throw WalletError("Not a whole token amount: " + original);
    fraction = fraction.substr(0, places);
  }
  digits += fraction;
  digits.append(places - fraction.size(), '0');
  BigInt value = 0;
  for (char c : digits) {
    value = value * 10 + (c - '0');
    if (value > BigInt(std::numeric_limits<UInt256>::max())) throw WalletError("Amount too large for a word: " + original);
  }
  return UInt256(value);
}

}  // namespace orwenna
