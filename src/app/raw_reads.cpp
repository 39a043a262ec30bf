#include "app/raw_reads.h"

#include <algorithm>

#include <fmt/format.h>

#include "base/json.h"
#include "base/text.h"
#include "chains/abi_text.h"
#include "chains/evm_call.h"
#include "chains/evm_network.h"
#include "chains/evm_rpc.h"
#include "chains/solana_rpc.h"

namespace orwenna::Agent {
namespace {

bool isAsciiSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

std::vector<std::string> spaceSeparated(std::string_view s) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && isAsciiSpace(s[i])) ++i;
    std::size_t start = i;
    while (i < s.size() && !isAsciiSpace(s[i])) ++i;
    if (i > start) out.emplace_back(s.substr(start, i - start));
  }
  return out;
}

std::string joined(const std::vector<std::string>& parts, std::string_view separator, std::string_view last) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += (i + 1 == parts.size()) ? last : separator;
    out += parts[i];
  }
  return out;
}

// Ends `s` as a sentence unless it already ends in one.
std::string sentence(std::string s) {
  while (!s.empty() && isAsciiSpace(s.back())) s.pop_back();
  if (s.empty() || (s.back() != '.' && s.back() != '!' && s.back() != '?')) s += '.';
  return s;
}

// --- The user's addresses in arguments -------------------------------------

enum class Chain { evm, solana };

const std::string& addressFor(const UserAddresses& me, Chain chain, std::string_view asWritten) {
  const std::optional<std::string>& address = chain == Chain::evm ? me.evm : me.solana;
  if (!address || address->empty())
    throw AgentError(fmt::format("Your {} address isn't known here, so «{}» can't be filled in.",
                                 chain == Chain::evm ? "EVM" : "Solana", asWritten));
  return *address;
}

std::string replacedPlaceholders(std::string text, const UserAddresses& me) {
  for (auto [placeholder, chain] : {std::pair{std::string_view("{evm}"), Chain::evm},
                                    std::pair{std::string_view("{solana}"), Chain::solana}}) {
    for (std::size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at)) {
      const std::string& address = addressFor(me, chain, placeholder);
      text.replace(at, placeholder.size(), address);
      at += address.size();
    }
  }
  return text;
}

// Placeholders inside strings are filled in wherever they stand; with
// `meToo`, a string value "me" is the user's address on `chain`.
void fillAddresses(Json& value, Chain chain, const UserAddresses& me, bool meToo) {
  if (value.is_string()) {
    const std::string& s = value.get_ref<const std::string&>();
    if (meToo && s == "me") {
      value = addressFor(me, chain, s);
    } else if (s.find('{') != std::string::npos) {
      value = replacedPlaceholders(s, me);
    }
    return;
  }
  if (value.is_structured())
    for (auto& item : value) fillAddresses(item, chain, me, meToo);
}

// --- Compact JSON with its own number texts ----------------------------------

// Whitespace outside strings removed; everything else kept byte for byte, so
// numbers reach the model exactly as the service wrote them.
// REQUIRES: `json` is valid JSON.
std::string minified(std::string_view json) {
  std::string out;
  out.reserve(json.size());
  bool inString = false;
  bool escaped = false;
  for (char c : json) {
    if (inString) {
      out += c;
      if (escaped) escaped = false;
      else if (c == '\\') escaped = true;
      else if (c == '"') inString = false;
    } else if (!isAsciiSpace(c)) {
      out += c;
      if (c == '"') inString = true;
    }
  }
  return out;
}

// A value of a minified JSON text: its span, and for containers the parts.
struct Node {
  char kind = 's';  // '[', '{', or 's' for a scalar
  std::string_view text;
  std::vector<std::string_view> keys;  // objects: the quoted member names
  std::vector<Node> parts;
};

constexpr int kMaxDepth = 256;

struct Scanner {
  std::string_view s;
  std::size_t pos = 0;

  std::string_view stringToken() {
    std::size_t start = pos++;
    while (pos < s.size() && s[pos] != '"') pos += (s[pos] == '\\') ? 2 : 1;
    ++pos;
    return s.substr(start, pos - start);
  }

