#include "execution/journal.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include "base/files.h"
#include "base/log.h"

namespace orwenna {

namespace {

constexpr std::string_view kKindNames[] = {"signed", "confirmed", "failed", "expired", "settled"};

[[noreturn]] void fail(const std::filesystem::path& url, std::string_view what) {
  throw JournalError(fmt::format("The journal {} couldn't be written: {} ({}).", url.string(), what,
                                 std::strerror(errno)));
}

// Closes the descriptor (dropping the flock with it) on every path.
struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

void syncFolder(const std::filesystem::path& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

std::string_view Journal::kindName(Entry::Kind kind) { return kKindNames[static_cast<int>(kind)]; }

std::optional<Journal::Entry::Kind> Journal::kindNamed(std::string_view name) {
  for (int i = 0; i < 5; ++i) {
    if (kKindNames[i] == name) return static_cast<Entry::Kind>(i);
  }
  return std::nullopt;
}

bool isBridgeChain(std::string_view chain) { return chain == "relay" || chain == "1click" || chain == "cctp"; }

namespace {

// "2026-12-06T07:19:00.002Z": the milliseconds kept, so an entry reads back as written.
std::string journalTime(std::int64_t unixMillis) {
  const std::int64_t seconds = unixMillis >= 0 ? unixMillis / 1000 : -((-unixMillis + 999) / 1000);
  std::string whole = iso8601(unixMillis);
  whole.pop_back();  // its "Z"
  return fmt::format("{}.{:03}Z", whole, unixMillis - seconds * 1000);
}

}  // namespace

Json Journal::Entry::toJson() const {
  return Json{{"at", journalTime(at)}, {"chain", chain}, {"id", id}, {"kind", kindName(kind)}, {"note", note}};
}

std::optional<Journal::Entry> Journal::Entry::fromJson(const Json& json) {
  if (!json.is_object()) return std::nullopt;
  auto text = [&](const char* key) -> std::optional<std::string> {
    auto it = json.find(key);
    if (it == json.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
  };
  auto at = text("at");
  auto chain = text("chain");
  auto id = text("id");
  auto kind = text("kind");
  auto note = text("note");
  if (!at || !chain || !id || !kind || !note) return std::nullopt;
  auto millis = parseIso8601(*at);
  auto parsedKind = kindNamed(*kind);
  if (!millis || !parsedKind) return std::nullopt;
  return Entry{*millis, std::move(*chain), std::move(*id), *parsedKind, std::move(*note)};
}

Journal::Journal(std::filesystem::path url) : url_(std::move(url)) {}

Journal Journal::inDataFolder(const std::filesystem::path& dataDir) { return Journal(dataDir / kFileName); }

void Journal::append(const Entry& entry) {
  std::string line = entry.toJson().dump() + "\n";
  const auto folder = url_.parent_path();
  try {
    if (!folder.empty()) ensureDirectory(folder);
  } catch (const FileError& e) {
    throw JournalError(fmt::format("The journal {} couldn't be written: {}", url_.string(), e.what()));
  }
  Fd file{::open(url_.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0600)};
  if (file.fd < 0) fail(url_, "opening");
  while (::flock(file.fd, LOCK_EX) != 0) {
    if (errno != EINTR) fail(url_, "locking");
  }
  struct stat info {};
  if (::fstat(file.fd, &info) != 0) fail(url_, "reading its size");
  const bool created = info.st_size == 0;
  if (info.st_size > 0) {
    // A crash mid-write leaves a line without its line feed: start afresh.
    char last = '\n';
    if (::pread(file.fd, &last, 1, info.st_size - 1) != 1) fail(url_, "reading its end");
    if (last != '\n') line.insert(line.begin(), '\n');
  }
  std::string_view rest = line;
  while (!rest.empty()) {
    ssize_t n = ::write(file.fd, rest.data(), rest.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      fail(url_, "writing");
    }
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
  if (::fsync(file.fd) != 0) fail(url_, "flushing");
  // The file's own name must survive a crash too.
  if (created && !folder.empty()) syncFolder(folder);
}

Journal::Contents Journal::read() const {
  std::optional<std::string> text;
  try {
    text = readFile(url_);
  } catch (const FileError& e) {
    throw JournalError(fmt::format("The journal {} couldn't be read: {}", url_.string(), e.what()));
  }
  Contents out;
  if (!text) return out;
  std::string_view rest = *text;
  std::size_t lineNumber = 0;
  while (!rest.empty()) {
    std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    ++lineNumber;
    if (line.empty()) continue;
    std::optional<Entry> entry;
    if (auto json = parseJson(line)) entry = Entry::fromJson(*json);
    if (entry) {
      out.entries.push_back(std::move(*entry));
    } else {
      ++out.skippedLines;
      log::warn("journal {}: line {} is not an entry; skipped", url_.string(), lineNumber);
    }
  }
  return out;
}

std::vector<Journal::Entry> Journal::openAmong(const std::vector<Entry>& entries) {
  // The last entry of each (chain, id) decides; keep file order of those.
  std::map<std::pair<std::string, std::string>, std::size_t> last;
  for (std::size_t i = 0; i < entries.size(); ++i) last[{entries[i].chain, entries[i].id}] = i;
  std::vector<Entry> out;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Entry& e = entries[i];
    if (e.kind == Entry::Kind::signed_ && last[{e.chain, e.id}] == i) out.push_back(e);
  }
  return out;
}

std::vector<Journal::Entry> Journal::open() const { return openAmong(entries()); }

std::vector<Journal::Entry> Journal::pendingBridges(std::int64_t nowMillis, std::int64_t windowSeconds) const {
  std::vector<Entry> out;
  for (auto& e : open()) {
    if (isBridgeChain(e.chain) && nowMillis - e.at < windowSeconds * 1000) out.push_back(std::move(e));
  }
  return out;
}

}  // namespace orwenna
