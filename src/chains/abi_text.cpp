#include "chains/abi_text.h"

#include <charconv>

#include "base/uint.h"
#include "signing/accounts.h"
#include "signing/wallet_error.h"

namespace orwenna {

namespace {

// Deeper nesting than any real contract uses; it also bounds the recursion
// of both the parser and the decoder.
constexpr int kMaxDepth = 8;
constexpr std::size_t kMaxItems = 4096;
constexpr std::size_t kMaxStaticBytes = 1u << 20;

bool digitsOnly(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

std::optional<int> smallNumber(std::string_view s) {
  if (!digitsOnly(s) || s.size() > 3 || (s.size() > 1 && s[0] == '0')) return std::nullopt;
  int v = 0;
  std::from_chars(s.data(), s.data() + s.size(), v);
  return v;
}

// The index just past the parenthesised group that opens at `open`.
std::optional<std::size_t> closing(std::string_view text, std::size_t open) {
  int depth = 0;
  for (std::size_t i = open; i < text.size(); ++i) {
    if (text[i] == '(') ++depth;
    if (text[i] == ')' && --depth == 0) return i + 1;
  }
  return std::nullopt;
}

std::size_t headSize(const ABIType& t) {
  if (t.isDynamic()) return 32;
  if (t.kind == ABIType::Kind::array) return *t.length * headSize(t.items[0]);
  if (t.kind == ABIType::Kind::tuple) {
    std::size_t n = 0;
    for (const auto& i : t.items) n += headSize(i);
    return n;
  }
  return 32;
}

std::optional<ABIType> parseType(std::string_view text, int depth);

std::optional<std::vector<ABIType>> parseTypes(std::string_view text, int depth) {
  std::vector<ABIType> out;
  if (text.empty()) return out;
  std::size_t start = 0;
  int nesting = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] == '(') ++nesting;
    if (i < text.size() && text[i] == ')') --nesting;
    if (nesting < 0) return std::nullopt;
    if (i == text.size() || (text[i] == ',' && nesting == 0)) {
      auto t = parseType(text.substr(start, i - start), depth);
      if (!t) return std::nullopt;
      out.push_back(std::move(*t));
      start = i + 1;
    }
  }
  return out;
}

std::optional<ABIType> parseType(std::string_view text, int depth) {
  if (depth > kMaxDepth || text.empty()) return std::nullopt;
  // A trailing "[]" or "[k]" wraps everything before it.
  if (text.back() == ']') {
    const std::size_t open = text.rfind('[');
    if (open == std::string_view::npos || open == 0) return std::nullopt;
    const std::string_view inside = text.substr(open + 1, text.size() - open - 2);
    auto element = parseType(text.substr(0, open), depth + 1);
    if (!element) return std::nullopt;
    ABIType t;
    t.kind = ABIType::Kind::array;
    if (!inside.empty()) {
      auto k = smallNumber(inside);
      if (!k || *k == 0) return std::nullopt;
      t.length = static_cast<std::size_t>(*k);
    }
    t.items.push_back(std::move(*element));
    // Bounds the head a fixed list takes (and the arithmetic on it).
    if (!t.isDynamic() && headSize(t) > kMaxStaticBytes) return std::nullopt;
    return t;
  }
  if (text.front() == '(') {
    auto end = closing(text, 0);
    if (!end || *end != text.size()) return std::nullopt;
    auto members = parseTypes(text.substr(1, text.size() - 2), depth + 1);
    if (!members || members->empty()) return std::nullopt;
    ABIType t;
    t.kind = ABIType::Kind::tuple;
    t.items = std::move(*members);
    if (!t.isDynamic() && headSize(t) > kMaxStaticBytes) return std::nullopt;
    return t;
  }
  ABIType t;
  if (text == "address") t.kind = ABIType::Kind::address;
  else if (text == "bool") t.kind = ABIType::Kind::boolean;
  else if (text == "string") t.kind = ABIType::Kind::string;
  else if (text == "bytes") t.kind = ABIType::Kind::bytes;
  else if (text.starts_with("bytes")) {
    auto n = smallNumber(text.substr(5));
    if (!n || *n < 1 || *n > 32) return std::nullopt;
    t.kind = ABIType::Kind::fixedBytes;
    t.size = *n;
  } else if (text.starts_with("uint") || text.starts_with("int")) {
    const bool isSigned = text.front() == 'i';
    const std::string_view rest = text.substr(isSigned ? 3 : 4);
    t.kind = isSigned ? ABIType::Kind::int_ : ABIType::Kind::uint;
    if (!rest.empty()) {
      auto n = smallNumber(rest);
      if (!n || *n < 8 || *n > 256 || *n % 8 != 0) return std::nullopt;
      t.bits = *n;
    }
  } else {
    return std::nullopt;
  }
  return t;
}

