#include "signing/msgpack.h"

#include "signing/wallet_error.h"

namespace orwenna {

namespace {

void putBigEndian(Bytes& out, std::uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void encodeString(Bytes& out, std::string_view s) {
  std::size_t n = s.size();
  if (n < 32) {
    out.push_back(static_cast<std::uint8_t>(0xa0 + n));
  } else if (n < 256) {
    out.push_back(0xd9);
    putBigEndian(out, n, 1);
  } else if (n <= 0xffff) {
    out.push_back(0xda);
    putBigEndian(out, n, 2);
  } else {
    if (n > 0xffffffffULL) throw WalletError("A text of more than 4294967295 bytes can't be encoded.");
    out.push_back(0xdb);
    putBigEndian(out, n, 4);
  }
  out.insert(out.end(), s.begin(), s.end());
}

void encodeHeader(Bytes& out, std::size_t n, std::uint8_t fix, std::uint8_t wide) {
  if (n > MsgPack::kMaxEntries) {
    throw WalletError("An array or map of " + std::to_string(n) + " entries can't be encoded (at most 65535).");
  }
  if (n < 16) {
    out.push_back(static_cast<std::uint8_t>(fix + n));
  } else {
    out.push_back(wide);
    putBigEndian(out, n, 2);
  }
}

// Decoding the tagged form: every problem is one sentence naming the place.
[[noreturn]] void refuse(const std::string& what) { throw WalletError("Unreadable action value: " + what + "."); }

MsgPack decodeTagged(const Json& json, int depth) {
  if (depth > MsgPack::kMaxDepth) refuse("nested more than 64 levels deep");
  if (!json.is_object()) refuse("expected an object with a \"kind\", found " + json.dump());
  auto kindIt = json.find("kind");
  if (kindIt == json.end() || !kindIt->is_string()) refuse("no \"kind\" text in " + json.dump());
  const std::string& kind = kindIt->get_ref<const std::string&>();

  auto onlyKeys = [&](std::initializer_list<std::string_view> allowed) {
    for (auto it = json.begin(); it != json.end(); ++it) {
      bool known = it.key() == "kind";
      for (std::string_view a : allowed) known = known || it.key() == a;
      if (!known) refuse("unexpected key \"" + it.key() + "\" in a " + kind);
    }
    for (std::string_view a : allowed) {
      if (!json.contains(a)) refuse("a " + kind + " without \"" + std::string(a) + "\"");
    }
  };

  if (kind == "null") {
    onlyKeys({});
    return MsgPack::null();
  }
  if (kind == "bool") {
    onlyKeys({"bool"});
    const Json& v = json["bool"];
    if (!v.is_boolean()) refuse("\"bool\" is not true or false: " + v.dump());
    return MsgPack::boolean(v.get<bool>());
  }
  if (kind == "uint") {
    onlyKeys({"uint"});
    const Json& v = json["uint"];
    if (v.is_number_unsigned()) return MsgPack::uint(v.get<std::uint64_t>());
    if (v.is_number_integer() && v.get<std::int64_t>() >= 0) {
      return MsgPack::uint(static_cast<std::uint64_t>(v.get<std::int64_t>()));
    }
    refuse("\"uint\" is not an unsigned 64-bit integer: " + v.dump());
  }
  if (kind == "string") {
    onlyKeys({"string"});
    const Json& v = json["string"];
    if (!v.is_string()) refuse("\"string\" is not a text: " + v.dump());
    return MsgPack::string(v.get<std::string>());
  }
  if (kind == "array") {
    onlyKeys({"array"});
    const Json& v = json["array"];
    if (!v.is_array()) refuse("\"array\" is not a list");
    if (v.size() > MsgPack::kMaxEntries) refuse("an array of more than 65535 entries");
    MsgPack::Array items;
    items.reserve(v.size());
    for (const Json& item : v) items.push_back(decodeTagged(item, depth + 1));
    return MsgPack::array(std::move(items));
  }
  if (kind == "map") {
    onlyKeys({"keys", "values"});
    const Json& keys = json["keys"];
    const Json& values = json["values"];
    if (!keys.is_array() || !values.is_array()) refuse("a map's \"keys\" and \"values\" must be lists");
    if (keys.size() != values.size()) {
      refuse("a map with " + std::to_string(keys.size()) + " keys and " + std::to_string(values.size()) +
             " values");
    }
    if (keys.size() > MsgPack::kMaxEntries) refuse("a map of more than 65535 entries");
    MsgPack::Map entries;
    entries.reserve(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (!keys[i].is_string()) refuse("a map key that is not a text: " + keys[i].dump());
      entries.emplace_back(keys[i].get<std::string>(), decodeTagged(values[i], depth + 1));
    }
    return MsgPack::map(std::move(entries));
  }
  refuse("unknown kind \"" + kind + "\"");
}

MsgPack decodePlain(const Json& json, int depth) {
  if (depth > MsgPack::kMaxDepth) throw WalletError("The action is nested more than 64 levels deep.");
  switch (json.type()) {
    case Json::value_t::null: return MsgPack::null();
    case Json::value_t::boolean: return MsgPack::boolean(json.get<bool>());
    case Json::value_t::number_unsigned: return MsgPack::uint(json.get<std::uint64_t>());
    case Json::value_t::number_integer: {
      std::int64_t v = json.get<std::int64_t>();
      if (v >= 0) return MsgPack::uint(static_cast<std::uint64_t>(v));
      break;
    }
    case Json::value_t::string: return MsgPack::string(json.get<std::string>());
    case Json::value_t::array: {
      MsgPack::Array items;
      items.reserve(json.size());
      for (const Json& item : json) items.push_back(decodePlain(item, depth + 1));
      return MsgPack::array(std::move(items));
    }
    case Json::value_t::object: {
      MsgPack::Map entries;
      entries.reserve(json.size());
      for (auto it = json.begin(); it != json.end(); ++it) {
        entries.emplace_back(it.key(), decodePlain(it.value(), depth + 1));
      }
      return MsgPack::map(std::move(entries));
    }
    default: break;
  }
  throw WalletError("Only whole numbers from 0 up can be part of an action; write " + json.dump() +
                    " as a decimal string.");
}

}  // namespace

std::string_view MsgPack::kindName(Kind kind) {
  switch (kind) {
    case Kind::null: return "null";
    case Kind::boolean: return "bool";
    case Kind::uint: return "uint";
    case Kind::string: return "string";
    case Kind::array: return "array";
    case Kind::map: return "map";
  }
  return "null";
}

const MsgPack* MsgPack::find(std::string_view key) const {
  const Map* entries = mapValue();
  if (entries == nullptr) return nullptr;
  for (const Entry& e : *entries) {
    if (e.first == key) return &e.second;
  }
  return nullptr;
}

MsgPack& MsgPack::append(std::string key, MsgPack value) {
  std::get<Map>(value_).emplace_back(std::move(key), std::move(value));
  return *this;
}

void MsgPack::encode(Bytes& out) const {
  switch (kind()) {
    case Kind::null: out.push_back(0xc0); return;
    case Kind::boolean: out.push_back(*boolValue() ? 0xc3 : 0xc2); return;
    case Kind::uint: {
      std::uint64_t n = *uintValue();
      if (n < 128) {
        out.push_back(static_cast<std::uint8_t>(n));
      } else if (n < 256) {
        out.push_back(0xcc);
        putBigEndian(out, n, 1);
      } else if (n < 65536) {
        out.push_back(0xcd);
        putBigEndian(out, n, 2);
      } else if (n <= 0xffffffffULL) {
        out.push_back(0xce);
        putBigEndian(out, n, 4);
      } else {
        out.push_back(0xcf);
        putBigEndian(out, n, 8);
      }
      return;
    }
    case Kind::string: encodeString(out, *stringValue()); return;
    case Kind::array: {
      const Array& items = *arrayValue();
      encodeHeader(out, items.size(), 0x90, 0xdc);
      for (const MsgPack& item : items) item.encode(out);
      return;
    }
    case Kind::map: {
      const Map& entries = *mapValue();
      encodeHeader(out, entries.size(), 0x80, 0xde);
      for (const Entry& e : entries) {
        encodeString(out, e.first);
        e.second.encode(out);
      }
      return;
    }
  }
}

Bytes MsgPack::encoded() const {
  Bytes out;
  encode(out);
  return out;
}

Json MsgPack::toJson() const {
  Json j = Json::object();
  j["kind"] = kindName(kind());
  switch (kind()) {
    case Kind::null: break;
    case Kind::boolean: j["bool"] = *boolValue(); break;
    case Kind::uint: j["uint"] = *uintValue(); break;
    case Kind::string: j["string"] = *stringValue(); break;
    case Kind::array: {
      Json items = Json::array();
      for (const MsgPack& item : *arrayValue()) items.push_back(item.toJson());
      j["array"] = std::move(items);
      break;
    }
    case Kind::map: {
      Json keys = Json::array();
      Json values = Json::array();
      for (const Entry& e : *mapValue()) {
        keys.push_back(e.first);
        values.push_back(e.second.toJson());
      }
      j["keys"] = std::move(keys);
      j["values"] = std::move(values);
      break;
    }
  }
  return j;
}

MsgPack MsgPack::fromJson(const Json& json) { return decodeTagged(json, 0); }

Json MsgPack::toPlainJson() const {
  switch (kind()) {
    case Kind::null: return Json(nullptr);
    case Kind::boolean: return Json(*boolValue());
    case Kind::uint: return Json(*uintValue());
    case Kind::string: return Json(*stringValue());
    case Kind::array: {
      Json items = Json::array();
      for (const MsgPack& item : *arrayValue()) items.push_back(item.toPlainJson());
      return items;
    }
    case Kind::map: {
      // JSON objects cannot repeat a key: a map that does would post text the
      // exchange reads back as different bytes than were signed.
      Json object = Json::object();
      for (const Entry& e : *mapValue()) {
        if (object.contains(e.first)) throw WalletError("The action has the key \"" + e.first + "\" twice.");
        object[e.first] = e.second.toPlainJson();
      }
      return object;
    }
  }
  return Json(nullptr);
}

MsgPack MsgPack::fromPlainJson(const Json& json) { return decodePlain(json, 0); }

}  // namespace orwenna
