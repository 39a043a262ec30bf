#include "llm/local_setup.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <openssl/evp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <fstream>
#include <memory>

#include "base/bytes.h"
#include "base/files.h"
#include "base/log.h"
#include "base/text.h"
#include "llm/catalog.h"
#include "platform/process.h"

namespace orwenna {

namespace {

constexpr double kRunFactor = 1.2;    // a model needs about this much memory per byte of download
constexpr double kMemoryShare = 0.7;  // what may go to the model, leaving the rest to the system
constexpr double kDiskMargin = 1.1;   // unpacked layers and the manifest come on top of the download
constexpr const char* kChecksumAsset = "sha256sum.txt";
// GitHub refuses API requests that don't name their program.
constexpr const char* kUserAgent = "orwenna";

HttpRequest releaseRequest(std::string url) {
  HttpRequest r;
  r.url = std::move(url);
  r.headers = {{"Accept", "application/vnd.github+json"}, {"User-Agent", kUserAgent}};
  return r;
}

bool russian(Language language) { return language == Language::russian; }

const std::string& pick(Language language, const std::string& english, const std::string& russianText) {
  return language == Language::russian ? russianText : english;
}

std::string oneDecimal(double value) { return fmt::format("{:.1f}", value); }

std::optional<std::uint64_t> parseUnsigned(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  std::uint64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

std::string readText(const std::filesystem::path& path) {
  try {
    return readFile(path).value_or("");
  } catch (const FileError&) {
    return "";
  }
}

// The first version-looking word of a program's output ("ollama version is 0.12.3").
std::optional<std::string> versionIn(std::string_view output) {
  std::string text(output);
  for (char& c : text)
    if (c == '\n' || c == '\t' || c == '\r') c = ' ';
  std::optional<std::string> found;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    std::string word = text.substr(start, end - start);
    if (word.find('.') != std::string::npos && parseVersion(word)) found = word.front() == 'v' ? word.substr(1) : word;
    start = end + 1;
  }
  return found;
}

std::string shellQuoted(const std::string& text) { return "'" + text::replacedAll(text, "'", "'\\''") + "'"; }

// The scheme, host and port of a URL ("http://127.0.0.1:8080").
std::string originOf(std::string_view url) {
  std::size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return "";
  std::size_t end = url.find('/', scheme + 3);
  return std::string(url.substr(0, end));
}

std::string lastLine(const std::string& text) {
  std::string t = text::trimmed(text);
  std::size_t nl = t.rfind('\n');
  return nl == std::string::npos ? t : t.substr(nl + 1);
}

// A hop the download may not take; the callers word it for their case.
class RedirectRefused : public LocalSetupError {
 public:
  using LocalSetupError::LocalSetupError;
};

struct Sha256 {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context{EVP_MD_CTX_new(), &EVP_MD_CTX_free};
  Sha256() { EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr); }
  void update(std::string_view piece) { EVP_DigestUpdate(context.get(), piece.data(), piece.size()); }
  std::string hex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context.get(), digest, &length);
    return toHex(Bytes(digest, digest + length));
  }
};

std::string busy(Language language) {
  return pick(language, "Another setup is running; wait until it finishes.",
              "Уже идёт другая настройка; дождись её конца.");
}

// Sends SIGTERM to the processes running `program` (by their /proc exe link)
// and waits up to five seconds for them to end.
void stopServersOf(const std::filesystem::path& program) {
  std::error_code ec;
  std::filesystem::path target = std::filesystem::weakly_canonical(program, ec);
  if (ec) return;
  std::vector<pid_t> stopped;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    pid_t pid = 0;
    auto [end, parsed] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (parsed != std::errc() || end != name.data() + name.size() || pid == ::getpid()) continue;
    std::error_code readError;
    if (std::filesystem::read_symlink(entry.path() / "exe", readError) != target || readError) continue;
    if (::kill(pid, SIGTERM) == 0) stopped.push_back(pid);
  }
  for (int wait = 0; wait < 50 && !stopped.empty(); ++wait) {
    std::erase_if(stopped, [](pid_t pid) { return ::kill(pid, 0) != 0; });
    if (!stopped.empty()) ::usleep(100'000);
  }
}

// Removes a path when the scope ends, unless released.
struct Leftover {
  std::filesystem::path path;
  ~Leftover() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
  }
};

}  // namespace

std::string LocalEndpoints::serverRoot(std::string_view base) {
  std::string root(base);
  while (!root.empty() && root.back() == '/') root.pop_back();
  if (root.size() >= 3 && root.compare(root.size() - 3, 3, "/v1") == 0) root.resize(root.size() - 3);
  return root;
}

// ---- Versions and memory -------------------------------------------------

std::optional<std::vector<int>> parseVersion(std::string_view text) {
  if (!text.empty() && (text.front() == 'v' || text.front() == 'V')) text.remove_prefix(1);
  if (std::size_t cut = text.find_first_of("-+"); cut != std::string_view::npos) text = text.substr(0, cut);
  if (text.empty()) return std::nullopt;
  std::vector<int> parts;
  while (true) {
    std::size_t dot = text.find('.');
    std::string_view part = text.substr(0, dot);
    int value = 0;
    auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), value);
    if (part.empty() || ec != std::errc() || end != part.data() + part.size() || value < 0) return std::nullopt;
    parts.push_back(value);
    if (dot == std::string_view::npos) break;
    text.remove_prefix(dot + 1);
  }
  return parts;
}