  // REQUIRES: `s` is valid minified JSON (checked by parseJson first).
  std::optional<Node> value(int depth) {
    if (depth > kMaxDepth || pos >= s.size()) return std::nullopt;
    Node node;
    std::size_t start = pos;
    char c = s[pos];
    if (c == '[' || c == '{') {
      node.kind = c;
      const char close = c == '[' ? ']' : '}';
      ++pos;
      while (pos < s.size() && s[pos] != close) {
        if (c == '{') {
          node.keys.push_back(stringToken());
          ++pos;  // ':'
        }
        auto part = value(depth + 1);
        if (!part) return std::nullopt;
        node.parts.push_back(std::move(*part));
        if (pos < s.size() && s[pos] == ',') ++pos;
      }
      ++pos;
    } else if (c == '"') {
      stringToken();
    } else {
      while (pos < s.size() && s[pos] != ',' && s[pos] != ']' && s[pos] != '}') ++pos;
    }
    node.text = s.substr(start, pos - start);
    return node;
  }
};

// --- The find filter -----------------------------------------------------------

struct Words {
  std::vector<std::string> lowered;
  bool heldBy(std::string_view text) const {
    const std::string lower = text::lowercased(text);
    return std::all_of(lowered.begin(), lowered.end(),
                       [&](const std::string& w) { return lower.find(w) != std::string::npos; });
  }
};

Words wordsOf(std::string_view words) {
  Words out;
  std::string lower = text::lowercased(words);
  for (std::string_view guillemet : {"«", "»"})  // words the model quoted
    lower = text::replacedAll(lower, guillemet, " ");
  for (std::string w : spaceSeparated(lower)) {
    auto quote = [](char c) { return c == '"' || c == '\''; };
    while (!w.empty() && quote(w.front())) w.erase(w.begin());
    while (!w.empty() && quote(w.back())) w.pop_back();
    if (!w.empty()) out.lowered.push_back(std::move(w));
  }
  return out;
}

// An item is read whole: a plain value, an object with at least one plain
// member (a record such as a pair or a pool), or a tuple of plain values.
// Anything else (lists of lists, maps of lists) is searched through.
bool isItem(const Node& n) {
  if (n.kind == 's' || n.parts.empty()) return true;
  if (n.kind == '{') return std::any_of(n.parts.begin(), n.parts.end(), [](const Node& p) { return p.kind == 's'; });
  return std::all_of(n.parts.begin(), n.parts.end(), [](const Node& p) { return p.kind == 's'; });
}

struct Filtered {
  std::string text;
  std::size_t kept = 0;
  std::size_t seen = 0;
};

Filtered filtered(const Node& node, const Words& words);

// The kept parts of a list or a map, in its own brackets.
Filtered filteredParts(const Node& node, const Words& words) {
  Filtered out;
  std::vector<std::string> parts;
  for (std::size_t i = 0; i < node.parts.size(); ++i) {
    const Node& part = node.parts[i];
    const std::string prefix = node.kind == '{' ? std::string(node.keys[i]) + ":" : std::string();
    if (node.kind == '{' && part.kind == 's') {
      // Only the top object is searched through with plain members (any
      // other would be a record): they say what the lists are, and stay.
      parts.push_back(prefix + std::string(part.text));
      continue;
    }
    // An array element that is an item, or an object member holding a record.
    const bool item = node.kind == '[' ? isItem(part) : (part.kind == '{' && isItem(part));
    if (item) {
      ++out.seen;
      if (words.heldBy(prefix + std::string(part.text))) {
        parts.push_back(prefix + std::string(part.text));
        ++out.kept;
      }
      continue;
    }
    Filtered inner = filtered(part, words);
    out.seen += inner.seen;
    if (inner.kept > 0) {
      parts.push_back(prefix + inner.text);
      out.kept += inner.kept;
    }
  }
  const std::string body = text::join(parts, ",");
  out.text = node.kind == '[' ? "[" + body + "]" : "{" + body + "}";
  return out;
}

Filtered filtered(const Node& node, const Words& words) {
  if (node.kind == 's') return {};
  return filteredParts(node, words);
}

std::string quotedWords(const Words& words) { return "«" + joined(words.lowered, " ", " ") + "»"; }

