// SiteBridge: the app's answer to every call a web page makes to the wallet
// it was given (web/wallet.js). Connections are kept per origin — scheme,
// host and port — so http://site never rides on https://site's and another
// port is another site. Anything that signs waits in a queue of requests, each
// shown as a review sheet (what the page asks, decoded, with the simulated
// balance changes and the guards' findings) until the user approves or
// declines it, it times out, or the frame that asked goes away; every request
// is answered exactly once. Signing goes to the signer; EVM sends and Solana
// transfers go through the chains' send pipelines.
//
// Thread-safe: `call` may come from any thread and never blocks on the user
// or the network (that work runs on the bridge's own threads); `decide` and
// `sheets` from the web interface's threads. Replies are delivered on the
// bridge's threads or on the caller's.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/services.h"
#include "base/json.h"
#include "execution/evm_send.h"
#include "execution/journal.h"
#include "signing/signer_protocol.h"
#include "signing/trade_signer.h"

namespace orwenna {

// A page's origin as the browser reports it.
struct SiteOrigin {
  std::string scheme;  // "https", "http"
  std::string host;    // lower case
  int port = 0;        // the scheme's default when the text has none

  // Nothing for text that is not scheme://host[:port] with http or https.
  [[nodiscard]] static std::optional<SiteOrigin> parse(std::string_view text);
  // The key connections are kept under: scheme://host:port.
  std::string key() const;
  // Signing is offered to https pages, and to plain http only on this machine.
  bool secure() const;
};

// MetaMask's public list of phishing domains, in its own JSON shape:
// {"blacklist": [...], "whitelist": [...], "fuzzylist": [...], "tolerance": N}.
class PhishingList {
 public:
  PhishingList() = default;
  // Throws JsonShapeError when the lists are not arrays of strings.
  [[nodiscard]] static PhishingList fromJson(const Json& json);

  // The host or a domain above it is on the block list and not allowed.
  [[nodiscard]] bool blocked(std::string_view host) const;
  // The well-known site `host` imitates: a fuzzy-list entry within the
  // list's edit distance of the host's registrable name, but not that site.
  [[nodiscard]] std::optional<std::string> looksLike(std::string_view host) const;

 private:
  std::set<std::string> block_, allow_;
  std::vector<std::string> fuzzy_;
  int tolerance_ = 1;
};

// The active wallet as the signer reports it.
struct SiteWallet {
  std::optional<std::string> solana;
  std::optional<std::string> evm;
  bool ledger = false;  // a hardware wallet is active
};

// One call from a page. `frame` names the frame that made it, so its calls
// can be answered when it goes away.
struct SiteCall {
  std::string frame;
  std::string origin;
  std::string method;
  Json params;
};

// A reply: `result` or an `error` of the form "code|message".
struct SiteReply {
  Json result;
  std::optional<std::string> error;
  static SiteReply ok(Json result) { return {std::move(result), std::nullopt}; }
  static SiteReply fail(int code, std::string_view message);
  Json toJson() const;  // {"result": …} or {"error": "code|message"}
};

// What the review sheet shows for one waiting request.
struct SiteSheet {
  enum class Kind { connect, connectEVM, message, typedData, transaction, evmTransaction };
  std::string id;
  std::string origin;
  Kind kind = Kind::connect;
  bool send = false;                     // the app sends what it signs
  std::string title;                     // what the page asks, in one line
  std::vector<std::string> lines;        // decoded: the text, the calls, the fields
  std::vector<std::string> changes;      // under "Your balances (simulated)"
  std::vector<std::string> notes;        // fee, simulation notes, who sends
  std::vector<std::string> problems;     // any one of them: it can't be approved
  std::vector<std::string> unknownPrograms;
  std::optional<std::string> lookalike;  // the known site this host resembles
  std::string digest;                    // of everything above; the approval names it

  bool canApprove() const { return problems.empty(); }
  Json toJson() const;
};

// The user's answer to a sheet, naming the sheet it was given for.
struct SiteDecision {
  std::string id;
  std::string digest;
  bool approve = false;
  bool allowUnknown = false;    // accepts the unknown programs listed
  bool trustLookalike = false;  // accepts the look-alike host
};

class SiteBridge {
 public:
  using Reply = std::function<void(const SiteReply&)>;

  // How long a request waits for the user.
  static constexpr std::int64_t kWaitMillis = 5 * 60'000;
  // Forwarded reads per origin in any ten seconds.
  static constexpr int kReadsPerWindow = 100;
  static constexpr std::int64_t kReadWindowMillis = 10'000;
  static constexpr std::int64_t kReadTimeoutMillis = 20'000;

  struct Setup {
    const Services& services;
    TradeSigner& signer;                                    // transactions, through the pipelines
    std::function<SignerReply(const SignerRequest&)> sign;  // messages and typed data
    std::function<SiteWallet()> wallet;
    Journal& journal;
    PhishingList phishing;
    std::function<void(const std::string&)> activity;  // one line of the activity log
    std::function<void()> changed;                     // the waiting sheets changed
  };

  // REQUIRES: what `setup` refers to outlives the bridge.
  explicit SiteBridge(Setup setup);
  // Answers every waiting request "4900" and waits for the bridge's threads.
  ~SiteBridge();
  SiteBridge(const SiteBridge&) = delete;
  SiteBridge& operator=(const SiteBridge&) = delete;

  // Answers `call` through `reply`, exactly once.
  void call(const SiteCall& call, Reply reply);
  // The frame went away: what it still waits for is answered 4900.
  void gone(const std::string& frame);

  // The waiting requests, oldest first.
  std::vector<SiteSheet> sheets() const;
  // Nothing when the decision was taken; else why not (no such request, a
  // sheet that changed, a switch the sheet needs).
  [[nodiscard]] std::optional<std::string> decide(const SiteDecision& decision);

  bool connected(const std::string& origin) const;
  bool connectedEVM(const std::string& origin) const;

 private:
  struct Pending;
  using Work = std::function<SiteReply()>;

  void answerNow(const Reply& reply, const SiteReply& answer);
  void enqueue(const SiteCall& call, SiteSheet sheet, Reply reply, Work onApprove, std::string declined);
  void spawn(std::function<void()> job);
  void watch();

  std::optional<SiteReply> preamble(const SiteCall& call, const SiteOrigin& origin, const SiteWallet& wallet);
  void solana(const SiteCall& call, const SiteOrigin& origin, const SiteWallet& wallet, Reply reply);
  void evm(const SiteCall& call, const SiteOrigin& origin, const SiteWallet& wallet, Reply reply);
  void evmSend(const SiteCall& call, const SiteOrigin& origin, const SiteWallet& wallet, const Json& tx, Reply reply);
  void solanaTransaction(const SiteCall& call, const SiteOrigin& origin, const std::string& owner, bool send,
                         Reply reply);
  SiteReply forward(const std::string& origin, std::uint64_t chainId, const std::string& method,
                    const Json& params);
  std::uint64_t chainOf(const std::string& origin) const;

  Setup s_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::uint64_t nextId_ = 1;
  std::deque<std::shared_ptr<Pending>> pending_;
  std::set<std::string> connected_, connectedEVM_;  // origin keys
  std::map<std::string, std::uint64_t> evmChain_;    // origin key → chain id
  std::map<std::string, std::deque<std::int64_t>> reads_;
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::vector<Worker> threads_;  // finished ones are joined by the next spawn
  std::thread watcher_;
  EVMNonces nonces_;
};

}  // namespace orwenna