bool validName(std::string_view s) {
  if (s.empty()) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$';
    if (!letter && !(i > 0 && c >= '0' && c <= '9')) return false;
  }
  return true;
}

UInt256 pow2(int bits) { return bits >= 256 ? UInt256(0) : UInt256(1) << bits; }

[[noreturn]] void refuse(const ABIType& type, const Json& word, std::string_view why) {
  const std::string shown = word.is_string() ? word.get<std::string>() : word.dump();
  throw WalletError("«" + shown + "» is not " + std::string(why) + " (" + type.name() + ").");
}

std::optional<UInt256> unsignedWord(const Json& word) {
  if (word.is_number_unsigned()) return UInt256(word.get<std::uint64_t>());
  if (!word.is_string()) return std::nullopt;
  const std::string& s = word.get_ref<const std::string&>();
  if (s.starts_with("0x") || s.starts_with("0X")) return parseUInt256Hex(s);
  return parseUInt256(s);
}

// --- decoding ----------------------------------------------------------------

struct Reader {
  ByteView data;

  std::optional<UInt256> word(std::size_t at) const {
    if (at > data.size() || data.size() - at < 32) return std::nullopt;
    return fromBigEndian(data.subspan(at, 32));
  }
  std::optional<std::size_t> offset(std::size_t at) const {
    auto w = word(at);
    if (!w || *w > data.size()) return std::nullopt;
    return static_cast<std::size_t>(*w);
  }
};

std::optional<Json> decodeAt(const Reader& r, const ABIType& t, std::size_t at);

std::optional<Json> decodeSequence(const Reader& r, const std::vector<ABIType>& types, std::size_t base) {
  Json out = Json::array();
  std::size_t head = base;
  for (const auto& t : types) {
    std::optional<Json> v;
    if (t.isDynamic()) {
      auto off = r.offset(head);
      if (!off || *off > r.data.size() - base) return std::nullopt;
      v = decodeAt(r, t, base + *off);
    } else {
      v = decodeAt(r, t, head);
    }
    if (!v) return std::nullopt;
    out.push_back(std::move(*v));
    head += headSize(t);
  }
  return out;
}