std::optional<int> compareVersions(std::string_view a, std::string_view b) {
  auto x = parseVersion(a), y = parseVersion(b);
  if (!x || !y) return std::nullopt;
  for (std::size_t i = 0; i < std::max(x->size(), y->size()); ++i) {
    int p = i < x->size() ? (*x)[i] : 0, q = i < y->size() ? (*y)[i] : 0;
    if (p != q) return p < q ? -1 : 1;
  }
  return 0;
}

std::optional<double> memoryGB(std::string_view meminfo, std::string_view cgroupMax) {
  std::optional<std::uint64_t> bytes;
  std::size_t at = meminfo.find("MemTotal:");
  if (at != std::string_view::npos) {
    std::string_view rest = meminfo.substr(at + 9);
    rest = rest.substr(0, rest.find('\n'));
    if (std::size_t unit = rest.find("kB"); unit != std::string_view::npos) {
      if (auto kb = parseUnsigned(rest.substr(0, unit))) bytes = *kb * 1024;
    }
  }
  if (auto limit = parseUnsigned(cgroupMax); limit && (!bytes || *limit < *bytes)) bytes = limit;
  if (!bytes) return std::nullopt;
  return static_cast<double>(*bytes) / 1e9;
}

std::optional<double> machineMemoryGB() {
  std::string cgroupMax;
  std::string cgroups = readText("/proc/self/cgroup");
  for (std::string_view rest = cgroups; !rest.empty();) {
    std::string_view line = rest.substr(0, rest.find('\n'));
    rest.remove_prefix(std::min(rest.size(), line.size() + 1));
    if (line.rfind("0::", 0) == 0) {
      cgroupMax =
          readText(std::filesystem::path("/sys/fs/cgroup") / std::string(line.substr(3)).erase(0, 1) / "memory.max");
    }
  }
  return memoryGB(readText("/proc/meminfo"), cgroupMax);
}