// Cut to `limit` bytes at a character boundary, with the note saying so.
std::string cutToLimit(std::string text, std::size_t limit, bool filtered) {
  if (text.size() <= limit) return text;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  const std::size_t total = text.size();
  text.resize(end);
  text += fmt::format("\n[The answer was cut here: these are the first {} of its {} bytes. {}]", end, total,
                      filtered ? "More words after \"find\" narrow it further."
                               : "Add \"find <WORDS>\" to keep only the items that hold every word.");
  return text;
}

std::string findLines(std::string_view text, const Words& words, std::size_t limit) {
  std::vector<std::string> kept;
  std::size_t seen = 0;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!text::trimmed(line).empty()) {
      ++seen;
      if (words.heldBy(line)) kept.emplace_back(line);
    }
    start = end + 1;
  }
  if (kept.empty()) return "No line of the answer holds every word of " + quotedWords(words) + ".";
  std::string out = fmt::format("{} of {} lines hold every word of {}:\n", kept.size(), seen, quotedWords(words));
  out += text::join(kept, "\n");
  return cutToLimit(std::move(out), limit, true);
}

// --- Splitting "<subject> find <WORDS>" -----------------------------------------

bool findWordAt(std::string_view arg, std::size_t i) {
  if (i + 5 > arg.size() || !isAsciiSpace(arg[i])) return false;
  if (text::asciiLowercased(arg.substr(i + 1, 4)) != "find") return false;
  return i + 5 == arg.size() || isAsciiSpace(arg[i + 5]);
}

// --- rpc argument -----------------------------------------------------------------

constexpr std::string_view kRpcUsage =
    "rpc needs a network, a method and, when the method takes any, a JSON array of params, like "
    "rpc solana getBalance [\"me\"] or rpc base eth_getBalance [\"me\", \"latest\"].";

std::string networkList() {
  std::vector<std::string> names{"solana"};
  for (const EVMNetwork& n : EVMNetwork::all()) names.push_back(n.key);
  return joined(names, ", ", " and ");
}

std::string solanaAllowed() {
  return "On Solana it allows the get… methods, isBlockhashValid, minimumLedgerSlot and simulateTransaction.";
}

const std::vector<std::string_view>& evmExactMethods() {
  static const std::vector<std::string_view> methods{
      "eth_call",     "eth_blockNumber",          "eth_chainId",     "eth_gasPrice",
      "eth_feeHistory", "eth_estimateGas",        "eth_maxPriorityFeePerGas", "eth_blobBaseFee",
      "net_version",  "web3_clientVersion"};
  return methods;
}

std::string evmAllowed() {
  return "On EVM networks it allows eth_call, the eth_get… methods, eth_blockNumber, eth_chainId, eth_gasPrice, "
         "eth_feeHistory, eth_estimateGas, eth_maxPriorityFeePerGas, eth_blobBaseFee, net_version and "
         "web3_clientVersion.";
}

// "getBalance" and the like: a prefix, then a capital, then letters and digits.
bool isGetter(std::string_view method, std::string_view prefix) {
  if (!method.starts_with(prefix) || method.size() == prefix.size()) return false;
  const char first = method[prefix.size()];
  if (first < 'A' || first > 'Z') return false;
  return std::all_of(method.begin() + static_cast<std::ptrdiff_t>(prefix.size()), method.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
  });
}

// The "result" of one call; no network means Solana.
Json callNode(const RpcNodes& nodes, const EVMNetwork* network, const std::string& method, const Json& params) {
  if (!network) {
    return SolanaRPC(nodes.http, nodes.clock, nodes.solana).call(method, params);
  }
  auto listed = nodes.evmNodes.find(network->key);
  return EVMRPC::forNetwork(nodes.http, nodes.clock, *network,
                            listed == nodes.evmNodes.end() ? std::vector<std::string>{} : listed->second)
      .call(method, params);
}

// --- fetch -------------------------------------------------------------------------

struct UrlParts {
  std::string scheme;
  std::string host;
  std::optional<int> port;
  bool userinfo = false;
};

