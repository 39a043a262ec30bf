// Local model setup against fake servers for Ollama, its release feed (with a
// redirecting download, the tarball and the published checksum), the model
// registry and Claude's installer site: install, checksum refusal, an old
// install, pull streams that fail in the ways Ollama's do, and the rule that
// picks the model for the machine's memory.
#include "llm/local_setup.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <atomic>
#include <cstdlib>

#include "base/bytes.h"
#include "base/files.h"
#include "fakes/fake_server.h"
#include "llm/llm_test_support.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

namespace fs = std::filesystem;
using testing::FakeResponse;
using testing::FakeServer;
using testing::RecordedRequest;
using testing::TempDir;
using testing::writeText;

constexpr double kGiB = 1073741824.0 / 1e9;

// A missing file reads as empty, so a failed install fails the check, not the test.
std::string readText(const fs::path& path) { return readFile(path).value_or(""); }

std::string sha256Hex(const std::string& data) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest);
  return toHex(Bytes(digest, digest + sizeof digest));
}

TEST(LocalSetupRules, VersionsCompareAsNumbers) {
  EXPECT_LT(*compareVersions("0.9", "0.12"), 0);  // as text "0.9" would win
  EXPECT_EQ(*compareVersions("v0.12.3", "0.12.3"), 0);
  EXPECT_EQ(*compareVersions("0.12", "0.12.0"), 0);
  EXPECT_GT(*compareVersions("1.0.0", "0.99.99"), 0);
  EXPECT_EQ(*compareVersions("0.12.3-rc1", "0.12.3"), 0);
  EXPECT_FALSE(compareVersions("0.x", "0.1"));
  EXPECT_FALSE(parseVersion(""));
}

TEST(LocalSetupRules, MemoryIsTheSmallerOfTheMachineAndItsCgroup) {
  const std::string meminfo = "MemTotal:       16777216 kB\nMemFree:          123 kB\n";
  EXPECT_NEAR(*memoryGB(meminfo, "max\n"), 17.18, 0.01);
  EXPECT_NEAR(*memoryGB(meminfo, "8589934592\n"), 8.59, 0.01);
  EXPECT_NEAR(*memoryGB(meminfo, "68719476736"), 17.18, 0.01);
  EXPECT_FALSE(memoryGB("", "max"));
}

TEST(LocalSetupRules, TheBiggestModelThatFitsIsChosen) {
  const std::vector<std::string> models = {"nemotron-3-super:120b", "gemma4:31b", "gemma4:26b", "gemma4:12b"};
  const std::map<std::string, double> sizes = {
      {"nemotron-3-super:120b", 86.6}, {"gemma4:31b", 19.9}, {"gemma4:26b", 17.0}, {"gemma4:12b", 8.1}};
  EXPECT_EQ(chooseModel(models, sizes, 8 * kGiB), std::nullopt);
  EXPECT_EQ(chooseModel(models, sizes, 16 * kGiB), "gemma4:12b");
  EXPECT_EQ(chooseModel(models, sizes, 32 * kGiB), "gemma4:31b");
  EXPECT_EQ(chooseModel(models, sizes, 192 * kGiB), "nemotron-3-super:120b");

  // At 16 GiB the limit is 12.03 GB: 10.0 × 1.2 fits, 10.1 × 1.2 doesn't.
  EXPECT_EQ(chooseModel({"a", "b"}, {{"a", 10.1}, {"b", 10.0}}, 16 * kGiB), "b");
  // A model whose size isn't known yet is skipped, not chosen.
  EXPECT_EQ(chooseModel(models, {{"gemma4:12b", 8.1}}, 128 * kGiB), "gemma4:12b");

  EXPECT_EQ(SetupText::memoryExplanation(16 * kGiB),
            "This Mac has 17.2 GB of memory. A model runs in about 1.2× its size.");
  EXPECT_EQ(SetupText::modelRow(8.1), "8.1 GB · runs in ≈ 9.7");
}

