// Setting up a model that runs on this machine: finding Ollama (and LM
// Studio's server), installing or updating Ollama per user from its published
// release, starting it, choosing the biggest model that fits the machine's
// memory, and pulling it with progress; and installing the Claude Code program
// with its sign-in script.
//
// Nothing is installed from a download whose checksum or origin check fails,
// and a failed step leaves the earlier install as it was. Every step reports
// through a SetupProgress callback (status lines, pull progress, one closing
// notice), which the command line prints and the web interface can push as
// events. The setups block the calling thread; one runs at a time per user
// (each holds the SetupLock beside the install; a second one fails at once). The pure helpers are thread-safe; a
// LocalSetup holds references to its HttpClient and Clock and is used from one thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.h"
#include "base/http.h"
#include "base/json.h"
#include "base/language.h"
#include "llm/llm.h"

namespace orwenna {

// The roots local setup reaches, without trailing slashes. The defaults are
// the real ones; the wiring root replaces them (ORWENNA_OLLAMA_API,
// ORWENNA_LMSTUDIO_API, ORWENNA_OLLAMA_REGISTRY, ORWENNA_OLLAMA_RELEASES,
// ORWENNA_CLAUDE_INSTALLER).
struct LocalEndpoints {
  std::string ollama = "http://127.0.0.1:11434";        // "/api/…"
  std::string lmStudio = "http://127.0.0.1:1234";       // "/v1/models"
  std::string registry = "https://registry.ollama.ai";  // "/v2/<library path>/manifests/<tag>"
  std::string releases = "https://api.github.com/repos/ollama/ollama/releases/latest";  // the feed itself
  std::string claudeSite = "https://claude.ai";                                         // "/install.sh"

  // A provider's OpenAI-compatible base ("…/v1") as its server root.
  [[nodiscard]] static std::string serverRoot(std::string_view base);
};

inline constexpr const char* kOllamaDownloadPage = "https://ollama.com/download";

// ---- Versions and memory -------------------------------------------------

// "v0.12.3" → {0, 12, 3}; a pre-release or build suffix ("-rc1", "+g1") is
// dropped. Nothing when a component is not a number.
[[nodiscard]] std::optional<std::vector<int>> parseVersion(std::string_view text);
// Negative, zero or positive as `a` is older than, the same as or newer than
// `b`, component by component (missing components are 0). Nothing when either
// cannot be read.
[[nodiscard]] std::optional<int> compareVersions(std::string_view a, std::string_view b);

// The memory a model may use, in GB (10^9 bytes): MemTotal from /proc/meminfo
// text, capped by a cgroup's memory.max text when that holds a number.
[[nodiscard]] std::optional<double> memoryGB(std::string_view meminfo, std::string_view cgroupMax);
// This machine's, from /proc and the process's cgroup; nothing when unreadable.
[[nodiscard]] std::optional<double> machineMemoryGB();
// Bytes free for an unprivileged user on the file system holding `path` (or
// its nearest existing parent); nothing when it cannot be read.
[[nodiscard]] std::optional<std::uint64_t> freeDiskBytes(const std::filesystem::path& path);

// ---- Choosing the model --------------------------------------------------

// The first candidate with a known size whose 1.2 × size fits in 70% of the
// memory; nothing when none fits.
[[nodiscard]] std::optional<std::string> chooseModel(const std::vector<std::string>& candidates,
                                                     const std::map<std::string, double>& sizesGB, double memoryGB);
// The registry manifest's download size in GB (the sum of its layers' sizes);
// nothing when the manifest has no readable layers.
[[nodiscard]] std::optional<double> manifestSizeGB(const Json& manifest);
// "gemma4:12b" → "library/gemma4" and "12b"; a name without a tag is "latest".
struct ModelReference {
  std::string path;
  std::string tag;
};
[[nodiscard]] ModelReference modelReference(std::string_view model);

// The hex digest published for `asset` in a sha256sum-style list
// ("<hex>  ./name" lines); nothing when it is not listed.
[[nodiscard]] std::optional<std::string> publishedChecksum(std::string_view list, std::string_view asset);

// "x86_64" → "amd64", "aarch64" → "arm64"; nothing for machines Ollama has no build for.
[[nodiscard]] std::optional<std::string> ollamaArch(std::string_view machine);

// ---- What the user reads -------------------------------------------------

namespace SetupText {
std::string memoryExplanation(double memoryGB);
std::string modelRow(double sizeGB);  // "8.1 GB · runs in ≈ 9.7 GB"
std::string installOffer(Language language);
std::string updateOffer(Language language, const std::string& installed, const std::string& latest);
std::string downloading(Language language, double megabytes);
std::string checking(Language language);
std::string checksumMismatch(Language language);
std::string notRunning(Language language);
std::string stoppedEarly(Language language);
std::string pullRefused(Language language, int status);
std::string downloaded(Language language, const std::string& model);
std::string tooOldFor(Language language, const std::string& model, const std::string& version);
std::string pullFailed(Language language, const std::string& model, const std::string& error);
std::string pullProgress(Language language, const std::string& model, double percent, double bytesPerSecond,
                         std::optional<std::int64_t> secondsLeft);
std::string claudeInstalled(Language language);
std::string claudeFailed(Language language, const std::string& reason);
}  // namespace SetupText

// ---- Progress --------------------------------------------------------------

struct SetupEvent {
  enum class Kind {
    status,    // a step began: `text` is its line ("Starting Ollama…")
    progress,  // a pull advanced: `text` is the progress line, the numbers below are set
    notice,    // the setup ended well: `text` is the chat notice
    failure,   // the setup ended with `text` as the chat notice; nothing more follows
  };
  Kind kind = Kind::status;
  std::string text;
  double percent = 0;  // 0…100 (memory and speed figures, not money)
  double bytesPerSecond = 0;
  std::optional<std::int64_t> secondsLeft;
  std::uint64_t completed = 0, total = 0;  // bytes of the pull so far