std::optional<UrlParts> urlParts(std::string_view url) {
  const std::size_t sep = url.find("://");
  if (sep == std::string_view::npos || sep == 0) return std::nullopt;
  UrlParts parts;
  parts.scheme = text::asciiLowercased(url.substr(0, sep));
  if (!std::all_of(parts.scheme.begin(), parts.scheme.end(), [](char c) { return c >= 'a' && c <= 'z'; }))
    return std::nullopt;
  std::string_view rest = url.substr(sep + 3);
  std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
  if (authority.find('@') != std::string_view::npos) {
    parts.userinfo = true;
    return parts;
  }
  std::string_view host = authority;
  if (std::size_t colon = authority.rfind(':'); colon != std::string_view::npos) {
    host = authority.substr(0, colon);
    std::string_view port = authority.substr(colon + 1);
    if (port.empty() || port.size() > 5 || !std::all_of(port.begin(), port.end(), [](char c) {
          return c >= '0' && c <= '9';
        }))
      return std::nullopt;
    parts.port = std::stoi(std::string(port));
  }
  parts.host = text::asciiLowercased(host);
  // Plain host names only: no IP-literal brackets, escapes or empty labels.
  if (parts.host.empty() || parts.host.front() == '.' || parts.host.back() == '.' ||
      parts.host.find("..") != std::string::npos)
    return std::nullopt;
  if (!std::all_of(parts.host.begin(), parts.host.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
      }))
    return std::nullopt;
  return parts;
}

bool hostMatches(const FetchHost& rule, std::string_view host) {
  if (host == rule.domain) return rule.apex;
  return rule.subdomains && host.size() > rule.domain.size() + 1 && host.ends_with(rule.domain) &&
         host[host.size() - rule.domain.size() - 1] == '.';
}

int defaultPort(std::string_view scheme) { return scheme == "http" ? 80 : 443; }

// Bytes outside ASCII in the path and query, percent-encoded for the wire.
std::string asciiUrl(std::string_view url) {
  std::string out;
  for (char c : url) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80) out += fmt::format("%{:02X}", byte);
    else out += c;
  }
  return out;
}

std::string oneLine(std::string_view text, std::size_t max) {
  std::string out = text::sanitized(text.substr(0, max));  // a split last character becomes U+FFFD
  std::replace_if(out.begin(), out.end(), [](char c) { return c == '\n' || c == '\r' || c == '\t'; }, ' ');
  return std::string(text::trimmed(out));
}

}  // namespace

// --- Public -------------------------------------------------------------------------

FindSplit splitFind(std::string_view arg) {
  bool inString = false;
  bool escaped = false;
  int depth = 0;
  for (std::size_t i = 0; i < arg.size(); ++i) {
    const char c = arg[i];
    if (inString) {
      if (escaped) escaped = false;
      else if (c == '\\') escaped = true;
      else if (c == '"') inString = false;
      continue;
    }
    if (c == '"') inString = true;
    else if (c == '[' || c == '{') ++depth;
    else if ((c == ']' || c == '}') && depth > 0) --depth;
    else if (depth == 0 && i > 0 && findWordAt(arg, i)) {
      const std::string subject = text::trimmed(arg.substr(0, i));
      if (!subject.empty()) return {subject, text::trimmed(arg.substr(i + 5))};
    }
  }
  return {text::trimmed(arg), std::nullopt};
}

std::string findItems(std::string_view answer, std::string_view wordsText, std::size_t limit) {
  const Words words = wordsOf(wordsText);
  if (answer.starts_with("\xEF\xBB\xBF")) answer.remove_prefix(3);  // a byte-order mark the parser would skip
  const bool isJson = parseJson(answer).has_value();
  if (words.lowered.empty()) {
    if (isJson) return cutToLimit(minified(answer), limit, false);
    return cutToLimit(std::string(answer), limit, false);
  }
  if (!isJson) return findLines(answer, words, limit);

  const std::string compact = minified(answer);
  Scanner scanner{compact};
  std::optional<Node> root = scanner.value(0);
  if (!root || root->kind == 's') return findLines(compact, words, limit);  // too deep, or one plain value
  Filtered kept = filtered(*root, words);
  if (kept.seen == 0) return findLines(compact, words, limit);
  if (kept.kept == 0)
    return fmt::format("No item in the answer holds every word of {} ({} items read).", quotedWords(words),
                       kept.seen);
  return cutToLimit(fmt::format("{} of {} items hold every word of {}:\n{}", kept.kept, kept.seen,
                                quotedWords(words), kept.text),
                    limit, true);
}