std::optional<Json> decodeAt(const Reader& r, const ABIType& t, std::size_t at) {
  using K = ABIType::Kind;
  switch (t.kind) {
    case K::array:
    case K::tuple: {
      std::size_t count = t.kind == K::tuple ? t.items.size() : t.length.value_or(0);
      std::size_t base = at;
      if (t.kind == K::array && !t.length) {
        auto n = r.word(at);
        // Every element takes at least one word, which bounds a lying length.
        if (!n || *n > kMaxItems || *n * 32 > r.data.size() - at - 32) return std::nullopt;
        count = static_cast<std::size_t>(*n);
        base = at + 32;
      }
      if (t.kind == K::tuple) return decodeSequence(r, t.items, base);
      return decodeSequence(r, std::vector<ABIType>(count, t.items[0]), base);
    }
    case K::bytes:
    case K::string: {
      auto n = r.word(at);
      if (!n || *n > r.data.size() - at - 32) return std::nullopt;
      ByteView body = r.data.subspan(at + 32, static_cast<std::size_t>(*n));
      if (t.kind == K::bytes) return Json(toHex0x(body));
      return Json(std::string(body.begin(), body.end()));
    }
    default:
      break;
  }
  auto w = r.word(at);
  if (!w) return std::nullopt;
  ByteView raw = r.data.subspan(at, 32);
  switch (t.kind) {
    case K::address:
      if (*w >= pow2(160)) return std::nullopt;
      return Json(EVMAccount::checksummed(toHex0x(raw.subspan(12))));
    case K::boolean:
      if (*w > 1) return std::nullopt;
      return Json(*w == 1);
    case K::uint:
      if (t.bits < 256 && *w >= pow2(t.bits)) return std::nullopt;
      return Json(toDecimalString(*w));
    case K::int_: {
      const bool negative = (raw[0] & 0x80) != 0;
      if (t.bits < 256) {
        // The bits above the type's width must all copy its sign bit.
        const UInt256 high = *w >> (t.bits - 1);
        const UInt256 allOnes = (~UInt256(0)) >> (t.bits - 1);
        if (high != 0 && high != allOnes) return std::nullopt;
      }
      if (!negative) return Json(toDecimalString(*w));
      return Json("-" + toDecimalString(UInt256(0) - *w));
    }
    case K::fixedBytes:
      for (std::size_t i = static_cast<std::size_t>(t.size); i < 32; ++i)
        if (raw[i] != 0) return std::nullopt;
      return Json(toHex0x(raw.subspan(0, static_cast<std::size_t>(t.size))));
    default:
      return std::nullopt;
  }
}

}  // namespace

bool ABIType::isDynamic() const {
  switch (kind) {
    case Kind::bytes:
    case Kind::string:
      return true;
    case Kind::array:
      return !length || items[0].isDynamic();
    case Kind::tuple:
      for (const auto& i : items)
        if (i.isDynamic()) return true;
      return false;
    default:
      return false;
  }
}

std::string ABIType::name() const {
  switch (kind) {
    case Kind::address: return "address";
    case Kind::uint: return "uint" + std::to_string(bits);
    case Kind::int_: return "int" + std::to_string(bits);
    case Kind::boolean: return "bool";
    case Kind::fixedBytes: return "bytes" + std::to_string(size);
    case Kind::bytes: return "bytes";
    case Kind::string: return "string";
    case Kind::array: return items[0].name() + "[" + (length ? std::to_string(*length) : "") + "]";
    case Kind::tuple: {
      std::string s = "(";
      for (std::size_t i = 0; i < items.size(); ++i) s += (i ? "," : "") + items[i].name();
      return s + ")";
    }
  }
  return {};
}

std::optional<ABIType> ABIType::parse(std::string_view text) { return parseType(text, 0); }

std::optional<std::vector<ABIType>> ABIType::parseList(std::string_view text) { return parseTypes(text, 0); }

std::string ABIFunction::signature() const {
  std::string s = name + "(";
  for (std::size_t i = 0; i < inputs.size(); ++i) s += (i ? "," : "") + inputs[i].name();
  return s + ")";
}

std::optional<ABIFunction> ABIFunction::parse(std::string_view text) {
  const std::size_t open = text.find('(');
  if (open == std::string_view::npos || !validName(text.substr(0, open))) return std::nullopt;
  auto inputsEnd = closing(text, open);
  if (!inputsEnd || *inputsEnd >= text.size() || text[*inputsEnd] != '(') return std::nullopt;
  auto outputsEnd = closing(text, *inputsEnd);
  if (!outputsEnd || *outputsEnd != text.size()) return std::nullopt;
  auto inputs = ABIType::parseList(text.substr(open + 1, *inputsEnd - open - 2));
  auto outputs = ABIType::parseList(text.substr(*inputsEnd + 1, *outputsEnd - *inputsEnd - 2));
  if (!inputs || !outputs || outputs->empty()) return std::nullopt;
  return ABIFunction{std::string(text.substr(0, open)), std::move(*inputs), std::move(*outputs)};
}