TEST(LocalSetupRules, RegistryNamesChecksumListsAndManifests) {
  EXPECT_EQ(modelReference("gemma4:12b").path, "library/gemma4");
  EXPECT_EQ(modelReference("gemma4:12b").tag, "12b");
  EXPECT_EQ(modelReference("someone/model").tag, "latest");
  EXPECT_EQ(modelReference("someone/model").path, "someone/model");

  const std::string hash(64, 'a');
  const std::string list =
      std::string(64, 'b') + "  ./ollama-linux-arm64.tgz\n" + hash + "  ./ollama-linux-amd64.tgz\n";
  EXPECT_EQ(publishedChecksum(list, "ollama-linux-amd64.tgz"), hash);
  EXPECT_EQ(publishedChecksum(list, "ollama-linux-amd64.tar.zst"), std::nullopt);

  auto manifest = Json::parse(R"({"layers":[{"size":8000000000},{"size":100000000}],"config":{"size":5}})");
  EXPECT_NEAR(*manifestSizeGB(manifest), 8.1, 1e-9);
  EXPECT_FALSE(manifestSizeGB(Json::parse(R"({"layers":[]})")));
}

TEST(LocalSetupRules, PullProgressCountsEveryLayer) {
  testing::FixedClock clock;
  PullMeter meter(clock);
  EXPECT_FALSE(meter.take(Json::parse(R"({"status":"pulling manifest"})"), Language::english, "m"));
  meter.take(Json::parse(R"({"status":"pulling a","digest":"a","total":3000000000,"completed":0})"), Language::english,
             "m");
  clock.sleepFor(10'000);
  auto event =
      meter.take(Json::parse(R"({"status":"pulling b","digest":"b","total":1000000000,"completed":1000000000})"),
                 Language::english, "m");
  ASSERT_TRUE(event);
  EXPECT_DOUBLE_EQ(event->percent, 25);
  EXPECT_DOUBLE_EQ(event->bytesPerSecond, 1e8);
  EXPECT_EQ(event->secondsLeft, 30);
  EXPECT_EQ(event->text, "m: 25% · 100.0 MB/s · ≈ 30 s left");
  auto ru =
      meter.take(Json::parse(R"({"digest":"a","total":3000000000,"completed":3000000000})"), Language::russian, "m");
  EXPECT_EQ(ru->text, "m: 100% · 400.0 МБ/с · осталось ≈ 0 с");
}

// A release with the tarball behind a redirect, as release downloads are
// served, a checksum list, registry manifests and an Ollama server that
// answers once the installed program was started with "serve".
class LocalSetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    installDir = home.path() / "data" / "ollama";
    started = home.path() / "served";
    places.installDir = installDir;
    places.modelsDir = home.path() / "models";
    places.searchPath = "/usr/bin:/bin";
    tarball = makeTarball("0.13.0");
    checksums = sha256Hex(tarball) + "  ./ollama-linux-amd64.tgz\n";

    server.on("GET", "/releases/latest", [this](const RecordedRequest&) {
      Json assets = Json::array({
          Json{{"name", "ollama-linux-amd64.tgz"},
               {"size", tarball.size()},
               {"browser_download_url", server.url() + "/download/ollama-linux-amd64.tgz"}},
          Json{{"name", "sha256sum.txt"},
               {"size", 100},
               {"browser_download_url", server.url() + "/download/sha256sum.txt"}},
      });
      return FakeResponse::json(Json{{"tag_name", "v0.13.0"}, {"assets", assets}}.dump());
    });
    server.on("GET", "/download/ollama-linux-amd64.tgz", [](const RecordedRequest&) {
      FakeResponse r = FakeResponse::text("", 302);
      r.headers = {{"Location", "/objects/tarball"}};
      return r;
    });
    server.on("GET", "/objects/tarball", [this](const RecordedRequest&) {
      FakeResponse r = FakeResponse::text(tarball);
      r.contentType = "application/octet-stream";
      return r;
    });
    server.on("GET", "/download/sha256sum.txt",
              [this](const RecordedRequest&) { return FakeResponse::text(checksums); });
    for (auto [name, size] :
         {std::pair{"nemotron-3-super/manifests/120b", 86600000000ull},
          std::pair{"gemma4/manifests/31b", 19900000000ull}, std::pair{"gemma4/manifests/26b", 17000000000ull},
          std::pair{"gemma4/manifests/12b", 8100000000ull}}) {
      server.onJson("GET", std::string("/v2/library/") + name,
                    Json{{"schemaVersion", 2}, {"layers", Json::array({Json{{"size", size}}})}}.dump());
    }
    server.on("GET", "/api/version", [this](const RecordedRequest&) {
      if (!fs::exists(started)) return FakeResponse::text("", 503);
      return FakeResponse::json(R"({"version":"0.13.0"})");
    });
    server.on("POST", "/api/pull", [this](const RecordedRequest&) { return pullStream; });
  }

  // A release tarball whose bin/ollama prints `version` and, asked to serve,
  // marks that it was started.
  std::string makeTarball(const std::string& version) {
    TempDir tree;
    writeProgram(tree.path() / "bin" / "ollama", version);
    fs::path archive = home.path() / "made.tgz";
    std::string command = "tar -czf '" + archive.string() + "' -C '" + tree.path().string() + "' bin";
    EXPECT_EQ(std::system(command.c_str()), 0);
    std::string bytes = readText(archive);
    fs::remove(archive);
    return bytes;
  }

  void writeProgram(const fs::path& path, const std::string& version) {
    writeText(path, "#!/bin/sh\nif [ \"$1\" = --version ]; then echo 'ollama version is " + version +
                        "'; exit 0; fi\nif [ \"$1\" = serve ]; then touch '" + started.string() + "'; fi\n");
    fs::permissions(path, fs::perms::owner_all);
  }

  LocalSetup setup() {
    LocalEndpoints e;
    e.ollama = e.lmStudio = e.registry = e.claudeSite = server.url();
    e.releases = server.url() + "/releases/latest";
    return LocalSetup(CurlHttpClient::shared(), SystemClock::shared(), e, places);
  }

  LocalSetupOptions options(double memory = 16 * kGiB) {
    LocalSetupOptions o;
    o.memoryGB = memory;
    o.freeBytes = [](const fs::path&) { return std::optional<std::uint64_t>(1'000'000'000'000ull); };
    o.machine = "x86_64";
    o.pollMillis = 20;
    o.startLimitMillis = 10'000;
    return o;
  }

  static FakeResponse ndjson(std::vector<std::string> lines) {
    FakeResponse r;
    r.contentType = "application/x-ndjson";
    for (auto& line : lines) r.chunks.push_back(line + "\n");
    r.pause = std::chrono::milliseconds(5);
    return r;
  }

  std::vector<SetupEvent> events;
  SetupProgress record = [this](const SetupEvent& e) { events.push_back(e); };

  std::vector<std::string> texts(SetupEvent::Kind kind) const {
    std::vector<std::string> out;
    for (const auto& e : events)
      if (e.kind == kind) out.push_back(e.text);
    return out;
  }

  std::size_t pulls() const {
    std::size_t n = 0;
    for (const auto& r : server.requests()) n += r.path == "/api/pull";
    return n;
  }

  TempDir home;
  LocalPlaces places;
  FakeServer server;
  fs::path installDir, started;
  std::string tarball, checksums;
  FakeResponse pullStream = ndjson({
      R"({"status":"pulling manifest"})",
      R"({"status":"pulling 1a","digest":"sha256:1a","total":8100000000,"completed":0})",
      R"({"status":"pulling 1a","digest":"sha256:1a","total":8100000000,"completed":4050000000})",
      R"({"status":"pulling 1a","digest":"sha256:1a","total":8100000000,"completed":8100000000})",
      R"({"status":"verifying sha256 digest"})",
      R"({"status":"writing manifest"})",
      R"({"status":"success"})",
  });
};

