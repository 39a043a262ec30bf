#include "execution/hl_nonces.h"

#include <algorithm>
#include <charconv>

namespace orwenna {

std::optional<std::uint64_t> HLNonces::parseId(std::string_view id) {
  std::uint64_t value = 0;
  if (id.empty()) return std::nullopt;
  auto [end, ec] = std::from_chars(id.data(), id.data() + id.size(), value);
  if (ec != std::errc() || end != id.data() + id.size()) return std::nullopt;
  return value;
}

std::uint64_t HLNonces::highestIn(const Journal& journal) {
  std::uint64_t highest = 0;
  for (const Journal::Entry& e : journal.entries()) {
    if (e.chain != "hyperliquid") continue;
    if (auto n = parseId(e.id)) highest = std::max(highest, *n);
  }
  return highest;
}

std::uint64_t HLNonces::next() {
  std::int64_t now = clock_.nowMillis();
  std::lock_guard lock(mutex_);
  std::uint64_t candidate = now > 0 ? static_cast<std::uint64_t>(now) : 0;
  last_ = std::max(candidate, last_ + 1);
  return last_;
}

std::uint64_t HLNonces::last() const {
  std::lock_guard lock(mutex_);
  return last_;
}

}  // namespace orwenna
