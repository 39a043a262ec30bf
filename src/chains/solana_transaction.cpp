#include "chains/solana_transaction.h"

#include <algorithm>
#include <cstring>

#include "base/text.h"
#include "signing/base58.h"
#include "signing/wallet_error.h"

namespace orwenna {

namespace {

constexpr std::size_t kKeyBytes = 32;
constexpr std::size_t kSignatureBytes = 64;

void appendU64(Bytes& out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A bounds-checked reader: every failure is one of the parse sentences.
class Reader {
 public:
  explicit Reader(ByteView data) : data_(data) {}

  std::uint8_t byte() {
    if (offset_ >= data_.size()) throw WalletError("Message truncated");
    return data_[offset_++];
  }
  ByteView take(std::size_t n) {
    if (data_.size() - offset_ < n) throw WalletError("Message truncated");
    ByteView out = data_.subspan(offset_, n);
    offset_ += n;
    return out;
  }
  std::size_t length() {
    CompactU16::Read r = CompactU16::read(data_, offset_);
    if (r.error == CompactU16::ReadError::truncated) throw WalletError("Truncated length");
    if (r.error) throw WalletError("Invalid length");
    return r.value;
  }
  std::string key() { return Base58::encode(take(kKeyBytes)); }
  std::vector<int> indexes() {
    std::size_t n = length();
    ByteView raw = take(n);
    return std::vector<int>(raw.begin(), raw.end());
  }
  bool atEnd() const { return offset_ == data_.size(); }

 private:
  ByteView data_;
  std::size_t offset_ = 0;
};

struct Meta {
  std::string key;
  bool isSigner = false;
  bool isWritable = false;
};

}  // namespace

std::optional<std::string> SolanaPrograms::label(std::string_view programId) {
  static const std::pair<std::string_view, std::string_view> kLabels[] = {
      {kSystem, "System"},
      {kComputeBudget, "Compute Budget"},
      {kToken, "SPL Token"},
      {kToken2022, "Token-2022"},
      {kAssociatedToken, "Associated Token Account"},
      {kNameService, "SPL Name Service"},
      {kAddressLookupTable, "Address Lookup Table"},
      {"MemoSq4gqABAXKb96qnH8TysNcWxMyWCqXgDLGmfcHr", "Memo"},
  };
  for (const auto& [id, name] : kLabels) {
    if (id == programId) return std::string(name);
  }
  return std::nullopt;
}

std::array<std::uint8_t, 32> solanaAddressBytes(std::string_view address) {
  auto bytes = Base58::tryDecode(address);
  if (!bytes || bytes->size() != kKeyBytes) throw WalletError("Invalid Solana address: " + std::string(address));
  std::array<std::uint8_t, 32> out{};
  std::copy(bytes->begin(), bytes->end(), out.begin());
  return out;
}

bool isSolanaAddress(std::string_view address) {
  auto bytes = Base58::tryDecode(address);
  return bytes && bytes->size() == kKeyBytes;
}

void CompactU16::append(Bytes& out, std::uint32_t value) {
  do {
    std::uint8_t group = value & 0x7F;
    value >>= 7;
    if (value != 0) group |= 0x80;
    out.push_back(group);
  } while (value != 0);
}

CompactU16::Read CompactU16::read(ByteView data, std::size_t& offset) {
  Read result;
  std::uint32_t value = 0;
  std::size_t at = offset;
  for (int i = 0; i < 3; ++i) {
    if (at >= data.size()) {
      result.error = ReadError::truncated;
      return result;
    }
    std::uint8_t b = data[at++];
    // A zero group after the first says nothing: two encodings of one length.
    if (i > 0 && b == 0) {
      result.error = ReadError::invalid;
      return result;
    }
    value |= static_cast<std::uint32_t>(b & 0x7F) << (7 * i);
    if ((b & 0x80) == 0) {
      if (value > 0xFFFF) break;
      result.value = static_cast<std::uint16_t>(value);
      offset = at;
      return result;
    }
  }
  result.error = ReadError::invalid;  // a fourth group, or more than 16 bits
  return result;
}

SolanaMessage SolanaTransaction::parseMessage(ByteView bytes) {
  Reader r(bytes);
  SolanaMessage m;
  std::uint8_t first = r.byte();
  if (first & 0x80) {
    int version = first & 0x7F;
    if (version != 0) throw WalletError("Unsupported transaction version " + std::to_string(version));
    m.version = 0;
    m.requiredSignatures = r.byte();
  } else {
    m.requiredSignatures = first;
  }
  m.readonlySignedAccounts = r.byte();
  m.readonlyUnsignedAccounts = r.byte();
  std::size_t keyCount = r.length();
  m.staticKeys.reserve(std::min<std::size_t>(keyCount, bytes.size() / kKeyBytes));
  for (std::size_t i = 0; i < keyCount; ++i) m.staticKeys.push_back(r.key());
  m.recentBlockhash = r.key();
  std::size_t instructionCount = r.length();
  for (std::size_t i = 0; i < instructionCount; ++i) {
    SolanaMessage::Instruction ix;
    ix.programIndex = r.byte();
    ix.accounts = r.indexes();
    std::size_t dataLength = r.length();
    ByteView data = r.take(dataLength);
    ix.data.assign(data.begin(), data.end());
    m.instructions.push_back(std::move(ix));
  }
  if (m.version) {
    std::size_t lookupCount = r.length();
    for (std::size_t i = 0; i < lookupCount; ++i) {
      SolanaMessage::Lookup lookup;
      lookup.table = r.key();
      lookup.writable = r.indexes();
      lookup.readonly = r.indexes();
      m.lookups.push_back(std::move(lookup));
    }
  }
  if (!r.atEnd()) throw WalletError("Extra bytes after the message");
  return m;
}

Bytes SolanaTransaction::encodeMessage(const SolanaMessage& m) {
  Bytes out;
  if (m.version) out.push_back(static_cast<std::uint8_t>(0x80 | *m.version));
  out.push_back(static_cast<std::uint8_t>(m.requiredSignatures));
  out.push_back(static_cast<std::uint8_t>(m.readonlySignedAccounts));
  out.push_back(static_cast<std::uint8_t>(m.readonlyUnsignedAccounts));
  auto key = [&](std::string_view k) {
    auto b = solanaAddressBytes(k);
    out.insert(out.end(), b.begin(), b.end());
  };
  auto indexes = [&](const std::vector<int>& list) {
    CompactU16::append(out, static_cast<std::uint32_t>(list.size()));
    for (int i : list) out.push_back(static_cast<std::uint8_t>(i));
  };
  CompactU16::append(out, static_cast<std::uint32_t>(m.staticKeys.size()));
  for (const auto& k : m.staticKeys) key(k);
  key(m.recentBlockhash);
  CompactU16::append(out, static_cast<std::uint32_t>(m.instructions.size()));
  for (const auto& ix : m.instructions) {
    out.push_back(static_cast<std::uint8_t>(ix.programIndex));
    indexes(ix.accounts);
    CompactU16::append(out, static_cast<std::uint32_t>(ix.data.size()));
    out.insert(out.end(), ix.data.begin(), ix.data.end());
  }
  if (m.version) {
    CompactU16::append(out, static_cast<std::uint32_t>(m.lookups.size()));
    for (const auto& lookup : m.lookups) {
      key(lookup.table);
      indexes(lookup.writable);
      indexes(lookup.readonly);
    }
  }
  return out;
}

SolanaTransaction::Parsed SolanaTransaction::parse(ByteView transaction) {
  std::size_t offset = 0;
  CompactU16::Read count = CompactU16::read(transaction, offset);
  if (count.error == CompactU16::ReadError::truncated) throw WalletError("Incomplete transaction");
  if (count.error) throw WalletError("Invalid length");
  if ((transaction.size() - offset) / kSignatureBytes < count.value) throw WalletError("Incomplete transaction");
  Parsed parsed;
  for (std::size_t i = 0; i < count.value; ++i) {
    Signature s{};
    std::memcpy(s.data(), transaction.data() + offset, kSignatureBytes);
    parsed.signatures.push_back(s);
    offset += kSignatureBytes;
  }
  ByteView message = transaction.subspan(offset);
  try {
    (void)parseMessage(message);
  } catch (const WalletError& e) {
    std::string_view what = e.what();
    if (what == "Message truncated" || what == "Truncated length") throw WalletError("Incomplete transaction");
    throw;
  }
  parsed.message.assign(message.begin(), message.end());
  return parsed;
}

Bytes SolanaTransaction::checkForSigning(ByteView transaction, std::string_view walletAddress) {
  Parsed parsed = parse(transaction);
  SolanaMessage m = parseMessage(parsed.message);
  if (m.requiredSignatures != 1) {
    throw WalletError("The transaction needs " + std::to_string(m.requiredSignatures) +
                      " signatures; expected only ours");
  }
  if (m.staticKeys.empty() || m.staticKeys[0] != walletAddress) throw WalletError("The fee payer isn't our wallet");
  // Our signature goes into slot 0; without exactly one slot it would land on
  // message bytes or leave an unsigned slot behind.
  if (parsed.signatures.size() != 1) {
    throw WalletError("The transaction has " + std::to_string(parsed.signatures.size()) +
                      " signature slots; expected one");
  }
  return parsed.message;
}

Bytes SolanaTransaction::attach(ByteView transaction, ByteView signature) {
  if (signature.size() != kSignatureBytes) throw WalletError("A Solana signature is 64 bytes.");
  std::size_t offset = 0;
  CompactU16::Read count = CompactU16::read(transaction, offset);
  if (count.error || count.value == 0 || transaction.size() - offset < kSignatureBytes) {
    throw WalletError("Incomplete transaction");
  }
  Bytes out(transaction.begin(), transaction.end());
  std::copy(signature.begin(), signature.end(), out.begin() + static_cast<std::ptrdiff_t>(offset));
  return out;
}

std::vector<std::string> SolanaTransaction::resolveAccounts(
    const SolanaMessage& message, const std::map<std::string, std::vector<std::string>>& tables) {
  std::vector<std::string> all = message.staticKeys;
  auto table = [&](const std::string& address) -> const std::vector<std::string>& {
    auto it = tables.find(address);
    if (it == tables.end()) throw WalletError("No address lookup table " + address);
    return it->second;
  };
  auto add = [&](const SolanaMessage::Lookup& lookup, const std::vector<int>& indexes) {
    const auto& entries = table(lookup.table);
    for (int i : indexes) {
      if (i < 0 || static_cast<std::size_t>(i) >= entries.size()) {
        throw WalletError("Index outside lookup table " + lookup.table);
      }
      all.push_back(entries[static_cast<std::size_t>(i)]);
    }
  };
  for (const auto& lookup : message.lookups) add(lookup, lookup.writable);
  for (const auto& lookup : message.lookups) add(lookup, lookup.readonly);
  return all;
}

SolanaTransaction::Built SolanaTransaction::build(const std::vector<SolanaInstruction>& instructions,
                                                  std::string_view payer, std::string_view recentBlockhash,
                                                  std::uint64_t microLamportsPerUnit) {
  std::vector<SolanaInstruction> all;
  all.reserve(instructions.size() + 1);
  SolanaInstruction price{std::string(SolanaPrograms::kComputeBudget), {}, {0x03}};
  appendU64(price.data, microLamportsPerUnit);
  all.push_back(std::move(price));
  all.insert(all.end(), instructions.begin(), instructions.end());

  std::vector<Meta> metas;
  auto note = [&](const std::string& key, bool isSigner, bool isWritable) {
    (void)solanaAddressBytes(key);
    for (auto& m : metas) {
      if (m.key == key) {
        m.isSigner = m.isSigner || isSigner;
        m.isWritable = m.isWritable || isWritable;
        return;
      }
    }
    metas.push_back({key, isSigner, isWritable});
  };
  note(std::string(payer), true, true);
  for (const auto& ix : all) {
    for (const auto& a : ix.accounts) note(a.pubkey, a.isSigner, a.isWritable);
    note(ix.program, false, false);
  }

  std::vector<std::string> others;
  for (const auto& m : metas) {
    if (m.isSigner && m.key != payer) others.push_back(m.key);
  }
  if (!others.empty()) throw WalletError("The instructions need other signers: " + text::join(others, ", "));

  std::vector<std::string> ordered;
  for (int group = 0; group < 4; ++group) {
    bool signer = group < 2, writable = group % 2 == 0;
    for (const auto& m : metas) {
      if (m.isSigner == signer && m.isWritable == writable) ordered.push_back(m.key);
    }
  }
  const std::string overSize = "The transaction is over " + std::to_string(kMaxTransactionBytes) + " bytes";
  // An account index is one byte; that many keys is far past the size limit anyway.
  if (ordered.size() > 256) throw WalletError(overSize);
  auto indexOf = [&](const std::string& key) {
    return static_cast<int>(std::find(ordered.begin(), ordered.end(), key) - ordered.begin());
  };

  SolanaMessage m;
  m.requiredSignatures = 0;
  for (const auto& meta : metas) {
    if (meta.isSigner) ++m.requiredSignatures;
    if (meta.isSigner && !meta.isWritable) ++m.readonlySignedAccounts;
    if (!meta.isSigner && !meta.isWritable) ++m.readonlyUnsignedAccounts;
  }
  m.staticKeys = ordered;
  (void)solanaAddressBytes(recentBlockhash);
  m.recentBlockhash = std::string(recentBlockhash);
  for (const auto& ix : all) {
    if (ix.data.size() > kMaxTransactionBytes || ix.accounts.size() > kMaxTransactionBytes) throw WalletError(overSize);
    SolanaMessage::Instruction compiled;
    compiled.programIndex = indexOf(ix.program);
    for (const auto& a : ix.accounts) compiled.accounts.push_back(indexOf(a.pubkey));
    compiled.data = ix.data;
    m.instructions.push_back(std::move(compiled));
  }

  Built built;
  built.message = encodeMessage(m);
  built.transaction.push_back(1);
  built.transaction.resize(1 + kSignatureBytes, 0);
  built.transaction.insert(built.transaction.end(), built.message.begin(), built.message.end());
  if (built.transaction.size() > kMaxTransactionBytes) throw WalletError(overSize);
  return built;
}

SolanaInstruction SolanaTransaction::solTransfer(std::string_view from, std::string_view to, std::uint64_t lamports) {
  auto fromBytes = solanaAddressBytes(from);
  auto toBytes = solanaAddressBytes(to);
  if (fromBytes == toBytes) throw WalletError("Transfer to yourself");
  SolanaInstruction ix;
  ix.program = std::string(SolanaPrograms::kSystem);
  ix.accounts = {{std::string(from), true, true}, {std::string(to), false, true}};
  ix.data = {2, 0, 0, 0};
  appendU64(ix.data, lamports);
  return ix;
}

}  // namespace orwenna