// --- hl ---------------------------------------------------------------------------

LookupHandler hlLookup(Hyperliquid::InfoApi api, UserAddresses me) {
  return [api, me](const std::string& arg) -> std::string {
    const FindSplit split = splitFind(arg);
    std::optional<Json> body = parseJson(split.subject);
    if (!body || !body->is_object() || !body->contains("type") || !(*body)["type"].is_string())
      throw AgentError(
          "hl needs one JSON object with a \"type\", like {\"type\":\"clearinghouseState\",\"user\":\"me\"}.");
    for (std::string_view key : {"action", "signature", "nonce"})
      if (body->contains(key))
        throw AgentError(fmt::format(
            "hl only reads Hyperliquid's info endpoint: a body with «{}» is an exchange action, so it is refused.",
            key));
    // "me" only as the user asked about: a coin may well be called ME.
    if (auto user = body->find("user"); user != body->end() && user->is_string() && text::asciiLowercased(user->get<std::string>()) == "me")
      *user = addressFor(me, Chain::evm, "me");
    fillAddresses(*body, Chain::evm, me, false);
    std::string answer;
    try {
      answer = Hyperliquid::post(api, *body);
    } catch (const std::exception& e) {
      throw AgentError(sentence(e.what()));
    }
    return findItems(text::sanitized(answer), split.words.value_or(""));
  };
}

// --- rpc --------------------------------------------------------------------------

bool isReadOnlySolanaMethod(std::string_view method) {
  return isGetter(method, "get") || method == "isBlockhashValid" || method == "minimumLedgerSlot" ||
         method == "simulateTransaction";
}

bool isReadOnlyEvmMethod(std::string_view method) {
  if (isGetter(method, "eth_get")) return true;
  const auto& exact = evmExactMethods();
  return std::find(exact.begin(), exact.end(), method) != exact.end();
}

LookupHandler rpcLookup(RpcNodes nodes) {
  return [nodes](const std::string& arg) -> std::string {
    const FindSplit split = splitFind(arg);
    const std::string& subject = split.subject;
    const std::size_t jsonAt = subject.find_first_of("[{\"");
    const std::vector<std::string> head = spaceSeparated(std::string_view(subject).substr(0, jsonAt));
    const std::string paramsText =
        jsonAt == std::string::npos ? std::string() : text::trimmed(std::string_view(subject).substr(jsonAt));
    if (head.size() < 2) throw AgentError(std::string(kRpcUsage));

    // Network names may be two words ("BNB Chain").
    const bool solana = text::asciiLowercased(head[0]) == "solana";
    const EVMNetwork* network = nullptr;
    std::size_t used = 1;
    if (!solana) {
      if (head.size() >= 3 && (network = EVMNetwork::byKey(head[0] + " " + head[1]))) used = 2;
      else network = EVMNetwork::byKey(head[0]);
      if (!network)
        throw AgentError(fmt::format("No network «{}» for rpc: it reads {}.", head[0], networkList()));
    }
    if (head.size() > used + 1)
      throw AgentError(std::string(kRpcUsage));  // words where the params should be
    const std::string& method = head[used];

    if (solana && !isReadOnlySolanaMethod(method))
      throw AgentError(fmt::format("rpc only reads, so «{}» is refused on Solana. {}", method, solanaAllowed()));
    if (!solana && !isReadOnlyEvmMethod(method))
      throw AgentError(
          fmt::format("rpc only reads, so «{}» is refused on {}. {}", method, network->name, evmAllowed()));

    Json params = Json::array();
    if (!paramsText.empty()) {
      std::optional<Json> parsed = parseJson(paramsText);
      if (!parsed || !parsed->is_array())
        throw AgentError("rpc params must be one JSON array, like [\"me\", \"latest\"].");
      params = std::move(*parsed);
    }
    fillAddresses(params, solana ? Chain::solana : Chain::evm, nodes.me, true);

    Json result;
    try {
      result = callNode(nodes, network, method, params);
    } catch (const std::exception& e) {
      throw AgentError(sentence(e.what()));
    }
    return findItems(result.dump(-1, ' ', false, Json::error_handler_t::replace), split.words.value_or(""));
  };
}



// --- call ---------------------------------------------------------------------------