TEST_F(LocalSetupTest, InstallsStartsChoosesAndPullsWithProgress) {
  auto pulled = setup().setUpOllama(options(), record);
  ASSERT_EQ(pulled, "gemma4:12b") << (events.empty() ? "" : events.back().text);

  const std::vector<std::string> statuses = texts(SetupEvent::Kind::status);
  EXPECT_EQ(statuses.at(0), SetupText::installOffer(Language::english));
  EXPECT_EQ(statuses.at(1), "Downloading Ollama (≈ 0 MB)…");
  EXPECT_EQ(statuses.at(2), "Checking Ollama's checksum…");
  EXPECT_EQ(statuses.at(4), "Starting Ollama…");
  EXPECT_EQ(statuses.at(5), "This Mac has 17.2 GB of memory. A model runs in about 1.2× its size.");
  EXPECT_EQ(events.back().kind, SetupEvent::Kind::notice);
  EXPECT_EQ(events.back().text, "gemma4:12b is downloaded to this Mac — pick it in the model menu.");

  std::vector<double> percents;
  for (const auto& e : events)
    if (e.kind == SetupEvent::Kind::progress) percents.push_back(e.percent);
  EXPECT_EQ(percents, (std::vector<double>{0, 50, 100}));

  EXPECT_NE(readText(installDir / "bin" / "ollama").find("0.13.0"), std::string::npos);
  EXPECT_TRUE(fs::exists(started));
  EXPECT_FALSE(fs::exists(installDir.parent_path() / "ollama.download"));
  for (const auto& r : server.requests()) {
    if (r.path.rfind("/v2/", 0) == 0) {
      EXPECT_EQ(r.header("accept"), "application/vnd.docker.distribution.manifest.v2+json");
    }
    if (r.path == "/api/pull") {
      EXPECT_EQ(Json::parse(r.body)["model"], "gemma4:12b");
    }
  }
}