  static SetupEvent of(Kind kind, std::string text) {
    SetupEvent e;
    e.kind = kind;
    e.text = std::move(text);
    return e;
  }
};
using SetupProgress = std::function<void(const SetupEvent&)>;

// Turns Ollama's pull stream into progress: the layers' totals and completed
// bytes are summed, the speed is measured since the first byte.
class PullMeter {
 public:
  explicit PullMeter(const Clock& clock) : clock_(clock) {}
  // Takes one status object of the stream; returns the event when it moved the count.
  std::optional<SetupEvent> take(const Json& line, Language language, const std::string& model);

 private:
  const Clock& clock_;
  std::map<std::string, std::pair<std::uint64_t, std::uint64_t>> layers_;  // digest → completed, total
  std::optional<std::int64_t> startMillis_;
  std::uint64_t startBytes_ = 0;
};

// ---- What is on this machine -----------------------------------------------

struct OllamaInstall {
  enum class Kind { ours, system, packaged };  // ours: unpacked per user by this app
  Kind kind = Kind::ours;
  std::filesystem::path program;
};

struct LocalState {
  std::optional<OllamaInstall> install;
  std::optional<std::string> runningVersion;    // from /api/version
  std::optional<std::string> installedVersion;  // running, else `ollama --version`
  std::vector<std::string> installedModels;     // /api/tags
  bool lmStudioRunning = false;
  std::vector<std::string> lmStudioModels;
  Json toJson() const;
};

// Where the per-user install lives and where Ollama keeps models.
struct LocalPlaces {
  std::filesystem::path installDir;  // <data>/ollama: bin/ollama, lib/ollama
  std::filesystem::path modelsDir;   // ~/.ollama/models, for the disk check
  std::string searchPath;            // $PATH
  // The folders a package manager owns; a program found there is managed elsewhere.
  std::vector<std::filesystem::path> packagedDirs{"/usr/bin", "/bin", "/snap/bin"};

  // Beside the install: held while a setup runs (SetupLock).
  std::filesystem::path lockFile() const { return installDir.parent_path() / "local-setup.lock"; }
};

class LocalSetupError : public LLMError {
 public:
  using LLMError::LLMError;
};

// Holds the setup lock of one user (flock on a file); released on destruction.
class SetupLock {
 public:
  // Nothing when another setup holds it.
  [[nodiscard]] static std::optional<SetupLock> tryAcquire(const std::filesystem::path& file);
  SetupLock(SetupLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  SetupLock& operator=(SetupLock&& other) noexcept;
  ~SetupLock();

 private:
  explicit SetupLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

struct LocalSetupOptions {
  Language language = Language::english;
  std::optional<std::string> model;  // pull this one instead of choosing
  std::optional<double> memoryGB;    // measured when absent
  // Free bytes where models go; measured when absent.
  std::function<std::optional<std::uint64_t>(const std::filesystem::path&)> freeBytes = freeDiskBytes;
  std::string machine;  // uname's machine; this one when empty
  std::int64_t pollMillis = 500;
  std::int64_t startLimitMillis = 30'000;
};

class LocalSetup {
 public:
  LocalSetup(HttpClient& http, Clock& clock, LocalEndpoints endpoints, LocalPlaces places);

  // What is installed and running; never throws.
  LocalState detect() const;
  // The newest release's tag (without "v"). Throws LocalSetupError or NetError.
  std::string latestRelease() const;
  // Download sizes of `models` from the registry; unknown ones are left out.
  std::map<std::string, double> modelSizes(const std::vector<std::string>& models) const;

  // The whole Ollama setup: install or update, start, choose, pull. Reports
  // every step; the last event is a notice or a failure. Returns the model
  // pulled, or nothing when the setup failed. Never throws.
  std::optional<std::string> setUpOllama(const LocalSetupOptions& options, const SetupProgress& progress);
  // Pulls one model from a running server; the last event is a notice or a failure.
  bool pull(const std::string& model, Language language, const SetupProgress& progress);

  // Downloads Claude's installer (every redirect must stay on the site) and
  // runs it. Returns whether it installed. Never throws.
  bool setUpClaudeCode(Language language, const SetupProgress& progress);

 private:
  std::optional<std::string> serverVersion() const;
  void installOllama(const LocalSetupOptions& options, const Json& release, const SetupProgress& progress);
  bool startServer(const LocalSetupOptions& options, const std::filesystem::path& program, Language language,
                   const SetupProgress& progress);

  HttpClient& http_;
  Clock& clock_;
  LocalEndpoints endpoints_;
  LocalPlaces places_;
};

// GETs `url`, following up to five redirects by hand; each hop must pass
// `allowed` (given the next URL). Throws LocalSetupError when a hop is refused
// or the redirects don't end, NetError on transport failures.
HttpResponse fetchFollowingRedirects(HttpClient& http, HttpRequest request,
                                     const std::function<bool(const std::string& url)>& allowed,
                                     const ChunkHandler* onChunk = nullptr);

// The host of an http(s) URL, lower-cased; "" when there is none.
[[nodiscard]] std::string urlHost(std::string_view url);

// Writes the sign-in script (it runs `program auth login`, then says where to
// go back to) as `folder`/claude-sign-in.command, mode 0700. Throws FileError.
std::filesystem::path writeClaudeSignInScript(const std::filesystem::path& folder,
                                              const std::filesystem::path& program);
// Opens the script in a terminal (x-terminal-emulator -e); false when no
// terminal could be started, so the caller shows the command to copy instead.
bool openInTerminal(const std::filesystem::path& script);

}  // namespace orwenna