constexpr std::string_view kCallUsage =
    "call needs a network, a contract, a function with its return types and its arguments, like "
    "call base 0x833589fCD6eDb6E08f4c7C32D4f71b54bdA02913 balanceOf(address)(uint256) me.";

LookupHandler callLookup(RpcNodes nodes) {
  return [nodes](const std::string& arg) -> std::string {
    auto words = abi_text::words(arg);
    if (!words || words->size() < 3) throw AgentError(std::string(kCallUsage));
    auto wordText = [&](std::size_t i) { return (*words)[i].is_string() ? (*words)[i].get<std::string>() : ""; };
    // Network names may be two words ("BNB Chain").
    const EVMNetwork* network = nullptr;
    std::size_t used = 1;
    if (words->size() >= 4 && (network = EVMNetwork::byKey(wordText(0) + " " + wordText(1)))) used = 2;
    else network = EVMNetwork::byKey(wordText(0));
    if (!network) {
      throw AgentError(fmt::format("No EVM network «{}» for call: it reads {}.", wordText(0),
                                   networkList().substr(std::string_view("solana, ").size())));
    }
    const std::string contract = wordText(used);
    const bool isAddress = contract.size() == 42 && contract.starts_with("0x") && fromHex(contract).has_value();
    if (!isAddress) throw AgentError("Not a contract address: «" + contract + "».");
    const std::string signatureText = used + 1 < words->size() ? wordText(used + 1) : "";
    std::optional<ABIFunction> function = ABIFunction::parse(signatureText);
    if (!function) {
      throw AgentError("«" + signatureText +
                       "» is not a function with its return types, like balanceOf(address)(uint256).");
    }
    Json args(std::vector<Json>(words->begin() + static_cast<std::ptrdiff_t>(used + 2), words->end()));
    if (args.size() != function->inputs.size()) {
      throw AgentError(fmt::format("{} takes {} argument{}, {} given.", function->signature(),
                                   function->inputs.size(), function->inputs.size() == 1 ? "" : "s", args.size()));
    }
    fillAddresses(args, Chain::evm, nodes.me, true);
    std::vector<ABI::Value> values;
    try {
      for (std::size_t i = 0; i < args.size(); ++i) values.push_back(abi_text::value(function->inputs[i], args[i]));
    } catch (const Error& e) {
      throw AgentError(e.what());
    }
    const Bytes data = ABI::call(function->signature(), values);
    // eth_call changes nothing, but a call that would move or approve money
    // has no place in a read: it is refused before anything is asked.
    const EVMCall decoded = EVMCall::decode(contract, data);
    if (decoded.kind != EVMCall::Kind::contract) {
      throw AgentError(fmt::format("call only reads, so {} is refused: it changes state ({}).",
                                   function->signature(), EVMCall::kindName(decoded.kind)));
    }
    Json result;
    try {
      result = callNode(nodes, network, "eth_call",
                        Json::array({Json{{"to", contract}, {"data", toHex0x(data)}}, "latest"}));
    } catch (const std::exception& e) {
      throw AgentError(sentence(e.what()));
    }
    std::optional<Bytes> answer = result.is_string() ? fromHex(result.get<std::string>()) : std::nullopt;
    std::optional<Json> out = answer ? abi_text::decode(function->outputs, *answer) : std::nullopt;
    if (!out) {
      std::string types;
      for (const auto& t : function->outputs) types += (types.empty() ? "" : ",") + t.name();
      throw AgentError(fmt::format("The answer of {} on {} doesn't read as ({}): {}.", function->name,
                                   network->name, types, text::sanitized(result.dump().substr(0, 80))));
    }
    return out->dump(-1, ' ', false, Json::error_handler_t::replace);
  };
}

// --- fetch ------------------------------------------------------------------------

FetchPolicy FetchPolicy::publicDataApis() {
  FetchPolicy policy;
  policy.hosts = {
      {"DefiLlama", "llama.fi", true, true, "https", std::nullopt},
      {"DexScreener", "api.dexscreener.com", true, false, "https", std::nullopt},
      {"GeckoTerminal", "api.geckoterminal.com", true, false, "https", std::nullopt},
      {"CoinGecko", "api.coingecko.com", true, false, "https", std::nullopt},
      {"Jupiter", "jup.ag", false, true, "https", std::nullopt},
      {"Kamino", "api.kamino.finance", true, false, "https", std::nullopt},
      {"Pendle", "api-v2.pendle.finance", true, false, "https", std::nullopt},
      {"the Blockscout explorers", "blockscout.com", false, true, "https", std::nullopt},
  };
  return policy;
}

