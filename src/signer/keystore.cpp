#include "signer/keystore.h"

#include <algorithm>
#include <cctype>

#include "base/files.h"

namespace orwenna {

namespace {

constexpr int kKeystoreVersion = 1;

bool sameOwner(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

[[noreturn]] void damaged(const std::string& what) {
  throw SignerServiceError("The signer's key file is damaged (" + what + ").");
}

std::string textField(const Json& json, const char* key) {
  if (!json.contains(key) || !json.at(key).is_string()) damaged(std::string("no ") + key);
  return json.at(key).get<std::string>();
}

std::optional<std::string> optionalText(const Json& json, const char* key) {
  if (!json.contains(key) || json.at(key).is_null()) return std::nullopt;
  if (!json.at(key).is_string()) damaged(std::string(key) + " is not text");
  return json.at(key).get<std::string>();
}

bool flag(const Json& json, const char* key) {
  if (!json.contains(key)) return false;
  if (!json.at(key).is_boolean()) damaged(std::string(key) + " is not true or false");
  return json.at(key).get<bool>();
}

}  // namespace

std::string_view StoredWallet::kindName(Kind kind) {
  switch (kind) {
    case Kind::phrase:
      return "phrase";
    case Kind::solanaKey:
      return "solana-key";
    case Kind::evmKey:
      return "evm-key";
  }
  return "phrase";
}

SignerWallet StoredWallet::record() const {
  SignerWallet w;
  w.id = id;
  w.label = label;
  w.kind = std::string(kindName(kind));
  w.solana = solana;
  w.evm = evm;
  w.near = near;
  if (test) w.test = true;
  if (automation) w.automation = true;
  return w;
}

StoredWallet* Keystore::wallet(std::string_view id) {
  auto it = std::find_if(wallets.begin(), wallets.end(), [&](const StoredWallet& w) { return w.id == id; });
  return it == wallets.end() ? nullptr : &*it;
}

const StoredWallet* Keystore::wallet(std::string_view id) const {
  return const_cast<Keystore*>(this)->wallet(id);
}

StoredAgent* Keystore::agentFor(std::string_view owner) {
  auto it = std::find_if(agents.begin(), agents.end(), [&](const StoredAgent& a) { return sameOwner(a.owner, owner); });
  return it == agents.end() ? nullptr : &*it;
}

Json Keystore::toJson() const {
  Json out = Json::object();
  out["version"] = kKeystoreVersion;
  if (kdf) out["kdf"] = kdf->toJson();
  if (check) out["check"] = check->toJson();
  Json ws = Json::array();
  for (const auto& w : wallets) {
    Json j{{"id", w.id},
           {"label", w.label},
           {"kind", StoredWallet::kindName(w.kind)},
           {"requirePresence", w.requirePresence},
           {"automation", w.automation},
           {"test", w.test},
           {"sealed", w.sealed.toJson()}};
    if (w.solana) j["solana"] = *w.solana;
    if (w.evm) j["evm"] = *w.evm;
    if (w.near) j["near"] = *w.near;
    ws.push_back(std::move(j));
  }
  out["wallets"] = std::move(ws);
  Json as = Json::array();
  for (const auto& a : agents) {
    as.push_back(Json{{"owner", a.owner}, {"address", a.address}, {"active", a.active}, {"sealed", a.sealed.toJson()}});
  }
  out["agents"] = std::move(as);
  Json book = Json::array();
  for (const auto& a : addressBook) {
    book.push_back(Json{{"name", a.name}, {"network", a.network}, {"address", a.address}, {"memo", a.memo}});
  }
  out["addressBook"] = std::move(book);
  out["activeWallet"] = activeWallet;
  out["sessionLength"] = sessionLength;
  return out;
}

Keystore Keystore::fromJson(const Json& json) {
  if (!json.is_object()) damaged("not an object");
  if (!json.contains("version") || json.at("version") != kKeystoreVersion) damaged("unknown version");
  Keystore k;
  if (json.contains("kdf")) k.kdf = ScryptParams::fromJson(json.at("kdf"));
  if (json.contains("check")) k.check = SealedBox::fromJson(json.at("check"));
  auto list = [&](const char* key) -> const Json& {
    if (!json.contains(key) || !json.at(key).is_array()) damaged(std::string("no ") + key);
    return json.at(key);
  };
  for (const auto& j : list("wallets")) {
    StoredWallet w;
    w.id = textField(j, "id");
    w.label = textField(j, "label");
    std::string kind = textField(j, "kind");
    if (kind == "phrase") {
      w.kind = StoredWallet::Kind::phrase;
    } else if (kind == "solana-key") {
      w.kind = StoredWallet::Kind::solanaKey;
    } else if (kind == "evm-key") {
      w.kind = StoredWallet::Kind::evmKey;
    } else {
      damaged("unknown wallet kind " + kind);
    }
    w.requirePresence = flag(j, "requirePresence");
    w.automation = flag(j, "automation");
    w.test = flag(j, "test");
    w.solana = optionalText(j, "solana");
    w.evm = optionalText(j, "evm");
    w.near = optionalText(j, "near");
    if (!j.contains("sealed")) damaged("a wallet without its key");
    w.sealed = SealedBox::fromJson(j.at("sealed"));
    k.wallets.push_back(std::move(w));
  }
  for (const auto& j : list("agents")) {
    StoredAgent a;
    a.owner = textField(j, "owner");
    a.address = textField(j, "address");
    a.active = flag(j, "active");
    if (!j.contains("sealed")) damaged("a trading key without its key");
    a.sealed = SealedBox::fromJson(j.at("sealed"));
    k.agents.push_back(std::move(a));
  }
  for (const auto& j : list("addressBook")) {
    k.addressBook.push_back(
        SignerAddress{textField(j, "name"), textField(j, "network"), textField(j, "address"), textField(j, "memo")});
  }
  k.activeWallet = optionalText(json, "activeWallet").value_or("");
  if (json.contains("sessionLength") && json.at("sessionLength").is_number_integer()) {
    k.sessionLength = json.at("sessionLength").get<std::int64_t>();
  }
  return k;
}

Keystore Keystore::load(const std::filesystem::path& folder) {
  auto text = readFile(folder / kFileName);
  if (!text) return Keystore{};
  auto json = parseJson(*text);
  if (!json) damaged("not JSON");
  return fromJson(*json);
}

void Keystore::save(const std::filesystem::path& folder) const {
  ensureDirectory(folder, 0700);
  writeFileAtomically(folder / kFileName, toJson().dump(2), 0600);
}

SecretBytes Keystore::deviceKey(const std::filesystem::path& folder, Random& random) {
  const auto path = folder / kDeviceKeyName;
  if (auto text = readFile(path)) {
    SecretBytes key(asBytes(*text));
    wipeString(*text);
    if (key.size() != Sealing::kKeyBytes) throw SignerServiceError("The signer's device key is damaged.");
    return key;
  }
  SecretBytes key(Sealing::kKeyBytes);
  random.fill(key.span());
  ensureDirectory(folder, 0700);
  std::string raw(reinterpret_cast<const char*>(key.data()), key.size());
  writeFileAtomically(path, raw, 0600);
  wipeString(raw);
  return key;
}

void Keystore::erase(const std::filesystem::path& folder) {
  std::error_code ignored;
  std::filesystem::remove(folder / kFileName, ignored);
  std::filesystem::remove(folder / kDeviceKeyName, ignored);
}

}  // namespace orwenna
