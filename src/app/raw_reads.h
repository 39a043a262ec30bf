// The agent's raw read lookups: `hl` (any Hyperliquid info request), `rpc`
// (read-only JSON-RPC on Solana and the EVM networks) and `fetch` (GET from an
// allow-list of public data APIs), and the "find <WORDS>" filter that keeps
// only the items of a long answer that hold every word.
//
// Everything here only reads: write and signing methods are refused before
// any request leaves, and fetch reaches only the hosts of its policy over
// https on the default port. Every refusal is a finished sentence, thrown as
// AgentError so the lookup dispatcher hands it to the model as text.
// The handlers hold no mutable state and may run concurrently, as long as the
// HttpClient they are given may.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/agent.h"
#include "base/clock.h"
#include "base/http.h"
#include "chains/solana_rpc.h"
#include "hyperliquid/info.h"

namespace orwenna::Agent {

// Longest answer handed to the model unfiltered (bytes, cut at a UTF-8 boundary).
inline constexpr std::size_t kRawReadLimit = 6000;

// The user's own addresses, filled in for "me", "{evm}" and "{solana}".
struct UserAddresses {
  std::optional<std::string> evm;
  std::optional<std::string> solana;
};

// A raw read's argument split at a trailing " find " that lies outside any
// JSON string or bracket: `hl {"type":"meta"} find BTC`.
struct FindSplit {
  std::string subject;               // trimmed
  std::optional<std::string> words;  // trimmed; set when " find " was there
};
[[nodiscard]] FindSplit splitFind(std::string_view arg);

// The answer for the model. With `words` (space-separated, matched without
// regard to case as parts of the item's text): a JSON answer keeps only the
// items holding every word — elements of arrays and members of objects that
// hold only lists or maps, searched through nested containers — with the
// structure around them and the top level's plain values; other text keeps the
// lines holding every word. Without words, or when the kept part is still
// longer than `limit`, the text is cut to `limit` bytes with a note saying so.
// Nothing kept gives a plain sentence saying so.
std::string findItems(std::string_view answer, std::string_view words, std::size_t limit = kRawReadLimit);

// hl <JSON> [find <WORDS>]: the JSON object (with a string "type") is POSTed
// to the info endpoint. A body that looks like an exchange action ("action",
// "signature" or "nonce") is refused. "me" or "{evm}" in a string value is the
// user's EVM address.
LookupHandler hlLookup(Hyperliquid::InfoApi api, UserAddresses me = {});

// Where rpc reads from: the nodes the caller resolved (Services::rpcNodes).
struct RpcNodes {
  HttpClient& http;
  Clock& clock;
  UserAddresses me;
  SolanaNodes solana;  // asked in order
  // By network key, the main node first; a network not listed is read from
  // its default nodes.
  std::map<std::string, std::vector<std::string>> evmNodes;
};

// The methods rpc allows: Solana get…, isBlockhashValid, minimumLedgerSlot and
// simulateTransaction (a dry run lands nothing); on EVM networks eth_call,
// eth_get…, and the fee, chain and client reads.
[[nodiscard]] bool isReadOnlySolanaMethod(std::string_view method);
[[nodiscard]] bool isReadOnlyEvmMethod(std::string_view method);

// rpc <NETWORK|solana> <METHOD> [<JSON params>] [find <WORDS>]: the "result"
// of one read call. Params are a JSON array (default []); a string "me" in
// them is the user's address on that chain, "{evm}"/"{solana}" inside a string
// the respective address.
LookupHandler rpcLookup(RpcNodes nodes);

// call <NETWORK> <CONTRACT> <function(argTypes)(returnTypes)> [ARGS…]: one
// eth_call of a view function; "me" is the user's EVM address. The values come
// back as a JSON array (numbers as exact decimal strings). A call that moves or
// approves money is refused before any request.
LookupHandler callLookup(RpcNodes nodes);

// One host fetch may read.
struct FetchHost {
  std::string label;         // "DefiLlama"
  std::string domain;        // lower case
  bool apex = true;          // the domain itself
  bool subdomains = false;   // names under it, at a dot boundary
  std::string scheme = "https";
  std::optional<int> port;   // none: the scheme's default port only
};

struct FetchPolicy {
  std::vector<FetchHost> hosts;
  std::size_t maxBytes = 4u << 20;  // a larger answer is refused
  std::chrono::milliseconds timeout{15000};
  std::size_t limit = kRawReadLimit;

  // DefiLlama, DexScreener, GeckoTerminal, CoinGecko, Jupiter, Kamino, Pendle
  // and the Blockscout explorers, over https on the default port.
  static FetchPolicy publicDataApis();

  // Nothing when `url` may be fetched, else the sentence refusing it.
  [[nodiscard]] std::optional<std::string> refusal(std::string_view url) const;
  // "fetch only reads public data APIs: DefiLlama (llama.fi), …"
  std::string allowedSentence() const;
};

// fetch <URL> [find <WORDS>]: one GET; "{evm}" and "{solana}" in the URL are
// the user's own addresses (refused when not known).
LookupHandler fetchLookup(FetchPolicy policy, HttpClient& http, UserAddresses me);

}  // namespace orwenna::Agent