namespace abi_text {

ABI::Value value(const ABIType& type, const Json& word) {
  using K = ABIType::Kind;
  const std::string text = word.is_string() ? word.get<std::string>() : std::string();
  switch (type.kind) {
    case K::address:
      if (!word.is_string()) refuse(type, word, "an address");
      return ABI::Value::address(text);
    case K::boolean:
      if (word.is_boolean()) return ABI::Value::boolean(word.get<bool>());
      if (text == "true" || text == "false") return ABI::Value::boolean(text == "true");
      refuse(type, word, "true or false");
    case K::uint: {
      if (text == "max") return ABI::Value::uint(pow2(type.bits) - 1);
      auto v = unsignedWord(word);
      if (!v || (type.bits < 256 && *v >= pow2(type.bits))) refuse(type, word, "a whole number that fits");
      return ABI::Value::uint(*v);
    }
    case K::int_: {
      const UInt256 limit = pow2(type.bits - 1);  // |min|; max is one less
      if (text == "max") return ABI::Value::uint(limit - 1);
      const bool negative = text.starts_with("-");
      auto v = negative ? parseUInt256(std::string_view(text).substr(1)) : unsignedWord(word);
      if (!v || (negative ? *v > limit : *v >= limit)) refuse(type, word, "a whole number that fits");
      return ABI::Value::uint(negative ? UInt256(0) - *v : *v);
    }
    case K::fixedBytes:
    case K::bytes: {
      auto b = text.starts_with("0x") ? fromHex(text) : std::nullopt;
      if (!b || (type.kind == K::fixedBytes && b->size() != static_cast<std::size_t>(type.size)))
        refuse(type, word, "0x hex of the right length");
      return type.kind == K::bytes ? ABI::Value::bytes(*b) : ABI::Value::fixedBytes(*b);
    }
    case K::string:
      if (!word.is_string()) refuse(type, word, "text");
      return ABI::Value::bytes(asBytes(text));
    case K::array:
    case K::tuple: {
      if (!word.is_array()) refuse(type, word, "a JSON list");
      const std::size_t want = type.kind == K::tuple ? type.items.size() : type.length.value_or(word.size());
      if (word.size() != want || word.size() > kMaxItems) refuse(type, word, "a list of the right length");
      std::vector<ABI::Value> items;
      for (std::size_t i = 0; i < word.size(); ++i)
        items.push_back(value(type.kind == K::tuple ? type.items[i] : type.items[0], word[i]));
      // A fixed-length list is laid out like a tuple: no length word.
      if (type.kind == K::array && !type.length) return ABI::Value::array(std::move(items));
      return ABI::Value::tuple(std::move(items));
    }
  }
  refuse(type, word, "readable");
}

std::optional<std::vector<Json>> words(std::string_view text) {
  std::vector<Json> out;
  std::size_t i = 0;
  auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (i < text.size()) {
    if (space(text[i])) {
      ++i;
      continue;
    }
    if (text[i] == '[' || text[i] == '{' || text[i] == '"') {
      // The JSON value ends where its brackets balance outside strings.
      int depth = 0;
      bool inString = false;
      std::size_t j = i;
      for (; j < text.size(); ++j) {
        const char c = text[j];
        if (inString) {
          if (c == '\\') {
            ++j;
          } else if (c == '"') {
            inString = false;
            if (depth == 0) break;
          }
          continue;
        }
        if (c == '"') {
          inString = true;
        } else if (c == '[' || c == '{') {
          ++depth;
        } else if ((c == ']' || c == '}') && --depth == 0) {
          break;
        }
      }
      if (j >= text.size()) return std::nullopt;
      auto parsed = parseJson(text.substr(i, j + 1 - i));
      if (!parsed) return std::nullopt;
      out.push_back(std::move(*parsed));
      i = j + 1;
      continue;
    }
    std::size_t j = i;
    while (j < text.size() && !space(text[j])) ++j;
    out.emplace_back(std::string(text.substr(i, j - i)));
    i = j;
  }
  return out;
}

std::optional<Json> decode(const std::vector<ABIType>& types, ByteView data) {
  return decodeSequence(Reader{data}, types, 0);
}

}  // namespace abi_text

}  // namespace orwenna