std::string FetchPolicy::allowedSentence() const {
  std::vector<std::string> names;
  for (const FetchHost& h : hosts) {
    std::string where = h.apex && h.subdomains ? h.domain + " and its subdomains"
                        : h.subdomains         ? "*." + h.domain
                                               : h.domain;
    if (h.port) where += ":" + std::to_string(*h.port);
    if (h.scheme != "https") where = h.scheme + "://" + where;
    names.push_back(h.label + " (" + where + ")");
  }
  return "fetch only reads public data APIs, over https on the default port: " + joined(names, ", ", " and ") + ".";
}

std::optional<std::string> FetchPolicy::refusal(std::string_view url) const {
  const std::string shown = oneLine(url, 200);
  for (char c : url) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7f || c == '\\')
      return "«" + shown + "» is not a plain URL. " + allowedSentence();
  }
  std::optional<UrlParts> parts = urlParts(url);
  if (!parts) return "«" + shown + "» is not a URL fetch can read. " + allowedSentence();
  if (parts->userinfo)
    return "fetch refuses a URL with a user name or password before the host («user@host»). " + allowedSentence();

  std::vector<const FetchHost*> matching;
  for (const FetchHost& h : hosts)
    if (hostMatches(h, parts->host)) matching.push_back(&h);
  if (matching.empty()) return "«" + parts->host + "» isn't one of them: " + allowedSentence();

  const auto schemeFits = [&](const FetchHost* h) { return h->scheme == parts->scheme; };
  if (std::none_of(matching.begin(), matching.end(), schemeFits))
    return "fetch refuses «" + parts->scheme + "://» for " + parts->host + ". " + allowedSentence();
  const auto portFits = [&](const FetchHost* h) {
    if (!schemeFits(h)) return false;
    if (h->port) return parts->port == h->port;
    return !parts->port || *parts->port == defaultPort(h->scheme);
  };
  if (std::none_of(matching.begin(), matching.end(), portFits))
    return "fetch refuses port " + std::to_string(parts->port.value_or(0)) + " on " + parts->host + ". " +
           allowedSentence();
  return std::nullopt;
}

LookupHandler fetchLookup(FetchPolicy policy, HttpClient& http, UserAddresses me) {
  return [policy = std::move(policy), &http, me](const std::string& arg) -> std::string {
    const FindSplit split = splitFind(arg);
    if (split.subject.empty())
      throw AgentError("fetch needs a URL, like fetch https://api.llama.fi/protocols find aave.");
    if (std::any_of(split.subject.begin(), split.subject.end(), isAsciiSpace))
      throw AgentError("fetch takes one URL without spaces, then optionally find and the words to keep.");
    const std::string url = replacedPlaceholders(split.subject, me);
    if (auto why = policy.refusal(url)) throw AgentError(*why);

    HttpRequest request;
    request.method = "GET";
    request.url = asciiUrl(url);
    // Some of these APIs sit behind filters that turn away requests with no agent.
    request.headers = {{"Accept", "application/json"}, {"User-Agent", "orwenna"}};
    request.timeout = policy.timeout;
    const HttpResponse response = http.send(request);
    const std::string host = urlParts(url)->host;
    if (!response.ok()) {
      const std::string detail = oneLine(response.body, 200);
      throw AgentError(detail.empty() ? fmt::format("{} answered HTTP {}.", host, response.status)
                                      : sentence(fmt::format("{} answered HTTP {}: {}", host, response.status, detail)));
    }
    if (response.body.size() > policy.maxBytes)
      throw AgentError(fmt::format("The answer from {} is larger than {} bytes, too much to read; ask for less.",
                                   host, policy.maxBytes));
    if (text::trimmed(response.body).empty()) return host + " answered with nothing.";
    return findItems(text::sanitized(response.body), split.words.value_or(""), policy.limit);
  };
}

}  // namespace orwenna::Agent