TEST_F(LocalSetupTest, AChecksumMismatchLeavesTheOldInstallAndAsksToUpdate) {
  writeProgram(installDir / "bin" / "ollama", "0.9.1");
  const std::string before = readText(installDir / "bin" / "ollama");
  checksums = std::string(64, '0') + "  ./ollama-linux-amd64.tgz\n";

  EXPECT_FALSE(setup().setUpOllama(options(), record));
  EXPECT_EQ(texts(SetupEvent::Kind::status).at(0),
            "Ollama 0.9.1 is too old for these models. One click updates it to the newest (0.13.0) and downloads the "
            "model.");
  EXPECT_EQ(events.back().text,
            "The downloaded Ollama doesn't match the checksum Ollama published — nothing was installed.");
  EXPECT_EQ(readText(installDir / "bin" / "ollama"), before);
  EXPECT_FALSE(fs::exists(installDir.parent_path() / "ollama.download"));
  EXPECT_FALSE(fs::exists(installDir.parent_path() / "ollama.new"));
  EXPECT_FALSE(fs::exists(started));
  EXPECT_EQ(pulls(), 0u);
}

TEST_F(LocalSetupTest, AnOldInstallOfOursIsReplaced) {
  writeProgram(installDir / "bin" / "ollama", "0.9.1");
  ASSERT_TRUE(setup().setUpOllama(options(32 * kGiB), record));
  EXPECT_NE(readText(installDir / "bin" / "ollama").find("0.13.0"), std::string::npos);
  EXPECT_EQ(Json::parse(server.requests().back().body)["model"], "gemma4:31b");
}

