#include "app/site_bridge.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <fmt/format.h>

#include "base/bytes.h"
#include "base/log.h"
#include "base/text.h"
#include "base/uint.h"
#include "chains/evm_call.h"
#include "chains/evm_network.h"
#include "chains/evm_rpc.h"
#include "chains/solana_rpc.h"
#include "chains/solana_transaction.h"
#include "execution/execution_error.h"
#include "execution/solana_send.h"
#include "guards/tx_guard.h"
#include "signing/base58.h"
#include "signing/keccak.h"
#include "signing/typed_data.h"
#include "signing/wallet_error.h"

namespace orwenna {

namespace {

constexpr std::string_view kDeclined = "The user declined.";
constexpr std::string_view kConnectFirst = "Connect the site first.";

bool isLoopbackHost(std::string_view host) {
  return host == "localhost" || host == "127.0.0.1" || host == "[::1]" || host.ends_with(".localhost");
}

// Both lists name domains; a host is covered by an entry equal to it or to a
// domain above it.
bool coveredBy(const std::set<std::string>& domains, std::string_view host) {
  for (;;) {
    if (domains.count(std::string(host))) return true;
    auto dot = host.find('.');
    if (dot == std::string_view::npos) return false;
    host.remove_prefix(dot + 1);
  }
}

// The last two labels: what a look-alike imitates.
std::string registrable(std::string_view host) {
  auto last = host.rfind('.');
  if (last == std::string_view::npos || last == 0) return std::string(host);
  auto before = host.rfind('.', last - 1);
  return std::string(before == std::string_view::npos ? host : host.substr(before + 1));
}

int editDistance(std::string_view a, std::string_view b) {
  std::vector<int> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = static_cast<int>(j);
  for (std::size_t i = 1; i <= a.size(); ++i) {
    int diagonal = row[0];
    row[0] = static_cast<int>(i);
    for (std::size_t j = 1; j <= b.size(); ++j) {
      int up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

std::string lower(std::string_view s) { return text::asciiLowercased(s); }

// Answers the page when a review ends by an exception before its request was
// queued (the queue or an earlier reply answers otherwise; replies are once).
class Answered {
 public:
  explicit Answered(std::function<void(const SiteReply&)> reply) : reply_(std::move(reply)) {}
  ~Answered() {
    if (std::uncaught_exceptions() > 0) reply_(SiteReply::fail(-32603, "orwenna couldn't answer that request."));
  }
  Answered(const Answered&) = delete;
  Answered& operator=(const Answered&) = delete;

 private:
  std::function<void(const SiteReply&)> reply_;
};

// The read methods a page may send to the chain's node as they are.
bool isReadMethod(std::string_view m) {
  static const std::set<std::string_view> reads = {
      "eth_call",         "eth_blockNumber",           "eth_getBalance",          "eth_getCode",
      "eth_getTransactionCount", "eth_getTransactionReceipt", "eth_getTransactionByHash", "eth_estimateGas",
      "eth_gasPrice",     "eth_feeHistory",            "eth_getBlockByNumber",    "eth_getLogs",
      "eth_maxPriorityFeePerGas", "eth_getStorageAt"};
  return reads.count(m) > 0;
}

// The chains a site may switch to.
bool switchable(std::uint64_t chainId) { return chainId == 1 || chainId == 42161 || chainId == 8453; }

// Bytes a page gave as "0x…" hex, or as plain text.
Bytes messageBytes(const std::string& text) {
  if (text.starts_with("0x")) {
    if (auto bytes = fromHex(text)) return *bytes;
  }
  return Bytes(text.begin(), text.end());
}

// Text a person can read: valid UTF-8 without control characters other than
// line breaks and tabs.
bool readableText(ByteView bytes) {
  std::string_view s(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (!text::isValidUtf8(s)) return false;
  return std::none_of(s.begin(), s.end(), [](char c) {
    auto u = static_cast<unsigned char>(c);
    return (u < 0x20 && c != '\n' && c != '\r' && c != '\t') || u == 0x7f;
  });
}

std::string shownMessage(ByteView bytes) {
  if (readableText(bytes)) return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return "(not text, " + std::to_string(bytes.size()) + " bytes)";
}

std::string signedChange(const BigInt& change, int decimals) {
  BigInt magnitude = change < 0 ? BigInt(-change) : change;
  std::string digits = formatUnits(UInt256(magnitude), decimals);
  return (change < 0 ? "−" : "+") + digits;
}

std::string lamportsText(std::int64_t change) {
  BigInt c(change);
  return signedChange(c, 9);
}

// The Solana System program's transfer: instruction 2, then lamports.
std::optional<std::uint64_t> systemTransferLamports(ByteView data) {
  if (data.size() < 12 || data[0] != 2 || data[1] != 0 || data[2] != 0 || data[3] != 0) return std::nullopt;
  std::uint64_t lamports = 0;
  for (int i = 7; i >= 0; --i) lamports = (lamports << 8) | data[4 + static_cast<std::size_t>(i)];
  return lamports;
}

const char* kindName(SiteSheet::Kind k) {
  switch (k) {
    case SiteSheet::Kind::connect: return "connect";
    case SiteSheet::Kind::connectEVM: return "connectEVM";
    case SiteSheet::Kind::message: return "message";
    case SiteSheet::Kind::typedData: return "typedData";
    case SiteSheet::Kind::transaction: return "transaction";
    case SiteSheet::Kind::evmTransaction: return "evmTransaction";
  }
  return "connect";
}

Json sheetBody(const SiteSheet& s) {
  Json j = {{"id", s.id},           {"origin", s.origin},   {"kind", kindName(s.kind)}, {"send", s.send},
            {"title", s.title},     {"lines", s.lines},     {"changes", s.changes},     {"notes", s.notes},
            {"problems", s.problems}, {"unknownPrograms", s.unknownPrograms}};
  j["lookalike"] = s.lookalike ? Json(*s.lookalike) : Json(nullptr);
  return j;
}

std::string digestOf(const SiteSheet& s) { return toHex(Keccak::hash256(sheetBody(s).dump())).substr(0, 16); }

// A JSON-RPC quantity or decimal text; nothing for anything else.
std::optional<UInt256> quantity(const Json& v) {
  if (v.is_null()) return UInt256(0);
  if (v.is_number_unsigned()) return UInt256(v.get<std::uint64_t>());
  if (!v.is_string()) return std::nullopt;
  const auto& t = v.get_ref<const std::string&>();
  if (t.starts_with("0x") || t.starts_with("0X")) return t.size() == 2 ? std::optional<UInt256>(0) : parseUInt256Hex(t);
  return parseUInt256(t);
}

}  // namespace

// ---- origins and the phishing list

std::optional<SiteOrigin> SiteOrigin::parse(std::string_view text) {
  SiteOrigin o;
  auto sep = text.find("://");
  if (sep == std::string_view::npos) return std::nullopt;
  o.scheme = lower(text.substr(0, sep));
  if (o.scheme != "https" && o.scheme != "http") return std::nullopt;
  std::string_view rest = text.substr(sep + 3);
  if (rest.ends_with("/")) rest.remove_suffix(1);
  if (rest.empty() || rest.find_first_of("/?#@ ") != std::string_view::npos) return std::nullopt;
  std::string_view host = rest, port;
  if (rest.starts_with("[")) {
    auto close = rest.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = rest.substr(0, close + 1);
    if (close + 1 < rest.size()) {
      if (rest[close + 1] != ':') return std::nullopt;
      port = rest.substr(close + 2);
    }
  } else if (auto colon = rest.rfind(':'); colon != std::string_view::npos) {
    host = rest.substr(0, colon);
    port = rest.substr(colon + 1);
  }
  if (host.empty()) return std::nullopt;
  o.host = lower(host);
  o.port = o.scheme == "https" ? 443 : 80;
  if (!port.empty()) {
    int p = 0;
    for (char c : port) {
      if (c < '0' || c > '9' || p > 65535) return std::nullopt;
      p = p * 10 + (c - '0');
    }
    if (p <= 0 || p > 65535) return std::nullopt;
    o.port = p;
  }
  return o;
}

std::string SiteOrigin::key() const { return scheme + "://" + host + ":" + std::to_string(port); }

bool SiteOrigin::secure() const { return scheme == "https" || isLoopbackHost(host); }

PhishingList PhishingList::fromJson(const Json& json) {
  PhishingList list;
  auto strings = [&](const char* name) {
    std::vector<std::string> out;
    if (!json.contains(name)) return out;
    const Json& a = json.at(name);
    if (!a.is_array()) throw JsonShapeError(std::string("The phishing list's ") + name + " isn't a list.");
    for (const auto& e : a) {
      if (!e.is_string()) throw JsonShapeError(std::string("The phishing list's ") + name + " holds a non-name.");
      out.push_back(lower(e.get<std::string>()));
    }
    return out;
  };
  for (auto& d : strings("blacklist")) list.block_.insert(std::move(d));
  for (auto& d : strings("whitelist")) list.allow_.insert(std::move(d));
  list.fuzzy_ = strings("fuzzylist");
  if (json.contains("tolerance") && json.at("tolerance").is_number_integer()) {
    list.tolerance_ = std::clamp(json.at("tolerance").get<int>(), 0, 3);
  }
  return list;
}

bool PhishingList::blocked(std::string_view host) const {
  const std::string h = lower(host);
  return coveredBy(block_, h) && !coveredBy(allow_, h);
}

std::optional<std::string> PhishingList::looksLike(std::string_view host) const {
  const std::string h = lower(host);
  if (coveredBy(allow_, h)) return std::nullopt;
  const std::string name = registrable(h);
  for (const auto& known : fuzzy_) {
    if (name == known || coveredBy({known}, h)) return std::nullopt;
  }
  for (const auto& known : fuzzy_) {
    if (editDistance(name, known) <= tolerance_) return known;
  }
  return std::nullopt;
}

SiteReply SiteReply::fail(int code, std::string_view message) {
  return {Json(nullptr), std::to_string(code) + "|" + std::string(message)};
}

Json SiteReply::toJson() const {
  if (error) return {{"error", *error}};
  return {{"result", result}};
}

Json SiteSheet::toJson() const {
  Json j = sheetBody(*this);
  j["digest"] = digest;
  j["canApprove"] = canApprove();
  return j;
}

// ---- the queue

struct SiteBridge::Pending {
  SiteSheet sheet;
  std::string frame;
  std::string host;
  std::int64_t deadline = 0;
  Reply reply;
  Work onApprove;
  std::string declined;  // the activity line's reason when declined
};

SiteBridge::SiteBridge(Setup setup) : s_(std::move(setup)) {
  watcher_ = std::thread([this] { watch(); });
}

SiteBridge::~SiteBridge() {
  std::deque<std::shared_ptr<Pending>> left;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    left.swap(pending_);
  }
  wake_.notify_all();
  for (auto& p : left) p->reply(SiteReply::fail(4900, "orwenna closed the site's wallet."));
  if (watcher_.joinable()) watcher_.join();
  std::vector<Worker> threads;
  {
    std::lock_guard lock(mutex_);
    threads.swap(threads_);
  }
  for (auto& w : threads) w.thread.join();
}

void SiteBridge::spawn(std::function<void()> job) {
  std::lock_guard lock(mutex_);
  // Pages poll the node all the time: finished threads must not pile up.
  std::erase_if(threads_, [](Worker& w) {
    if (!w.done->load()) return false;
    w.thread.join();
    return true;
  });
  auto done = std::make_shared<std::atomic<bool>>(false);
  threads_.push_back(Worker{std::thread([job = std::move(job), done] {
                              try {
                                job();
                              } catch (const std::exception& e) {
                                log::warn("site wallet: {}", e.what());
                              }
                              done->store(true);
                            }),
                            done});
}

void SiteBridge::watch() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    wake_.wait_for(lock, std::chrono::seconds(1));
    const std::int64_t now = s_.services.clock.nowMillis();
    std::vector<std::shared_ptr<Pending>> expired;
    std::erase_if(pending_, [&](const std::shared_ptr<Pending>& p) {
      if (p->deadline > now) return false;
      expired.push_back(p);
      return true;
    });
    if (expired.empty()) continue;
    lock.unlock();
    for (auto& p : expired) p->reply(SiteReply::fail(4001, "The request timed out."));
    if (s_.changed) s_.changed();
    lock.lock();
  }
}

void SiteBridge::answerNow(const Reply& reply, const SiteReply& answer) { reply(answer); }

void SiteBridge::enqueue(const SiteCall& call, SiteSheet sheet, Reply reply, Work onApprove, std::string declined) {
  auto origin = SiteOrigin::parse(call.origin);
  if (origin) sheet.lookalike = s_.phishing.looksLike(origin->host);
  auto p = std::make_shared<Pending>();
  {
    std::lock_guard lock(mutex_);
    if (stopping_) {
      reply(SiteReply::fail(4900, "orwenna closed the site's wallet."));
      return;
    }
    sheet.id = std::to_string(nextId_++);
    sheet.origin = call.origin;
    sheet.digest = digestOf(sheet);
    p->sheet = std::move(sheet);
    p->frame = call.frame;
    p->host = origin ? origin->host : call.origin;
    p->deadline = s_.services.clock.nowMillis() + kWaitMillis;
    p->reply = std::move(reply);
    p->onApprove = std::move(onApprove);
    p->declined = std::move(declined);
    pending_.push_back(p);
  }
  if (s_.changed) s_.changed();
}

void SiteBridge::gone(const std::string& frame) {
  std::vector<std::shared_ptr<Pending>> left;
  {
    std::lock_guard lock(mutex_);
    std::erase_if(pending_, [&](const std::shared_ptr<Pending>& p) {
      if (p->frame != frame) return false;
      left.push_back(p);
      return true;
    });
  }
  if (left.empty()) return;
  for (auto& p : left) p->reply(SiteReply::fail(4900, "The page went away."));
  if (s_.changed) s_.changed();
}

std::vector<SiteSheet> SiteBridge::sheets() const {
  std::lock_guard lock(mutex_);
  std::vector<SiteSheet> out;
  for (const auto& p : pending_) out.push_back(p->sheet);
  return out;
}

std::optional<std::string> SiteBridge::decide(const SiteDecision& d) {
  std::shared_ptr<Pending> p;
  {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(pending_.begin(), pending_.end(), [&](const auto& q) { return q->sheet.id == d.id; });
    if (it == pending_.end()) return "That request is no longer waiting.";
    if ((*it)->sheet.digest != d.digest) return "The request changed since it was shown; look at it again.";
    if (d.approve) {
      const SiteSheet& sh = (*it)->sheet;
      if (!sh.canApprove()) return "Refused — it can't be signed";
      if (!sh.unknownPrograms.empty() && !d.allowUnknown) return "Tick that you accept the unknown programs first.";
      if (sh.lookalike && !d.trustLookalike) return "Tick “I understand this isn't " + *sh.lookalike + "” first.";
    }
    p = *it;
    pending_.erase(it);
  }
  if (s_.changed) s_.changed();
  if (!d.approve) {
    if (!p->declined.empty() && s_.activity) s_.activity(p->host + p->declined);
    p->reply(SiteReply::fail(4001, kDeclined));
    return std::nullopt;
  }
  spawn([p] {
    try {
      p->reply(p->onApprove());
    } catch (const std::exception& e) {
      log::warn("site wallet: {}", e.what());
      p->reply(SiteReply::fail(-32603, "orwenna couldn't answer that request."));
    }
  });
  return std::nullopt;
}

bool SiteBridge::connected(const std::string& origin) const {
  auto o = SiteOrigin::parse(origin);
  std::lock_guard lock(mutex_);
  return o && connected_.count(o->key());
}

bool SiteBridge::connectedEVM(const std::string& origin) const {
  auto o = SiteOrigin::parse(origin);
  std::lock_guard lock(mutex_);
  return o && connectedEVM_.count(o->key());
}

std::uint64_t SiteBridge::chainOf(const std::string& key) const {
  std::lock_guard lock(mutex_);
  auto it = evmChain_.find(key);
  return it == evmChain_.end() ? 1 : it->second;
}

// ---- calls

void SiteBridge::call(const SiteCall& call, Reply reply) {
  // Whatever happens below, the page hears back once.
  auto once = std::make_shared<std::atomic<bool>>(false);
  Reply answer = [once, reply = std::move(reply)](const SiteReply& r) {
    if (!once->exchange(true)) reply(r);
  };
  auto origin = SiteOrigin::parse(call.origin);
  if (!origin) return answerNow(answer, SiteReply::fail(4100, "orwenna's wallet works only on web pages."));
  try {
    const SiteWallet wallet = s_.wallet();
    if (auto refused = preamble(call, *origin, wallet)) return answerNow(answer, *refused);
    if (call.method == "eth") return evm(call, *origin, wallet, answer);
    solana(call, *origin, wallet, answer);
  } catch (const std::exception& e) {
    log::warn("site wallet: {} from {}: {}", call.method, origin->key(), e.what());
    answer(SiteReply::fail(-32603, "orwenna couldn't answer that request."));
  }
}

std::optional<SiteReply> SiteBridge::preamble(const SiteCall& call, const SiteOrigin& origin, const SiteWallet& wallet) {
  if (wallet.ledger) {
    return SiteReply::fail(4100, "The browser signs with orwenna's own wallets for now: switch from the Ledger to use a site.");
  }
  if (s_.phishing.blocked(origin.host)) {
    return SiteReply::fail(4100, origin.host + " is on MetaMask's list of phishing sites: orwenna gives it no wallet.");
  }
  const bool evmCall = call.method == "eth";
  if (evmCall ? !wallet.evm : !wallet.solana) {
    return SiteReply::fail(4100, "The orwenna wallet isn't in secure storage: save the key via “Addresses from phrase…”.");
  }
  return std::nullopt;
}

void SiteBridge::solana(const SiteCall& call, const SiteOrigin& origin, const SiteWallet& wallet, Reply reply) {
  const std::string key = origin.key();
  const std::string owner = *wallet.solana;
  auto account = [owner] {
    return Json{{"address", owner}, {"publicKey", toBase64(Base58::decode(owner))}};
  };
  const std::string& m = call.method;
  if (m == "disconnect") {
    {
      std::lock_guard lock(mutex_);
      connected_.erase(key);
    }
    return reply(SiteReply::ok(nullptr));
  }
  const bool isConnected = connected(call.origin);
  if (m == "connect") {
    if (isConnected) return reply(SiteReply::ok(account()));
    if (call.params.is_object() && call.params.value("silent", false)) {
      return reply(SiteReply::fail(4100, kConnectFirst));
    }
    if (!origin.secure()) return reply(SiteReply::fail(4100, "orwenna connects only to https sites."));
    SiteSheet sheet;
    sheet.kind = SiteSheet::Kind::connect;
    sheet.title = origin.host + " asks to see your Solana address " + owner + ".";
    return enqueue(call, std::move(sheet), reply, [this, key, account] {
      {
        std::lock_guard lock(mutex_);
        connected_.insert(key);
      }
      return SiteReply::ok(account());
    }, "");
  }
  if (m != "signTransaction" && m != "signAndSendTransaction" && m != "signMessage") {
    return reply(SiteReply::fail(4200, "orwenna doesn't support " + m));
  }
  if (!isConnected || !origin.secure()) return reply(SiteReply::fail(4100, kConnectFirst));
  if (m == "signMessage") {
    auto bytes = call.params.is_object() && call.params.contains("message") && call.params["message"].is_string()
                     ? fromBase64(call.params["message"].get<std::string>())
                     : std::nullopt;
    if (!bytes) return reply(SiteReply::fail(4200, "The message isn't readable."));
    // Bytes that read as a transaction message would give a transaction's
    // signature; those go only through the transaction checks.
    bool isTransaction = false;
    try {
      (void)SolanaTransaction::parseMessage(*bytes);
      isTransaction = true;
    } catch (const std::exception&) {
    }
    if (isTransaction) {
      if (s_.activity) s_.activity(origin.host + ": a message that is a transaction was refused");
      return reply(SiteReply::fail(
          4001, "The message is a Solana transaction in disguise: orwenna signs transactions only as transactions."));
    }
    SiteSheet sheet;
    sheet.kind = SiteSheet::Kind::message;
    sheet.title = origin.host + " asks you to sign a message with " + owner + ".";
    sheet.lines = {shownMessage(*bytes)};
    Bytes message = *bytes;
    std::string host = origin.host;
    return enqueue(call, std::move(sheet), reply, [this, message, host] {
      SignerReply r = s_.sign(signer_request::SignSolanaMessage{message});
      if (!r.ok || !r.signatureBytes) return SiteReply::fail(4001, r.ok ? "The signer gave no signature." : r.errorText());
      if (s_.activity) s_.activity(host + ": message signed");
      return SiteReply::ok({{"signature", toBase64(*r.signatureBytes)}});
    }, ": message declined");
  }
  solanaTransaction(call, origin, owner, m == "signAndSendTransaction", reply);
}

void SiteBridge::solanaTransaction(const SiteCall& call, const SiteOrigin& origin, const std::string& owner, bool send,
                                   Reply reply) {
  auto wire = call.params.is_object() && call.params.contains("transaction") && call.params["transaction"].is_string()
                  ? fromBase64(call.params["transaction"].get<std::string>())
                  : std::nullopt;
  if (!wire) return reply(SiteReply::fail(4200, "The transaction isn't readable."));
  SolanaMessage message;
  try {
    message = SolanaTransaction::parseMessage(SolanaTransaction::parse(*wire).message);
  } catch (const std::exception& e) {
    return reply(SiteReply::fail(4200, std::string("The transaction isn't readable: ") + e.what()));
  }
  // The simulation and the guards ask the node: not on the caller's thread.
  spawn([this, call, origin, owner, send, reply, wire = *wire, message] {
    Answered guard(reply);
    SiteSheet sheet;
    sheet.kind = SiteSheet::Kind::transaction;
    sheet.send = send;
    sheet.title = origin.host + (send ? " asks you to sign and send a Solana transaction."
                                      : " asks you to sign a Solana transaction.");
    std::set<std::string> recipients;
    std::int64_t outflow = 0;
    const auto& keys = message.staticKeys;
    for (std::size_t i = 0; i < message.instructions.size(); ++i) {
      const auto& ins = message.instructions[i];
      const std::string n = "Instruction " + std::to_string(i + 1) + ": ";
      if (ins.programIndex < 0 || static_cast<std::size_t>(ins.programIndex) >= keys.size()) {
        sheet.lines.push_back(n + "a program from a lookup table");
        continue;
      }
      const std::string& program = keys[static_cast<std::size_t>(ins.programIndex)];
      auto label = SolanaPolicy::programLabel(program);
      if (!label) {
        sheet.lines.push_back(n + "Calls unknown program " + program + " (not on orwenna's list)");
        sheet.unknownPrograms.push_back(program);
        continue;
      }
      auto lamports = program == SolanaPrograms::kSystem ? systemTransferLamports(ins.data) : std::nullopt;
      if (lamports && ins.accounts.size() >= 2 && ins.accounts[1] >= 0 &&
          static_cast<std::size_t>(ins.accounts[1]) < keys.size()) {
        const std::string& to = keys[static_cast<std::size_t>(ins.accounts[1])];
        sheet.lines.push_back(n + "sends " + formatUnits(UInt256(*lamports), 9) + " SOL to " + to);
        if (to != owner) {
          recipients.insert(to);
          outflow += static_cast<std::int64_t>(std::min<std::uint64_t>(*lamports, INT64_MAX / 4));
        }
      } else {
        sheet.lines.push_back(n + "Calls " + *label);
      }
    }
    if (!recipients.empty()) sheet.notes.push_back("Money, or the right to spend it, goes to an address that isn't yours");
    SolanaPolicy policy;
    policy.owner = owner;
    policy.recipients = recipients;
    std::vector<std::string_view> ids;
    for (const auto& [id, label] : SolanaPolicy::knownPrograms()) ids.push_back(id);
    policy.programs = SolanaPolicy::allow(ids);
    for (const auto& p : sheet.unknownPrograms) policy.programs[p] = "unknown";
    policy.maxPriorityFee = Decimal::parse(SolanaSender::kMaxPriorityFee);
    Verdict verdict = SolanaGuard::check(message, keys, policy);
    SolanaRPC rpc = s_.services.solana();
    std::int64_t change = 0;
    try {
      SolanaSimulation sim = SolanaSimulation::read(rpc.simulate(wire, false, {owner}), {owner});
      if (sim.error) {
        sheet.notes.push_back("Simulation: the call would revert — " + *sim.error);
      } else if (!sim.accounts.empty()) {
        const auto before = static_cast<std::int64_t>(rpc.balance(owner));
        change = static_cast<std::int64_t>(sim.accounts[0].lamports) - before;
        if (change == 0) sheet.changes.push_back("None of your balances change.");
        else sheet.changes.push_back("SOL " + lamportsText(change));
      }
    } catch (const std::exception& e) {
      sheet.notes.push_back(std::string("Simulation: the call would revert — ") + e.what());
    }
    sheet.notes.push_back("The change includes the network fee and rent for new accounts.");
    sheet.notes.push_back(send ? "After signing, orwenna sends the transaction to the network."
                               : "The site gets the signed transaction and sends it itself.");
    if (!verdict.problems.empty()) {
      sheet.problems = verdict.problems;
      sheet.problems.insert(sheet.problems.begin(), "Refused — it can't be signed");
    }
    std::vector<std::string> unknown = sheet.unknownPrograms;
    std::string host = origin.host;
    enqueue(call, std::move(sheet), reply, [this, owner, send, wire, message, recipients, unknown, change, outflow, host] {
      if (!send) {
        signer_request::SignSolana request;
        request.wire = wire;
        request.accounts = message.staticKeys;
        request.recipients.assign(recipients.begin(), recipients.end());
        request.extraPrograms = unknown;
        Bytes signedWire;
        try {
          signedWire = s_.signer.signSolana(request);
        } catch (const Error& e) {
          return SiteReply::fail(4001, e.what());
        }
        Bytes checked = SolanaTransaction::parse(wire).message;
        if (SolanaTransaction::parse(signedWire).message != checked) {
          return SiteReply::fail(4001, "What was signed isn't what was checked.");
        }
        if (s_.activity) s_.activity(host + ": transaction signed");
        return SiteReply::ok({{"signed", toBase64(signedWire)}});
      }
      SolanaMove move;
      move.owner = owner;
      move.received = wire;
      move.recipients = recipients;
      move.extraPrograms = unknown;
      // What the sheet showed leaving the wallet, and not a lamport more
      // than a fee's worth.
      move.watches = {{"SOL", owner, false, std::min<std::int64_t>(change, 0) - 10'000}};
      move.input = lamportsToSol(static_cast<std::uint64_t>(std::max<std::int64_t>(outflow, 0)));
      move.envelope = Envelope{move.input, Decimal(0), std::nullopt,
                               s_.services.clock.nowMillis() + 120'000};
      move.note = host + ": a Solana transaction the site asked for";
      try {
        SolanaRPC sendRpc = s_.services.solana();
        SolanaSender sender(sendRpc, s_.signer, s_.journal, s_.services.clock);
        ChainSendOutcome out = sender.send(move);
        if (out.kind == ChainSendOutcome::Kind::failed || out.kind == ChainSendOutcome::Kind::expired) {
          return SiteReply::fail(-32000, "The network rejected the transaction: " + out.detail);
        }
        if (s_.activity) s_.activity(host + ": transaction signed");
        auto signature = Base58::tryDecode(out.id);
        if (!signature) return SiteReply::fail(-32603, "The node gave no signature.");
        return SiteReply::ok({{"signature", toBase64(*signature)}});
      } catch (const ExecutionError& e) {
        return SiteReply::fail(4001, e.what());
      }
    }, ": transaction declined");
  });
}

void SiteBridge::evm(const SiteCall& call, const SiteOrigin& origin, const SiteWallet& wallet, Reply reply) {
  const std::string key = origin.key();
  const std::string address = *wallet.evm;
  std::string method;
  Json params = Json::array();
  if (call.params.is_object() && call.params.contains("method") && call.params["method"].is_string()) {
    method = call.params["method"].get<std::string>();
  }
  if (call.params.is_object() && call.params.contains("params") && call.params["params"].is_string()) {
    auto parsed = parseJson(call.params["params"].get<std::string>());
    if (parsed) params = *parsed;
  }
  if (!params.is_array() && !params.is_object()) params = Json::array();
  auto text = [](const Json& value) { return SiteReply::ok(value.dump()); };
  const std::uint64_t chain = chainOf(key);
  bool isConnected = connectedEVM(call.origin);

  if (method == "eth_chainId") return reply(text(toHexQuantity(chain)));
  if (method == "net_version") return reply(text(std::to_string(chain)));
  if (method == "eth_accounts") return reply(text(isConnected ? Json::array({address}) : Json::array()));
  if (method == "eth_requestAccounts") {
    if (isConnected) return reply(text(Json::array({address})));
    if (!origin.secure()) return reply(SiteReply::fail(4100, "orwenna connects only to https sites."));
    SiteSheet sheet;
    sheet.kind = SiteSheet::Kind::connectEVM;
    sheet.title = origin.host + " asks to see your EVM address " + address + ".";
    return enqueue(call, std::move(sheet), reply, [this, key, address, text] {
      {
        std::lock_guard lock(mutex_);
        connectedEVM_.insert(key);
      }
      return text(Json::array({address}));
    }, "");
  }
  if (method == "wallet_switchEthereumChain") {
    std::optional<UInt256> wanted;
    if (params.is_array() && !params.empty() && params[0].is_object() && params[0].contains("chainId")) {
      wanted = quantity(params[0]["chainId"]);
    }
    if (!wanted || *wanted > UINT64_MAX || !switchable(static_cast<std::uint64_t>(*wanted))) {
      return reply(SiteReply::fail(4902, "orwenna works with Ethereum, Arbitrum and Base."));
    }
    {
      std::lock_guard lock(mutex_);
      evmChain_[key] = static_cast<std::uint64_t>(*wanted);
    }
    return reply(text(nullptr));
  }
  if (method == "eth_sign") return reply(SiteReply::fail(4200, "eth_sign signs a hash blindly — orwenna doesn't support it."));
  if (method == "eth_signTransaction") {
    return reply(SiteReply::fail(
        4200, "orwenna signs EVM transactions only when it also sends them (eth_sendTransaction)."));
  }
  if (isReadMethod(method)) {
    return spawn([this, key, chain, method, params, reply] { reply(forward(key, chain, method, params)); });
  }
  if (method != "personal_sign" && method != "eth_signTypedData_v4" && method != "eth_sendTransaction") {
    return reply(SiteReply::fail(4200, "orwenna doesn't support " + method));
  }
  if (!isConnected || !origin.secure()) return reply(SiteReply::fail(4100, kConnectFirst));
  const std::string host = origin.host;

  if (method == "personal_sign") {
    if (!params.is_array() || params.empty() || !params[0].is_string()) {
      return reply(SiteReply::fail(4200, "personal_sign needs a message."));
    }
    Bytes message = messageBytes(params[0].get<std::string>());
    if (message.size() == 32 && !readableText(message)) {
      return reply(SiteReply::fail(4001, "The site asks to sign a hash, not text: orwenna doesn't sign that."));
    }
    SiteSheet sheet;
    sheet.kind = SiteSheet::Kind::message;
    sheet.title = host + " asks you to sign a message with " + address + ".";
    sheet.lines = {shownMessage(message)};
    return enqueue(call, std::move(sheet), reply, [this, message, host, text] {
      SignerReply r = s_.sign(signer_request::SignPersonal{message});
      if (!r.ok || !r.signatureBytes) return SiteReply::fail(4001, r.ok ? "The signer gave no signature." : r.errorText());
      if (s_.activity) s_.activity(host + ": message signed");
      return text(toHex0x(*r.signatureBytes));
    }, ": message declined");
  }
  if (method == "eth_signTypedData_v4") {
    if (!params.is_array() || params.size() < 2) return reply(SiteReply::fail(4200, "eth_signTypedData_v4 needs typed data."));
    const std::string json = params[1].is_string() ? params[1].get<std::string>() : params[1].dump();
    TypedData typed;
    try {
      typed = TypedData::parse(json);
    } catch (const WalletError& e) {
      return reply(SiteReply::fail(4001, e.what()));
    }
    if (auto refusal = TypedData::refusal(typed)) {
      if (s_.activity) s_.activity(host + ": typed data refused — " + *refusal);
      return reply(SiteReply::fail(4001, *refusal));
    }
    SiteSheet sheet;
    sheet.kind = SiteSheet::Kind::typedData;
    sheet.title = host + " asks you to sign " + typed.primaryType +
                  (typed.domainName.empty() ? "" : " for " + typed.domainName) +
                  (typed.chainId.empty() ? "" : " (chain " + typed.chainId + ")") + ".";
    for (const auto& f : typed.fields) sheet.lines.push_back(f.name + ": " + f.value);
    Bytes bytes(json.begin(), json.end());
    return enqueue(call, std::move(sheet), reply, [this, bytes, host, text] {
      SignerReply r = s_.sign(signer_request::SignTypedData{bytes});
      if (!r.ok || !r.signatureBytes) return SiteReply::fail(4001, r.ok ? "The signer gave no signature." : r.errorText());
      if (s_.activity) s_.activity(host + ": typed data signed");
      return text(toHex0x(*r.signatureBytes));
    }, ": typed data declined");
  }
  if (!params.is_array() || params.empty() || !params[0].is_object()) {
    return reply(SiteReply::fail(4200, "eth_sendTransaction needs a transaction."));
  }
  evmSend(call, origin, wallet, params[0], reply);
}

void SiteBridge::evmSend(const SiteCall& call, const SiteOrigin& origin, const SiteWallet& wallet, const Json& tx,
                         Reply reply) {
  const std::string address = *wallet.evm;
  const std::string host = origin.host;
  const std::uint64_t chainId = chainOf(origin.key());
  auto declined = [this, host](const std::string& reason) {
    if (s_.activity) s_.activity(host + ": EVM transaction declined — " + reason);
  };
  auto refuse = [&](int code, const std::string& message) {
    declined(message);
    reply(SiteReply::fail(code, message));
  };
  const std::string from = tx.contains("from") && tx["from"].is_string() ? tx["from"].get<std::string>() : "";
  if (!EVMCall::sameAddress(from, address) || from.size() != 42) return refuse(4100, "The sender isn't your address.");
  if (!tx.contains("to") || !tx["to"].is_string() || tx["to"].get<std::string>().empty()) {
    return refuse(4200, "orwenna doesn't sign contract creation.");
  }
  const std::string to = tx["to"].get<std::string>();
  Bytes data;
  const Json* dataField = tx.contains("data") ? &tx["data"] : (tx.contains("input") ? &tx["input"] : nullptr);
  if (dataField && dataField->is_string()) {
    auto bytes = fromHex(dataField->get<std::string>());
    if (!bytes) return refuse(4200, "The call data isn't hex.");
    data = *bytes;
  }
  auto value = quantity(tx.contains("value") ? tx["value"] : Json(nullptr));
  // 10 coins: below what 64 bits hold, so no amount is ever cut short on the way.
  static const UInt256 kLimit = UInt256(10'000'000'000'000'000'000ULL);
  if (!value || *value > kLimit) return refuse(4200, "The amount is larger than orwenna will sign.");
  const EVMNetwork* network = EVMNetwork::byChainId(chainId);
  if (!network) return refuse(4901, "No RPC for chain " + std::to_string(chainId));

  spawn([this, call, reply, address, host, chainId, network, to, data, value = *value, declined] {
    Answered guard(reply);
    EVMRPC rpc = s_.services.evm(*network);
    SiteSheet sheet;
    sheet.kind = SiteSheet::Kind::evmTransaction;
    sheet.send = true;
    sheet.title = host + " asks you to send a transaction on " + network->name + ".";
    EVMCall decoded = EVMCall::decode(to, data);
    std::set<std::string> recipients;
    if (value > 0) {
      sheet.lines.push_back("Sends " + formatUnits(value, 18) + " " + EVMNetwork::gasCoinForGas(chainId) + " to " + to);
      if (!EVMCall::sameAddress(to, address)) recipients.insert(lower(to));
    }
    switch (decoded.kind) {
      case EVMCall::Kind::plain: break;
      case EVMCall::Kind::approve:
      case EVMCall::Kind::increaseAllowance:
        sheet.lines.push_back("Lets " + decoded.to + " to spend up to " +
                              (EVMCall::isUnlimited(decoded.amount) ? std::string("an unlimited amount")
                                                                     : toDecimalString(decoded.amount) + " units") +
                              " of " + to);
        break;
      case EVMCall::Kind::permit2Approve:
        sheet.lines.push_back("Lets " + decoded.to + " spend " + decoded.asset + " through Permit2, until " +
                              std::to_string(decoded.expiration));
        break;
      case EVMCall::Kind::transfer:
        sheet.lines.push_back("Transfers " + toDecimalString(decoded.amount) + " units of " + to + " to " + decoded.to);
        break;
      case EVMCall::Kind::setApprovalForAll:
        sheet.lines.push_back((decoded.granted ? "Gives " : "Takes from ") + decoded.to +
                              " the rights to every NFT of " + to);
        break;
      default:
        sheet.lines.push_back("Calls " + to + " (" + std::string(EVMCall::kindName(decoded.kind)) +
                              (decoded.selector.empty() ? "" : ", " + decoded.selector) + ")");
    }
    if (!decoded.to.empty() && !EVMCall::sameAddress(decoded.to, address)) recipients.insert(decoded.to);
    for (const auto& r : decoded.recipients) {
      if (!EVMCall::sameAddress(r, address)) recipients.insert(lower(r));
    }
    if (!recipients.empty()) sheet.notes.push_back("Money, or the right to spend it, goes to an address that isn't yours");
    if (auto problem = EVMCall::problem(decoded, address, s_.services.clock.nowMillis() / 1000)) {
      sheet.problems.push_back(*problem);
    }
    try {
      EVMSimulation sim = rpc.simulate({{address, to, value, data}});
      // The value leaves the wallet whatever the node traces.
      const std::string native(EVMSimulation::kNative);
      if (value > 0 && !sim.changes.count(native)) sim.changes[native] = -BigInt(value);
      if (sim.revert) {
        sheet.notes.push_back("Simulation: the call would revert — " + *sim.revert);
      } else if (sim.changes.empty()) {
        sheet.changes.push_back("None of your balances change.");
      } else {
        for (const auto& [asset, change] : sim.changes) {
          const bool native = asset == EVMSimulation::kNative;
          sheet.changes.push_back((native ? EVMNetwork::gasCoinForGas(chainId) : asset) + " " +
                                  (native ? signedChange(change, 18) : (change < 0 ? "−" : "+") +
                                                                           toDecimalString(UInt256(change < 0 ? BigInt(-change) : change)) + " units"));
        }
      }
      for (const auto& g : sim.grants) {
        if (g.unlimited) sheet.problems.push_back("Grants " + g.to + " an unlimited right to spend " + g.asset);
      }
    } catch (const std::exception& e) {
      sheet.notes.push_back(std::string("Simulation: the call would revert — ") + e.what());
    }
    try {
      UInt256 gas = rpc.estimateGas({address, to, value, data});
      EVMRPC::Fees fees = rpc.fees();
      sheet.notes.push_back("Network fee up to " + formatUnits(gas * fees.maxFeePerGas, 18) + " " +
                            EVMNetwork::gasCoinForGas(chainId));
    } catch (const std::exception& e) {
      sheet.notes.push_back(std::string("Couldn't estimate gas: ") + e.what());
    }
    sheet.notes.push_back("After signing, orwenna sends the transaction to the network.");
    if (!sheet.problems.empty()) sheet.problems.insert(sheet.problems.begin(), "Refused — it can't be signed");
    std::vector<std::string> paid(recipients.begin(), recipients.end());
    enqueue(call, std::move(sheet), reply, [this, address, host, chainId, network, to, data, value, paid, declined] {
      EVMMove move;
      move.wallet = address;
      move.to = to;
      move.value = value;
      move.data = data;
      move.recipients = paid;
      move.spendAsset = std::string(EVMSimulation::kNative);
      move.input = Decimal::parse(formatUnits(value, 18));
      move.envelope = Envelope{move.input, Decimal(0), std::nullopt, s_.services.clock.nowMillis() + 120'000};
      move.note = host + ": a transaction the site asked for on " + network->name;
      try {
        EVMRPC rpc = s_.services.evm(*network);
        EVMSender sender(*network, rpc, s_.signer, s_.journal, s_.services.clock, nonces_);
        ChainSendOutcome out = sender.send(move);
        if (out.kind == ChainSendOutcome::Kind::failed) {
          declined(out.detail);
          return SiteReply::fail(-32000, "The network rejected the transaction: " + out.detail);
        }
        if (s_.activity) s_.activity(host + ": EVM transaction sent on chain " + std::to_string(chainId));
        return SiteReply::ok(Json(out.id).dump());
      } catch (const ExecutionError& e) {
        declined(e.what());
        return SiteReply::fail(4001, e.what());
      }
    }, ": EVM transaction declined — The user declined.");
  });
}

SiteReply SiteBridge::forward(const std::string& key, std::uint64_t chainId, const std::string& method,
                              const Json& params) {
  {
    std::lock_guard lock(mutex_);
    auto& times = reads_[key];
    const std::int64_t now = s_.services.clock.monotonicMillis();
    while (!times.empty() && now - times.front() >= kReadWindowMillis) times.pop_front();
    if (static_cast<int>(times.size()) >= kReadsPerWindow) {
      return SiteReply::fail(-32005, "Too many requests from this site; wait a moment.");
    }
    times.push_back(now);
  }
  const EVMNetwork* network = EVMNetwork::byChainId(chainId);
  if (!network) return SiteReply::fail(4901, "No RPC for chain " + std::to_string(chainId));
  EVMRPC rpc = s_.services.evm(*network);
  HttpRequest request = HttpRequest::postJson(
      rpc.url(), Json{{"jsonrpc", "2.0"}, {"id", 1}, {"method", method}, {"params", params}}.dump());
  request.timeout = std::chrono::milliseconds(kReadTimeoutMillis);
  try {
    HttpResponse response = s_.services.http.send(request);
    auto body = parseJson(response.body);
    if (response.status != 200 || !body || !body->is_object()) return SiteReply::fail(4900, "The RPC didn't respond.");
    if (body->contains("error")) {
      const Json& e = (*body)["error"];
      std::string message = e.is_object() && e.contains("message") && e["message"].is_string()
                                ? e["message"].get<std::string>()
                                : std::string("The node refused the call.");
      int code = e.is_object() && e.contains("code") && e["code"].is_number_integer() ? e["code"].get<int>() : -32000;
      return SiteReply::fail(code, message);
    }
    return SiteReply::ok(body->value("result", Json(nullptr)).dump());
  } catch (const std::exception&) {
    return SiteReply::fail(4900, "The RPC didn't respond.");
  }
}

}  // namespace orwenna