std::optional<std::uint64_t> freeDiskBytes(const std::filesystem::path& path) {
  std::filesystem::path at = path;
  std::error_code ec;
  while (!at.empty() && !std::filesystem::exists(at, ec)) {
    if (at == at.parent_path()) break;
    at = at.parent_path();
  }
  struct statvfs info {};
  if (at.empty() || ::statvfs(at.c_str(), &info) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

// ---- Choosing the model --------------------------------------------------

std::optional<std::string> chooseModel(const std::vector<std::string>& candidates,
                                       const std::map<std::string, double>& sizesGB, double memoryGB) {
  for (const auto& model : candidates) {
    auto size = sizesGB.find(model);
    if (size == sizesGB.end()) continue;
    if (size->second * kRunFactor <= memoryGB * kMemoryShare) return model;
  }
  return std::nullopt;
}

std::optional<double> manifestSizeGB(const Json& manifest) {
  auto layers = manifest.find("layers");
  if (layers == manifest.end() || !layers->is_array() || layers->empty()) return std::nullopt;
  std::uint64_t total = 0;
  for (const auto& layer : *layers) {
    auto size = layer.find("size");
    if (size == layer.end() || !size->is_number_unsigned()) return std::nullopt;
    total += size->get<std::uint64_t>();
  }
  return static_cast<double>(total) / 1e9;
}

ModelReference modelReference(std::string_view model) {
  std::size_t colon = model.rfind(':');
  std::string name(model.substr(0, colon));
  std::string tag = colon == std::string_view::npos ? "latest" : std::string(model.substr(colon + 1));
  if (name.find('/') == std::string::npos) name = "library/" + name;
  return {name, tag};
}

std::optional<std::string> publishedChecksum(std::string_view list, std::string_view asset) {
  for (std::string_view rest = list; !rest.empty();) {
    std::string_view line = rest.substr(0, rest.find('\n'));
    rest.remove_prefix(std::min(rest.size(), line.size() + 1));
    std::string trimmedLine = text::trimmed(line);
    std::size_t space = trimmedLine.find_first_of(" \t");
    if (space == std::string::npos) continue;
    std::string hash = trimmedLine.substr(0, space);
    std::string name = text::trimmed(trimmedLine.substr(space));
    if (!name.empty() && name.front() == '*') name.erase(0, 1);
    if (name.rfind("./", 0) == 0) name.erase(0, 2);
    if (name == asset && hash.size() == 64) return text::asciiLowercased(hash);
  }
  return std::nullopt;
}

std::optional<std::string> ollamaArch(std::string_view machine) {
  if (machine == "x86_64" || machine == "amd64") return "amd64";
  if (machine == "aarch64" || machine == "arm64") return "arm64";
  return std::nullopt;
}

// ---- What the user reads -------------------------------------------------

namespace SetupText {

std::string memoryExplanation(double memoryGB) {
  return "This Mac has " + oneDecimal(memoryGB) + " GB of memory. A model runs in about 1.2× its size.";
}

std::string modelRow(double sizeGB) {
  return oneDecimal(sizeGB) + " GB · runs in ≈ " + oneDecimal(kRunFactor * sizeGB);
}

std::string installOffer(Language language) {
  if (russian(language))
    return "Одна кнопка ставит новейшую Ollama (бесплатно, модели работают здесь без интернета), затем лучшую "
           "модель для памяти этого компьютера.";
  return "One click installs the newest Ollama (free, runs models here with no internet), then the best model for "
         "this Mac's memory.";
}

std::string updateOffer(Language language, const std::string& installed, const std::string& latest) {
  if (russian(language))
    return "Ollama " + installed + " слишком старая для этих моделей. Одна кнопка обновит её до новейшей (" + latest +
           ") и скачает модель.";
  return "Ollama " + installed + " is too old for these models. One click updates it to the newest (" + latest +
         ") and downloads the model.";
}

std::string downloading(Language language, double megabytes) {
  std::string size = fmt::format("{:.0f}", megabytes);
  if (russian(language)) return "Скачиваю Ollama (≈ " + size + " МБ)…";
  return "Downloading Ollama (≈ " + size + " MB)…";
}

std::string checking(Language language) {
  return russian(language) ? "Сверяю контрольную сумму Ollama…" : "Checking Ollama's checksum…";
}

std::string checksumMismatch(Language language) {
  if (russian(language))
    return "Скачанная Ollama не совпадает с контрольной суммой, опубликованной Ollama, — ничего не установлено.";
  return "The downloaded Ollama doesn't match the checksum Ollama published — nothing was installed.";
}

std::string notRunning(Language language) {
  return russian(language) ? "Ollama установлена, но не запущена." : "Ollama is installed but not running.";
}

std::string stoppedEarly(Language language) {
  return russian(language) ? "Ollama остановилась, не докачав модель." : "Ollama stopped before the download finished.";
}

std::string pullRefused(Language language, int status) {
  if (russian(language)) return "Ollama не начала скачивание (HTTP " + std::to_string(status) + ")";
  return "Ollama didn't start the download (HTTP " + std::to_string(status) + ")";
}

std::string downloaded(Language language, const std::string& model) {
  if (russian(language)) return model + " скачана на этот Mac — выбери её в меню моделей.";
  return model + " is downloaded to this Mac — pick it in the model menu.";
}

std::string tooOldFor(Language language, const std::string& model, const std::string& version) {
  if (russian(language))
    return "Не удалось скачать " + model + ": Ollama " + version + " слишком старая для " + model +
           ". Обнови её (бесплатно, " + kOllamaDownloadPage + "), затем снова нажми Download.";
  return "Couldn't download " + model + ": Ollama " + version + " is too old for " + model + ". Update it (free, " +
         kOllamaDownloadPage + "), then press Download again.";
}

std::string pullFailed(Language language, const std::string& model, const std::string& error) {
  return (russian(language) ? "Не удалось скачать " : "Couldn't download ") + model + ": " + error;
}

std::string pullProgress(Language language, const std::string& model, double percent, double bytesPerSecond,
                         std::optional<std::int64_t> secondsLeft) {
  bool ru = russian(language);
  std::string line = model + ": " + fmt::format("{:.0f}", std::floor(percent)) + "%";
  if (bytesPerSecond > 0) line += " · " + oneDecimal(bytesPerSecond / 1e6) + (ru ? " МБ/с" : " MB/s");
  if (secondsLeft) {
    std::int64_t s = *secondsLeft;
    std::string left = s < 60     ? std::to_string(s) + (ru ? " с" : " s")
                       : s < 3600 ? std::to_string((s + 59) / 60) + (ru ? " мин" : " min")
                                  : std::to_string(s / 3600) + (ru ? " ч " : " h ") + std::to_string((s % 3600) / 60) +
                                        (ru ? " мин" : " min");
    line += ru ? " · осталось ≈ " + left : " · ≈ " + left + " left";
  }
  return line;
}

std::string claudeInstalled(Language language) {
  if (russian(language))
    return "Claude Code установлен. Войди в аккаунт Claude кнопкой «Sign in in Terminal» в Settings › Models.";
  return "Claude Code is installed. Sign in to your Claude account with «Sign in in Terminal» in Settings › Models.";
}

std::string claudeFailed(Language language, const std::string& reason) {
  return (russian(language) ? "Claude Code не установился: " : "Claude Code wasn't installed: ") + reason;
}

}  // namespace SetupText

// ---- Progress --------------------------------------------------------------

std::optional<SetupEvent> PullMeter::take(const Json& line, Language language, const std::string& model) {
  auto digest = line.find("digest");
  auto total = line.find("total");
  if (digest == line.end() || !digest->is_string() || total == line.end() || !total->is_number_unsigned())
    return std::nullopt;
  auto completed = line.find("completed");
  std::uint64_t done = completed != line.end() && completed->is_number_unsigned() ? completed->get<std::uint64_t>() : 0;
  layers_[digest->get<std::string>()] = {done, total->get<std::uint64_t>()};

  SetupEvent event;
  event.kind = SetupEvent::Kind::progress;
  for (const auto& [name, layer] : layers_) {
    event.completed += layer.first;
    event.total += layer.second;
  }
  if (event.total == 0) return std::nullopt;
  std::int64_t now = clock_.monotonicMillis();
  if (!startMillis_) {
    startMillis_ = now;
    startBytes_ = event.completed;
  }
  event.percent = 100.0 * static_cast<double>(event.completed) / static_cast<double>(event.total);
  if (now > *startMillis_ && event.completed > startBytes_) {
    event.bytesPerSecond =
        static_cast<double>(event.completed - startBytes_) * 1000.0 / static_cast<double>(now - *startMillis_);
    event.secondsLeft =
        static_cast<std::int64_t>(std::ceil(static_cast<double>(event.total - event.completed) / event.bytesPerSecond));
  }
  event.text = SetupText::pullProgress(language, model, event.percent, event.bytesPerSecond, event.secondsLeft);
  return event;
}

// ---- What is on this machine -----------------------------------------------

Json LocalState::toJson() const {
  Json out = Json::object();
  Json ollama = Json::object();
  ollama["installed"] = install.has_value();
  if (install) {
    ollama["program"] = install->program.string();
    ollama["managedBy"] = install->kind == OllamaInstall::Kind::ours     ? "orwenna"
                          : install->kind == OllamaInstall::Kind::system ? "system"
                                                                         : "package manager";
  }
  ollama["running"] = runningVersion.has_value();
  ollama["version"] = installedVersion ? Json(*installedVersion) : Json();
  ollama["models"] = installedModels;
  out["ollama"] = std::move(ollama);
  out["lmstudio"] = Json{{"running", lmStudioRunning}, {"models", lmStudioModels}};
  return out;
}

std::optional<SetupLock> SetupLock::tryAcquire(const std::filesystem::path& file) {
  ensureDirectory(file.parent_path());
  int fd = ::open(file.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) throw FileError("Couldn't open " + file.string() + ".");
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return std::nullopt;
  }
  return SetupLock(fd);
}

SetupLock& SetupLock::operator=(SetupLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

SetupLock::~SetupLock() {
  if (fd_ >= 0) ::close(fd_);
}

std::string urlHost(std::string_view url) {
  std::size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return "";
  std::string_view rest = url.substr(scheme + 3);
  rest = rest.substr(0, rest.find_first_of("/?#"));
  if (std::size_t at = rest.rfind('@'); at != std::string_view::npos) rest.remove_prefix(at + 1);
  if (std::size_t colon = rest.rfind(':'); colon != std::string_view::npos && rest.find(']') == std::string_view::npos)
    rest = rest.substr(0, colon);
  return text::asciiLowercased(rest);
}

HttpResponse fetchFollowingRedirects(HttpClient& http, HttpRequest request,
                                     const std::function<bool(const std::string& url)>& allowed,
                                     const ChunkHandler* onChunk) {
  for (int hop = 0; hop <= 5; ++hop) {
    if (!allowed(request.url)) throw RedirectRefused("The download went to " + urlHost(request.url) + ".");
    HttpResponse response = onChunk ? http.download(request, *onChunk) : http.send(request);
    bool redirect = response.status == 301 || response.status == 302 || response.status == 303 ||
                    response.status == 307 || response.status == 308;
    if (!redirect) return response;
    auto location = response.header("location");
    if (!location || location->empty()) return response;
    std::string next = location->front() == '/' ? originOf(request.url) + *location : *location;
    // A secure download never continues in the clear.
    if (request.url.rfind("https://", 0) == 0 && next.rfind("https://", 0) != 0)
      throw RedirectRefused("The download went to " + urlHost(next) + " without encryption.");
    request.url = std::move(next);
  }
  throw LocalSetupError("The download kept redirecting.");
}

std::filesystem::path writeClaudeSignInScript(const std::filesystem::path& folder,
                                              const std::filesystem::path& program) {
  std::filesystem::path script = folder / "claude-sign-in.command";
  ensureDirectory(folder);
  writeFileAtomically(script,
                      "#!/bin/sh\n" + shellQuoted(program.string()) + " auth login\necho " +
                          shellQuoted("Done — go back to orwenna.") + "\n",
                      0700);
  return script;
}

bool openInTerminal(const std::filesystem::path& script) {
  auto terminal = findProgram("x-terminal-emulator");
  if (!terminal) return false;
  try {
    spawnDetached(*terminal, {"-e", script.string()});
    return true;
  } catch (const ProcessError& e) {
    log::warn("couldn't open a terminal: {}", e.what());
    return false;
  }
}

// ---- The setup ---------------------------------------------------------------

LocalSetup::LocalSetup(HttpClient& http, Clock& clock, LocalEndpoints endpoints, LocalPlaces places)
    : http_(http), clock_(clock), endpoints_(std::move(endpoints)), places_(std::move(places)) {}

std::optional<std::string> LocalSetup::serverVersion() const {
  HttpRequest r;
  r.url = endpoints_.ollama + "/api/version";
  r.timeout = std::chrono::milliseconds(3000);
  try {
    HttpResponse response = http_.send(r);
    if (!response.ok()) return std::nullopt;
    Json body = Json::parse(response.body, nullptr, false);
    if (body.is_object() && body.contains("version") && body["version"].is_string())
      return body["version"].get<std::string>();
  } catch (const NetError&) {
  }
  return std::nullopt;
}

LocalState LocalSetup::detect() const {
  LocalState state;
  std::filesystem::path ours = places_.installDir / "bin" / "ollama";
  if (isExecutableFile(ours)) {
    state.install = OllamaInstall{OllamaInstall::Kind::ours, ours};
  } else if (auto found = findOnPath("ollama", places_.searchPath)) {
    bool packaged = false;
    for (const auto& dir : places_.packagedDirs) packaged = packaged || found->parent_path() == dir;
    state.install = OllamaInstall{packaged ? OllamaInstall::Kind::packaged : OllamaInstall::Kind::system, *found};
  }
  state.runningVersion = serverVersion();
  state.installedVersion = state.runningVersion;
  if (!state.installedVersion && state.install) {
    try {
      std::string output;
      ProcessSpec versionRun{state.install->program, {"--version"}, currentEnvironment(), "", std::chrono::seconds(10)};
      ProcessResult result = runProcess(versionRun, [&output](std::string_view line) { (output += line) += '\n'; });
      state.installedVersion = versionIn(output + "\n" + result.errorTail);
    } catch (const ProcessError& e) {
      log::warn("couldn't ask Ollama for its version: {}", e.what());
    }
  }
  if (state.runningVersion) {
    HttpRequest r;
    r.url = endpoints_.ollama + "/api/tags";
    r.timeout = std::chrono::milliseconds(5000);
    try {
      Json body = Json::parse(http_.send(r).body, nullptr, false);
      if (body.is_object() && body.contains("models") && body["models"].is_array())
        for (const auto& m : body["models"])
          if (m.is_object() && m.contains("name") && m["name"].is_string())
            state.installedModels.push_back(m["name"].get<std::string>());
    } catch (const NetError&) {
    }
  }
  HttpRequest r;
  r.url = endpoints_.lmStudio + "/v1/models";
  r.timeout = std::chrono::milliseconds(2000);
  try {
    HttpResponse response = http_.send(r);
    Json body = Json::parse(response.body, nullptr, false);
    state.lmStudioRunning = response.ok();
    if (body.is_object() && body.contains("data") && body["data"].is_array())
      for (const auto& m : body["data"])
        if (m.is_object() && m.contains("id") && m["id"].is_string())
          state.lmStudioModels.push_back(m["id"].get<std::string>());
  } catch (const NetError&) {
  }
  return state;
}

std::string LocalSetup::latestRelease() const {
  HttpResponse response =
      fetchFollowingRedirects(http_, releaseRequest(endpoints_.releases), [](const std::string&) { return true; });
  Json body = Json::parse(response.body, nullptr, false);
  if (!response.ok() || !body.is_object() || !body.contains("tag_name") || !body["tag_name"].is_string())
    throw LocalSetupError("Ollama's release feed couldn't be read (HTTP " + std::to_string(response.status) + ").");
  std::string tag = body["tag_name"].get<std::string>();
  return tag.rfind('v', 0) == 0 ? tag.substr(1) : tag;
}

std::map<std::string, double> LocalSetup::modelSizes(const std::vector<std::string>& models) const {
  std::map<std::string, double> sizes;
  for (const auto& model : models) {
    ModelReference ref = modelReference(model);
    HttpRequest r;
    r.url = endpoints_.registry + "/v2/" + ref.path + "/manifests/" + ref.tag;
    r.headers = {{"Accept", "application/vnd.docker.distribution.manifest.v2+json"}};
    r.timeout = std::chrono::milliseconds(10000);
    try {
      HttpResponse response = http_.send(r);
      if (!response.ok()) continue;
      if (auto size = manifestSizeGB(Json::parse(response.body, nullptr, false))) sizes[model] = *size;
    } catch (const NetError& e) {
      log::warn("couldn't read the size of {}: {}", model, e.what());
    }
  }
  return sizes;
}

void LocalSetup::installOllama(const LocalSetupOptions& options, const Json& release, const SetupProgress& progress) {
  const Language language = options.language;
  std::string machine = options.machine;
  if (machine.empty()) {
    utsname name{};
    if (::uname(&name) == 0) machine = name.machine;
  }
  auto arch = ollamaArch(machine);
  if (!arch)
    throw LocalSetupError(pick(language,
                               "Ollama has no build for this machine (" + machine + ") — nothing was installed.",
                               "У Ollama нет сборки для этого компьютера (" + machine + ") — ничего не установлено."));

  const Json* archive = nullptr;
  const Json* checksums = nullptr;
  std::string archiveName;
  if (release.contains("assets") && release["assets"].is_array()) {
    for (const char* suffix : {".tgz", ".tar.zst"}) {
      for (const auto& asset : release["assets"]) {
        if (!asset.is_object() || !asset.contains("name") || !asset["name"].is_string()) continue;
        const std::string& name = asset["name"].get_ref<const std::string&>();
        if (!archive && name == "ollama-linux-" + *arch + suffix) archive = &asset, archiveName = name;
        if (name == kChecksumAsset) checksums = &asset;
      }
    }
  }
  auto urlOf = [](const Json* asset) -> std::string {
    if (!asset || !asset->contains("browser_download_url") || !(*asset)["browser_download_url"].is_string()) return "";
    return (*asset)["browser_download_url"].get<std::string>();
  };
  if (urlOf(archive).empty())
    throw LocalSetupError(pick(language,
                               "Ollama's newest release has no build for this machine — nothing was installed.",
                               "В новейшем выпуске Ollama нет сборки для этого компьютера — ничего не установлено."));
  if (urlOf(checksums).empty())
    throw LocalSetupError(pick(language, "Ollama's newest release publishes no checksum — nothing was installed.",
                               "Новейший выпуск Ollama не публикует контрольную сумму — ничего не установлено."));
  auto anyHop = [](const std::string&) { return true; };

  HttpRequest list;
  list.url = urlOf(checksums);
  list.headers = {{"User-Agent", kUserAgent}};
  HttpResponse listed = fetchFollowingRedirects(http_, list, anyHop);
  auto expected = listed.ok() ? publishedChecksum(listed.body, archiveName) : std::nullopt;
  if (!expected)
    throw LocalSetupError(
        pick(language, "Ollama's published checksum for " + archiveName + " couldn't be read — nothing was installed.",
             "Не удалось прочитать опубликованную контрольную сумму " + archiveName + " — ничего не установлено."));

  double bytes = archive->contains("size") && (*archive)["size"].is_number() ? (*archive)["size"].get<double>() : 0;
  std::filesystem::path parent = places_.installDir.parent_path();
  ensureDirectory(parent);
  if (auto free = options.freeBytes(parent); free && bytes > 0 && static_cast<double>(*free) < bytes * 3)
    throw LocalSetupError(pick(language,
                               "There isn't enough free disk space to install Ollama — nothing was installed.",
                               "На диске не хватает места для Ollama — ничего не установлено."));
  progress(SetupEvent::of(SetupEvent::Kind::status, SetupText::downloading(language, bytes / 1e6)));

  Leftover download{parent / (places_.installDir.filename().string() + ".download")};
  Sha256 hash;
  {
    std::ofstream file(download.path, std::ios::binary | std::ios::trunc);
    if (!file) throw LocalSetupError("Couldn't write the download to " + parent.string() + " — nothing was installed.");
    HttpRequest get;
    get.url = urlOf(archive);
    get.headers = {{"User-Agent", kUserAgent}};
    get.timeout = std::chrono::milliseconds(60000);
    ChunkHandler sink = [&](std::string_view piece) {
      hash.update(piece);
      file.write(piece.data(), static_cast<std::streamsize>(piece.size()));
      return static_cast<bool>(file);
    };
    HttpResponse got = fetchFollowingRedirects(http_, get, anyHop, &sink);
    if (!got.ok())
      throw LocalSetupError(
          pick(language, "Ollama's download answered HTTP " + std::to_string(got.status) + " — nothing was installed.",
               "Скачивание Ollama ответило HTTP " + std::to_string(got.status) + " — ничего не установлено."));
    file.flush();
    if (!file) throw LocalSetupError("Couldn't write the download to " + parent.string() + " — nothing was installed.");
  }
  progress(SetupEvent::of(SetupEvent::Kind::status, SetupText::checking(language)));
  if (hash.hex() != *expected) throw LocalSetupError(SetupText::checksumMismatch(language));

  progress(SetupEvent::of(SetupEvent::Kind::status, russian(language) ? "Устанавливаю Ollama…" : "Installing Ollama…"));
  Leftover staging{parent / (places_.installDir.filename().string() + ".new")};
  std::error_code ec;
  std::filesystem::remove_all(staging.path, ec);
  ensureDirectory(staging.path, 0755);
  auto tar = findOnPath("tar", places_.searchPath);
  if (!tar) tar = "/bin/tar";
  ProcessResult unpacked = runProcess(ProcessSpec{*tar,
                                                  {"-xf", download.path.string(), "-C", staging.path.string()},
                                                  currentEnvironment(),
                                                  "",
                                                  std::chrono::minutes(10)},
                                      [](std::string_view) {});
  if (unpacked.exitStatus != 0 || !isExecutableFile(staging.path / "bin" / "ollama"))
    throw LocalSetupError(pick(language, "The downloaded Ollama couldn't be unpacked — nothing was installed.",
                               "Скачанную Ollama не удалось распаковать — ничего не установлено."));

  // A server started from the old copy would go on answering with the old
  // version; it is stopped here and started again from the new one.
  stopServersOf(places_.installDir / "bin" / "ollama");

  // Swap whole folders, so a failure leaves the earlier install as it was.
  std::filesystem::path old = parent / (places_.installDir.filename().string() + ".old");
  std::filesystem::remove_all(old, ec);
  bool hadOne = std::filesystem::exists(places_.installDir, ec);
  if (hadOne) std::filesystem::rename(places_.installDir, old, ec);
  if (!ec) std::filesystem::rename(staging.path, places_.installDir, ec);
  if (ec) {
    if (hadOne) {
      std::error_code back;
      std::filesystem::rename(old, places_.installDir, back);
    }
    throw LocalSetupError("Ollama couldn't be put in " + places_.installDir.string() + ": " + ec.message() +
                          " — nothing was installed.");
  }
  staging.path.clear();
  std::filesystem::remove_all(old, ec);
}

bool LocalSetup::startServer(const LocalSetupOptions& options, const std::filesystem::path& program, Language language,
                             const SetupProgress& progress) {
  progress(SetupEvent::of(SetupEvent::Kind::status, russian(language) ? "Запускаю Ollama…" : "Starting Ollama…"));
  try {
    spawnDetached(program, {"serve"});
  } catch (const ProcessError& e) {
    log::warn("couldn't start Ollama: {}", e.what());
    return false;
  }
  std::int64_t start = clock_.monotonicMillis();
  while (!serverVersion()) {
    if (clock_.monotonicMillis() - start >= options.startLimitMillis) return false;
    clock_.sleepFor(options.pollMillis);
  }
  return true;
}

std::optional<std::string> LocalSetup::setUpOllama(const LocalSetupOptions& options, const SetupProgress& progress) {
  const Language language = options.language;
  auto fail = [&](const std::string& text) -> std::optional<std::string> {
    progress(SetupEvent::of(SetupEvent::Kind::failure, text));
    return std::nullopt;
  };
  std::optional<SetupLock> lock;
  try {
    lock = SetupLock::tryAcquire(places_.lockFile());
  } catch (const FileError& e) {
    return fail(e.what());
  }
  if (!lock) return fail(busy(language));
  try {
    LocalState state = detect();
    HttpRequest feed = releaseRequest(endpoints_.releases);
    Json release;
    std::optional<std::string> latest;
    try {
      HttpResponse response = fetchFollowingRedirects(http_, feed, [](const std::string&) { return true; });
      release = Json::parse(response.body, nullptr, false);
      if (response.ok() && release.is_object() && release.contains("tag_name") && release["tag_name"].is_string()) {
        latest = release["tag_name"].get<std::string>();
        if (latest->rfind('v', 0) == 0) latest->erase(0, 1);
      }
    } catch (const NetError& e) {
      log::warn("Ollama's release feed: {}", e.what());
    }
    // A server that answers counts as installed even when its program lives
    // where we don't look (a service, a container).
    bool installed = state.install || state.runningVersion;
    if (!latest && !installed)
      return fail(russian(language) ? "Не удалось узнать новейшую версию Ollama — ничего не установлено."
                                    : "Couldn't find Ollama's newest release — nothing was installed.");

    std::optional<int> order =
        latest && state.installedVersion ? compareVersions(*state.installedVersion, *latest) : std::nullopt;
    bool stale = order && *order < 0;
    if (!installed || stale) {
      if (installed && (!state.install || state.install->kind != OllamaInstall::Kind::ours)) {
        std::string where = state.install ? " at " + state.install->program.string() : "";
        std::string by = state.install && state.install->kind == OllamaInstall::Kind::packaged ? "a package manager"
                                                                                               : "another installer";
        return fail(pick(language,
                         "Ollama " + *state.installedVersion + where + " is managed elsewhere (" + by +
                             "). Update it there (" + kOllamaDownloadPage + "), then set up again.",
                         "Ollama " + *state.installedVersion + where + " управляется не нами (" +
                             (by == "a package manager" ? "менеджер пакетов" : "другой установщик") +
                             "). Обнови её там (" + kOllamaDownloadPage + ") и запусти настройку снова."));
      }
      progress(SetupEvent::of(SetupEvent::Kind::status,
                              installed ? SetupText::updateOffer(language, *state.installedVersion, *latest)
                                        : SetupText::installOffer(language)));
      installOllama(options, release, progress);
      state.install = OllamaInstall{OllamaInstall::Kind::ours, places_.installDir / "bin" / "ollama"};
    }

    if (!serverVersion() && (!state.install || !startServer(options, state.install->program, language, progress)))
      return fail(SetupText::notRunning(language));

    std::string model;
    std::optional<double> sizeGB;
    if (options.model) {
      model = *options.model;
      auto sizes = modelSizes({model});
      if (auto it = sizes.find(model); it != sizes.end()) sizeGB = it->second;
    } else {
      const ProviderInfo* ollama = findProvider("ollama");
      std::vector<std::string> candidates = ollama ? ollama->models : std::vector<std::string>{};
      auto sizes = modelSizes(candidates);
      std::optional<double> memory = options.memoryGB ? options.memoryGB : machineMemoryGB();
      if (!memory)
        return fail(pick(language, "This machine's memory couldn't be read — nothing was downloaded.",
                         "Не удалось узнать объём памяти этого компьютера — ничего не скачано."));
      progress(SetupEvent::of(SetupEvent::Kind::status, SetupText::memoryExplanation(*memory)));
      auto chosen = chooseModel(candidates, sizes, *memory);
      if (!chosen)
        return fail(russian(language) ? "Ни одна локальная модель не помещается в память этого компьютера — ничего не "
                                        "скачано."
                                      : "No local model fits in this machine's memory — nothing was downloaded.");
      model = *chosen;
      sizeGB = sizes[model];
    }
    if (auto free = options.freeBytes(places_.modelsDir);
        free && sizeGB && static_cast<double>(*free) < *sizeGB * 1e9 * kDiskMargin) {
      std::string need = oneDecimal(*sizeGB * kDiskMargin), have = oneDecimal(static_cast<double>(*free) / 1e9);
      return fail(pick(language,
                       "There isn't enough free disk space for " + model + ": it needs about " + need + " GB, " + have +
                           " GB are free — nothing was downloaded.",
                       "На диске не хватает места для " + model + ": нужно около " + need + " ГБ, свободно " + have +
                           " ГБ — ничего не скачано."));
    }
    if (!pull(model, language, progress)) return std::nullopt;
    return model;
  } catch (const Error& e) {
    return fail(e.what());
  }
}

bool LocalSetup::pull(const std::string& model, Language language, const SetupProgress& progress) {
  progress(SetupEvent::of(SetupEvent::Kind::status,
                          russian(language) ? "Скачиваю " + model + "…" : "Downloading " + model + "…"));
  HttpRequest r =
      HttpRequest::postJson(endpoints_.ollama + "/api/pull", Json{{"model", model}, {"stream", true}}.dump());
  r.timeout = std::chrono::milliseconds(300'000);
  PullMeter meter(clock_);
  bool success = false, anything = false;
  std::optional<std::string> error;
  HttpResponse response;
  try {
    response = http_.stream(r, [&](std::string_view line) {
      if (text::trimmed(line).empty()) return true;
      anything = true;
      Json object = Json::parse(line, nullptr, false);
      if (!object.is_object()) return true;
      if (auto e = object.find("error"); e != object.end() && !e->is_null()) {
        error = e->is_string() ? e->get<std::string>() : e->dump();
        return false;
      }
      if (auto status = object.find("status"); status != object.end() && *status == "success") success = true;
      if (auto event = meter.take(object, language, model)) progress(*event);
      return true;
    });
  } catch (const NetError& e) {
    log::warn("the pull of {} broke off: {}", model, e.what());
    bool answering = anything || serverVersion();
    progress(SetupEvent::of(SetupEvent::Kind::failure,
                            answering ? SetupText::stoppedEarly(language) : SetupText::notRunning(language)));
    return false;
  }
  std::string failure;
  if (!response.ok()) {
    failure = SetupText::pullRefused(language, response.status);
  } else if (error) {
    failure = error->find("requires a newer version of Ollama") != std::string::npos
                  ? SetupText::tooOldFor(language, model, serverVersion().value_or("?"))
                  : SetupText::pullFailed(language, model, *error);
  } else if (!success) {
    failure = SetupText::stoppedEarly(language);
  }
  if (!failure.empty()) {
    progress(SetupEvent::of(SetupEvent::Kind::failure, failure));
    return false;
  }
  progress(SetupEvent::of(SetupEvent::Kind::notice, SetupText::downloaded(language, model)));
  return true;
}

bool LocalSetup::setUpClaudeCode(Language language, const SetupProgress& progress) {
  const bool ru = russian(language);
  std::string site = urlHost(endpoints_.claudeSite);
  auto fail = [&](const std::string& text) {
    progress(SetupEvent::of(SetupEvent::Kind::failure, text));
    return false;
  };
  std::optional<SetupLock> lock;
  try {
    lock = SetupLock::tryAcquire(places_.lockFile());
  } catch (const FileError& e) {
    return fail(e.what());
  }
  if (!lock) return fail(busy(language));
  progress(SetupEvent::of(SetupEvent::Kind::status,
                          ru ? "Скачиваю установщик Claude Code…" : "Downloading Claude Code's installer…"));
  HttpResponse script;
  try {
    HttpRequest r;
    r.url = endpoints_.claudeSite + "/install.sh";
    r.headers = {{"User-Agent", kUserAgent}};
    auto onSite = [&site](const std::string& url) {
      std::string host = urlHost(url);
      return host == site || (host.size() > site.size() && host.ends_with("." + site));
    };
    script = fetchFollowingRedirects(http_, r, onSite);
  } catch (const RedirectRefused&) {
    return fail(ru ? "Установщик пришёл не с " + site + " — ничего не установлено."
                   : "The installer didn't come from " + site + " — nothing was installed.");
  } catch (const Error& e) {
    return fail(SetupText::claudeFailed(language, e.what()));
  }
  if (!script.ok() || text::trimmed(script.body).empty())
    return fail(SetupText::claudeFailed(
        language, "the installer's download answered HTTP " + std::to_string(script.status) + "."));

  progress(SetupEvent::of(SetupEvent::Kind::status, ru ? "Устанавливаю Claude Code…" : "Installing Claude Code…"));
  auto shell = findOnPath("bash", places_.searchPath);
  if (!shell) shell = findOnPath("sh", places_.searchPath);
  if (!shell) return fail(SetupText::claudeFailed(language, "no shell was found to run the installer."));
  try {
    ProcessResult result =
        runProcess(ProcessSpec{*shell, {"-s"}, currentEnvironment(), script.body, std::chrono::minutes(10)},
                   [](std::string_view line) { log::info("claude installer: {}", line); });
    if (result.exitStatus != 0) {
      std::string reason = lastLine(result.errorTail);
      return fail(SetupText::claudeFailed(
          language,
          reason.empty() ? "the installer ended with status " + std::to_string(result.exitStatus) + "." : reason));
    }
  } catch (const ProcessError& e) {
    return fail(SetupText::claudeFailed(language, e.what()));
  }
  progress(SetupEvent::of(SetupEvent::Kind::notice, SetupText::claudeInstalled(language)));
  return true;
}

}  // namespace orwenna
