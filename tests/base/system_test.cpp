// JSON helpers and dates, files, clocks and identifiers.
#include "base/clock.h"
#include "base/files.h"
#include "base/json.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>

namespace orwenna {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

TEST(Json, KeepsKeyOrderAndNamesWhatIsMissing) {
  auto j = parseJson(R"({"z":1,"a":"2.50","m":true})");
  ASSERT_TRUE(j);
  EXPECT_EQ(j->dump(), R"({"z":1,"a":"2.50","m":true})");
  EXPECT_EQ(requireDecimal(*j, "a").toString(), "2.5");
  EXPECT_EQ(requireInt(*j, "z"), 1);
  EXPECT_TRUE(requireBool(*j, "m"));
  try {
    (void)requireString(*j, "px");
    ADD_FAILURE();
  } catch (const JsonShapeError& e) {
    EXPECT_STREQ(e.what(), "Missing field \"px\"");
  }
  EXPECT_THROW((void)requireString(*j, "z"), JsonShapeError);
  EXPECT_THROW((void)requireInt(*j, "a"), JsonShapeError);
  EXPECT_FALSE(parseJson("{\"a\":"));
  EXPECT_FALSE(optionalDecimal(*j, "nope"));
}

TEST(Json, WritesAndReadsIso8601Times) {
  EXPECT_EQ(iso8601(1796541540000), "2026-12-06T07:19:00Z");
  EXPECT_EQ(iso8601(0), "1970-01-01T00:00:00Z");
  EXPECT_EQ(iso8601(951782400999), "2000-02-29T00:00:00Z");
  EXPECT_EQ(parseIso8601("2026-12-06T07:19:00Z"), 1796541540000);
  EXPECT_EQ(parseIso8601("2026-12-06T10:19:00.250+03:00"), 1796541540250);
  EXPECT_EQ(parseIso8601("2000-02-29T00:00:00Z"), 951782400000);
  for (const char* bad : {"2026-12-06", "2026-12-06T07:19:00", "2026-13-01T00:00:00Z", "2025-02-29T00:00:00Z",
                          "2026-12-06T24:00:00Z", "2026-12-06T07:19:00Zjunk", "2026-12-06T07:19:00+0300"}) {
    EXPECT_FALSE(parseIso8601(bad)) << bad;
  }
}

TEST(Files, WritesWholeFilesAtomicallyAndAppendsDurably) {
  TempDir tmp;
  fs::path file = tmp.path() / "defaults.json";
  writeFileAtomically(file, "{\"a\":1}");
  EXPECT_EQ(readFile(file), "{\"a\":1}");
  EXPECT_EQ(fileMode(file), 0600u);
  writeFileAtomically(file, "{\"b\":2}", 0644);
  EXPECT_EQ(readFile(file), "{\"b\":2}");
  EXPECT_EQ(fileMode(file), 0644u);
  EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()), 1);  // no temporaries left
  EXPECT_FALSE(readFile(tmp.path() / "absent.json"));
  EXPECT_THROW(writeFileAtomically(tmp.path() / "missing" / "x.json", "x"), FileError);

  fs::path folder = tmp.path() / "a" / "b";
  ensureDirectory(folder);
  EXPECT_EQ(fileMode(folder), 0700u);
  appendDurably(folder / "journal.jsonl", "{\"n\":1}\n");
  appendDurably(folder / "journal.jsonl", "{\"n\":2}\n");
  EXPECT_EQ(readFile(folder / "journal.jsonl"), "{\"n\":1}\n{\"n\":2}\n");
}

TEST(Files, AFailedWriteLeavesTheOldContent) {
  if (::geteuid() == 0) {
    // root ignores folder permissions; make the rename fail instead by replacing a folder.
    TempDir tmp;
    fs::path target = tmp.path() / "journal";
    fs::create_directory(target);
    fs::create_directory(target / "keep");
    EXPECT_THROW(writeFileAtomically(target, "new"), FileError);
    EXPECT_TRUE(fs::is_directory(target / "keep"));
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()), 1);
    return;
  }
  TempDir tmp;
  fs::path file = tmp.path() / "alerts.json";
  writeFileAtomically(file, "old");
  fs::permissions(tmp.path(), fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_THROW(writeFileAtomically(file, "new"), FileError);
  fs::permissions(tmp.path(), fs::perms::owner_all);
  EXPECT_EQ(readFile(file), "old");
}

TEST(Files, AppPathsFollowOrwennaHome) {
  const char* old = std::getenv("ORWENNA_HOME");
  std::string saved = old ? old : "";
  ::setenv("ORWENNA_HOME", "/tmp/orw-home", 1);
  AppPaths p = AppPaths::fromEnvironment();
  EXPECT_EQ(p.dataDir, fs::path("/tmp/orw-home/data"));
  EXPECT_EQ(p.configDir, fs::path("/tmp/orw-home/config"));
  ::unsetenv("ORWENNA_HOME");
  ::setenv("XDG_CONFIG_HOME", "/tmp/xdg-config", 1);
  EXPECT_EQ(AppPaths::fromEnvironment().configDir, fs::path("/tmp/xdg-config/orwenna"));
  ::unsetenv("XDG_CONFIG_HOME");
  if (old) ::setenv("ORWENNA_HOME", saved.c_str(), 1);
}

TEST(Uuid, IsVersionFourInUpperCase) {
  testing::ScriptedRandom fixed({0});  // 0, 1, 2, …
  EXPECT_EQ(makeUuid(fixed), "00010203-0405-4607-8809-0A0B0C0D0E0F");
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    std::string u = makeUuid(SecureRandom::shared());
    EXPECT_TRUE(isUuid(u));
    EXPECT_EQ(u[14], '4');
    seen.insert(u);
  }
  EXPECT_EQ(seen.size(), 100u);
  EXPECT_FALSE(isUuid("00010203-0405-4607-8809-0A0B0C0D0E0"));
  EXPECT_FALSE(isUuid("00010203x0405-4607-8809-0A0B0C0D0E0F"));
}

}  // namespace
}  // namespace orwenna
