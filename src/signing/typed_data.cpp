#include "signing/typed_data.h"

#include <algorithm>
#include <array>

#include "base/bytes.h"
#include "base/text.h"
#include "base/uint.h"
#include "signing/wallet_error.h"

namespace orwenna {

namespace {

// nlohmann reads integers past 64 bits as doubles; a number a signature covers
// must not be rounded, so every non-integer token keeps its exact JSON text.
class ExactNumbers : public nlohmann::detail::json_sax_dom_parser<Json> {
 public:
  using nlohmann::detail::json_sax_dom_parser<Json>::json_sax_dom_parser;
  bool number_float(number_float_t /*rounded*/, const string_t& text) {
    string_t copy = text;
    return string(copy);
  }
};

std::optional<Json> parseExact(std::string_view text) {
  Json root;
  ExactNumbers sax(root, false);
  if (!Json::sax_parse(text, &sax) || sax.is_errored()) return std::nullopt;
  return root;
}

[[noreturn]] void fail(const std::string& message) { throw WalletError(message); }

const char* const kUnreadable = "Unreadable typed data.";

// The value as received: strings as they are, numbers in their JSON text,
// nothing for a missing or null value.
std::string displayText(const Json* value) {
  if (value == nullptr || value->is_null()) return "";
  if (value->is_string()) return value->get<std::string>();
  return value->dump();
}

bool isDigits(std::string_view s, bool hex) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [hex](char c) {
    return (c >= '0' && c <= '9') || (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
  });
}

UInt256 readUint(const Json* value) {
  std::string text = displayText(value);
  if (value != nullptr && value->is_number_unsigned()) return UInt256(value->get<std::uint64_t>());
  if (value == nullptr || !value->is_string()) fail("Not a number: " + text);
  bool hex = text.size() > 2 && text[0] == '0' && text[1] == 'x';
  std::string_view digits = hex ? std::string_view(text).substr(2) : std::string_view(text);
  if (!isDigits(digits, hex)) fail("Not a number: " + text);
  std::size_t first = digits.find_first_not_of('0');
  if (first == std::string_view::npos) return 0;
  digits = digits.substr(first);
  // 2^256 - 1 has 78 decimal or 64 hex digits: longer is out of range before any arithmetic.
  if (digits.size() > (hex ? 64u : 78u)) fail("Number out of uint256 range.");
  if (hex) return *parseUInt256Hex(digits);
  auto number = parseUInt256(digits);  // the digits are checked: nothing here means too large
  if (!number) fail("Number out of uint256 range.");
  return *number;
}

bool isUintType(std::string_view type) {
  if (type.substr(0, 4) != "uint" || type.size() < 5 || type.size() > 7 || type[4] == '0') return false;
  if (!isDigits(type.substr(4), false)) return false;
  int width = std::stoi(std::string(type.substr(4)));
  return width >= 8 && width <= 256 && width % 8 == 0;
}

struct Declared {
  std::string name;
  std::string type;
};

std::vector<Declared> declaredFields(const Json& list, const Json& types) {
  if (!list.is_array()) fail(kUnreadable);
  std::vector<Declared> out;
  for (const Json& f : list) {
    if (!f.is_object() || !f.contains("name") || !f.contains("type") || !f["name"].is_string() ||
        !f["type"].is_string()) {
      fail("A field without a name or type.");
    }
    Declared d{f["name"].get<std::string>(), f["type"].get<std::string>()};
    // "Person" and "Person[]" are both structs of the page's own making.
    std::string base = d.type.substr(0, d.type.find('['));
    if (types.contains(base)) fail("orwenna doesn't sign nested typed data (" + d.type + ") yet.");
    out.push_back(std::move(d));
  }
  return out;
}

EIP712::Value encodeValue(const Declared& field, const Json* value) {
  const std::string& type = field.type;
  std::string text = displayText(value);
  if (type == "string") return EIP712::Value::string(text);
  if (type == "address") {
    if (value == nullptr || !value->is_string() || text.empty()) fail("No address.");
    EIP712::Value v = EIP712::Value::address(text);
    (void)EIP712::encodeValue(EIP712::Field{field.name, type, v});  // "Invalid address: …" now, not at signing
    return v;
  }
  if (type == "bool") {
    bool flag = value != nullptr && ((value->is_boolean() && value->get<bool>()) || (value->is_string() && text == "true"));
    return EIP712::Value::boolean(flag);
  }
  if (type == "bytes32") {
    auto raw = value != nullptr && value->is_string() ? fromHex(text) : std::nullopt;
    if (!raw || raw->size() != 32) fail("Invalid bytes32.");
    return EIP712::Value::bytes32(std::move(*raw));
  }
  if (type == "bytes") {
    if (value != nullptr && !value->is_null() && !value->is_string()) fail("Invalid bytes.");
    auto raw = fromHex(text);
    if (!raw) fail("Invalid bytes.");
    return EIP712::Value::bytes(std::move(*raw));
  }
  // Only real widths: an array ("uint256[]") or "uint7" read as one number would
  // sign a hash that does not mean what the prompt shows.
  if (isUintType(type)) return EIP712::Value::uint(readUint(value));
  fail("orwenna doesn't sign type " + type + " yet.");
}

const Json* member(const Json& object, const std::string& key) {
  auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

}  // namespace

TypedData TypedData::parse(std::string_view jsonText) {
  auto doc = parseExact(jsonText);
  if (!doc || !doc->is_object()) fail(kUnreadable);
  const Json* types = member(*doc, "types");
  const Json* primary = member(*doc, "primaryType");
  const Json* domain = member(*doc, "domain");
  const Json* message = member(*doc, "message");
  if (!types || !types->is_object() || !primary || !primary->is_string() || !domain || !domain->is_object() ||
      !message || !message->is_object()) {
    fail(kUnreadable);
  }

  std::vector<Declared> domainFields;
  if (const Json* declared = member(*types, "EIP712Domain")) {
    domainFields = declaredFields(*declared, *types);
  } else {
    static const std::array<Declared, 5> canonical{{{"name", "string"},
                                                    {"version", "string"},
                                                    {"chainId", "uint256"},
                                                    {"verifyingContract", "address"},
                                                    {"salt", "bytes32"}}};
    for (const auto& d : canonical) {
      const Json* v = member(*domain, d.name);
      if (v != nullptr && !v->is_null()) domainFields.push_back(d);
    }
  }

  TypedData out;
  out.primaryType = primary->get<std::string>();
  const Json* primaryFields = member(*types, out.primaryType);
  if (primaryFields == nullptr) fail(kUnreadable);
  std::vector<Declared> messageFields = declaredFields(*primaryFields, *types);

  EIP712::Typed typed;
  typed.type = out.primaryType;
  for (const auto& d : domainFields) {
    typed.domain.push_back(EIP712::Field{d.name, d.type, encodeValue(d, member(*domain, d.name))});
  }
  for (const auto& d : messageFields) {
    const Json* v = member(*message, d.name);
    typed.message.push_back(EIP712::Field{d.name, d.type, encodeValue(d, v)});
    out.fields.push_back(Field{d.name, d.type, displayText(v)});
  }

  out.domainName = displayText(member(*domain, "name"));
  out.chainId = displayText(member(*domain, "chainId"));
  out.verifyingContract = text::asciiLowercased(displayText(member(*domain, "verifyingContract")));
  out.digest = EIP712::digest(typed);
  return out;
}

std::optional<std::string> TypedData::refusal(const TypedData& typed) {
  const std::string& primary = typed.primaryType;
  std::vector<std::string> names;
  for (const auto& f : typed.fields) names.push_back(text::asciiLowercased(f.name));
  auto hasName = [&](std::string_view n) { return std::find(names.begin(), names.end(), n) != names.end(); };

  static const std::array<std::string_view, 3> entryPoints{"0x5ff137d4b0fdcd49dca30c7cf57e578a026d2789",
                                                           "0x0000000071727de22e5e9d8baf0edac6f37da032",
                                                           "0x4337084d9e255ff0702461cf8895ce9e3b5ff108"};
  if (std::find(entryPoints.begin(), entryPoints.end(), typed.verifyingContract) != entryPoints.end() ||
      typed.domainName == "ERC4337" || primary.find("UserOperation") != std::string::npos) {
    return primary + ": an ERC-4337 user operation — it would run any calls from this wallet. orwenna doesn't sign these.";
  }

  static const std::array<std::string_view, 8> permits{"Permit",
                                                       "PermitSingle",
                                                       "PermitBatch",
                                                       "PermitTransferFrom",
                                                       "PermitBatchTransferFrom",
                                                       "PermitWitnessTransferFrom",
                                                       "PermitBatchWitnessTransferFrom",
                                                       "PermitForAll"};
  if (std::find(permits.begin(), permits.end(), primary) != permits.end() ||
      text::asciiLowercased(primary).find("permit") != std::string::npos || hasName("spender") ||
      (hasName("operator") && hasName("approved"))) {
    return primary + ": this is permission to spend your tokens (Permit) — the drainers' main trick. orwenna doesn't sign these.";
  }

  if (typed.domainName == "HyperliquidSignTransaction" || (typed.domainName == "Exchange" && primary == "Agent")) {
    return primary +
           ": a Hyperliquid action signed with your main key (a withdrawal, a transfer, a key approval). orwenna signs "
           "those only in its own steps, never for a site.";
  }

  if (primary == "TransferWithAuthorization" || primary == "ReceiveWithAuthorization") {
    return primary + ": moves your tokens by signature (EIP-3009). orwenna doesn't sign that for a site.";
  }

  static const std::array<std::string_view, 6> recipients{"to", "recipient", "destination", "receiver", "beneficiary", "dst"};
  bool hasAmount = std::any_of(names.begin(), names.end(), [](const std::string& n) {
    return n == "value" || n == "wad" || n.find("amount") != std::string::npos;
  });
  if (hasAmount) {
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (std::find(recipients.begin(), recipients.end(), names[i]) != recipients.end()) {
        return primary + " sends an amount to its «" + typed.fields[i].name + "»: orwenna doesn't sign payments as typed data.";
      }
    }
  }
  return std::nullopt;
}

Json TypedData::toJson() const {
  Json j = Json::object();
  j["primaryType"] = primaryType;
  j["domainName"] = domainName;
  j["chainId"] = chainId;
  j["verifyingContract"] = verifyingContract;
  Json list = Json::array();
  for (const auto& f : fields) list.push_back(Json{{"name", f.name}, {"type", f.type}, {"value", f.value}});
  j["fields"] = std::move(list);
  j["digest"] = toBase64(digest);
  return j;
}

}  // namespace orwenna