TEST_F(LocalSetupTest, NothingIsPulledWithoutRoomInMemoryOrOnDisk) {
  writeText(started, "");
  EXPECT_FALSE(setup().setUpOllama(options(8 * kGiB), record));
  EXPECT_EQ(events.back().text, "No local model fits in this machine's memory — nothing was downloaded.");

  LocalSetupOptions small = options();
  small.freeBytes = [](const fs::path&) { return std::optional<std::uint64_t>(5'000'000'000ull); };
  EXPECT_FALSE(setup().setUpOllama(small, record));
  EXPECT_EQ(events.back().text,
            "There isn't enough free disk space for gemma4:12b: it needs about 8.9 GB, 5.0 GB are free — nothing was "
            "downloaded.");
  EXPECT_EQ(pulls(), 0u);
}

TEST_F(LocalSetupTest, AnOldInstallOfAPackageManagerIsReportedNotReplaced) {
  const fs::path bin = home.path() / "usr-bin";
  writeProgram(bin / "ollama", "0.9.1");
  places.searchPath = bin.string() + ":/usr/bin:/bin";
  places.packagedDirs = {bin};
  EXPECT_FALSE(setup().setUpOllama(options(), record));
  EXPECT_EQ(events.back().text, "Ollama 0.9.1 at " + (bin / "ollama").string() +
                                    " is managed elsewhere (a package manager). Update it there "
                                    "(https://ollama.com/download), then set up again.");
  EXPECT_FALSE(fs::exists(installDir));
  for (const auto& r : server.requests()) EXPECT_NE(r.path, "/objects/tarball");
}

TEST_F(LocalSetupTest, PullFailuresInsideTheStream) {
  writeText(started, "");
  struct Case {
    std::vector<std::string> lines;
    int status;
    std::string said;
  };
  const std::string progress = R"({"status":"pulling 1a","digest":"sha256:1a","total":100,"completed":40})";
  const std::vector<Case> cases = {
      {{progress,
        R"({"error":"pull model manifest: 412: The model you are attempting to pull requires a newer version of Ollama. Please download the latest version at: https://ollama.com/download"})"},
       200,
       "Couldn't download gemma4:12b: Ollama 0.13.0 is too old for gemma4:12b. Update it (free, "
       "https://ollama.com/download), then press Download again."},
      {{progress, R"({"error":"max retries exceeded: unexpected EOF"})"},
       200,
       "Couldn't download gemma4:12b: max retries exceeded: unexpected EOF"},
      {{R"({"status":"pulling manifest"})", progress}, 200, "Ollama stopped before the download finished."},
      {{R"({"error":"something"})"}, 500, "Ollama didn't start the download (HTTP 500)"},
  };
  for (const auto& c : cases) {
    pullStream = ndjson(c.lines);
    pullStream.status = c.status;
    events.clear();
    EXPECT_FALSE(setup().pull("gemma4:12b", Language::english, record));
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().kind, SetupEvent::Kind::failure);
    EXPECT_EQ(events.back().text, c.said);
  }
  pullStream = ndjson({progress});
  pullStream.dropConnection = true;
  events.clear();
  EXPECT_FALSE(setup().pull("gemma4:12b", Language::russian, record));
  EXPECT_EQ(events.back().text, "Ollama остановилась, не докачав модель.");
}

TEST_F(LocalSetupTest, OneSetupAtATime) {
  auto held = SetupLock::tryAcquire(places.lockFile());
  ASSERT_TRUE(held);
  EXPECT_FALSE(setup().setUpOllama(options(), record));
  EXPECT_EQ(events.back().text, "Another setup is running; wait until it finishes.");
  EXPECT_FALSE(setup().setUpClaudeCode(Language::english, record));
  EXPECT_EQ(events.back().text, "Another setup is running; wait until it finishes.");
  EXPECT_EQ(server.requestCount(), 0u);
  held.reset();
  EXPECT_TRUE(SetupLock::tryAcquire(places.lockFile()));
}

TEST_F(LocalSetupTest, ClaudeCodeInstallsOnlyFromItsSite) {
  const fs::path ran = home.path() / "installer-ran";
  server.on("GET", "/install.sh", [](const RecordedRequest&) {
    FakeResponse r = FakeResponse::text("", 302);
    r.headers = {{"Location", "/real/install.sh"}};
    return r;
  });
  server.on("GET", "/real/install.sh",
            [&ran](const RecordedRequest&) { return FakeResponse::text("touch '" + ran.string() + "'\n"); });
  EXPECT_TRUE(setup().setUpClaudeCode(Language::english, record));
  EXPECT_EQ(
      events.back().text,
      "Claude Code is installed. Sign in to your Claude account with «Sign in in Terminal» in Settings › Models.");
  EXPECT_TRUE(fs::exists(ran));

  fs::remove(ran);
  events.clear();
  const int port = server.port();
  server.on("GET", "/install.sh", [port](const RecordedRequest&) {
    FakeResponse r = FakeResponse::text("", 302);
    r.headers = {{"Location", "http://localhost:" + std::to_string(port) + "/real/install.sh"}};
    return r;
  });
  EXPECT_FALSE(setup().setUpClaudeCode(Language::english, record));
  EXPECT_EQ(events.back().text, "The installer didn't come from 127.0.0.1 — nothing was installed.");
  EXPECT_FALSE(fs::exists(ran));

  server.on("GET", "/install.sh",
            [](const RecordedRequest&) { return FakeResponse::text("echo broken >&2; exit 3\n"); });
  events.clear();
  EXPECT_FALSE(setup().setUpClaudeCode(Language::russian, record));
  EXPECT_EQ(events.back().text, "Claude Code не установился: broken");
}

TEST(ClaudeSignIn, TheScriptRunsTheFoundProgramThenSaysWhereToGoBack) {
  TempDir dir;
  fs::path script = writeClaudeSignInScript(dir.path(), "/opt/it's/claude");
  EXPECT_EQ(script.filename(), "claude-sign-in.command");
  EXPECT_EQ(readText(script), "#!/bin/sh\n'/opt/it'\\''s/claude' auth login\necho 'Done — go back to orwenna.'\n");
  EXPECT_EQ(*fileMode(script) & 0777, 0700u);
}

}  // namespace
}  // namespace orwenna
