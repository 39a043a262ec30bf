// Crash safety of the files a money move relies on: the journal,
// defaults.json and the credentials file, written in a loop and killed with
// SIGKILL at many points. Every file must then read back whole, and nothing
// acknowledged before the kill may be missing.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <set>

#include "base/files.h"
#include "execution/journal.h"
#include "platform/credential_store.h"
#include "platform/defaults.h"
#include "support/kill_harness.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

struct Files {
  std::filesystem::path dir;
  Journal journal() const { return Journal(dir / "journal.jsonl"); }
  Defaults defaults() const { return Defaults(dir / "defaults.json"); }
  FileCredentialStore credentials() const { return FileCredentialStore(dir / "credentials.json"); }
};

TEST(CrashSafety, FilesReadBackWholeAfterAKillAtAnyPoint) {
  testing::TempDir temp;
  const Files files{temp.path()};
  int trial = 0;
  testing::killWhileWriting(
      12,
      [&] {
        auto journal = std::make_shared<Journal>(files.dir / "journal.jsonl");
        auto defaults = std::make_shared<Defaults>(files.dir / "defaults.json");
        auto credentials = std::make_shared<FileCredentialStore>(files.dir / "credentials.json");
        return [=](std::int64_t i) {
          Journal::Entry e;
          e.at = 1'800'000'000'000 + i;
          e.chain = "solana";
          e.id = "move-" + std::to_string(i);
          e.note = std::string(200, 'x');  // lines long enough to be cut if a write were torn
          journal->append(e);
          defaults->setValue("round", Json(i), "the round");
          credentials->save("orwenna", "round", Json{{"round", i}, {"pad", std::string(300, 'y')}});
        };
      },
      [&](std::int64_t acknowledged) {
        Journal::Contents contents = files.journal().read();
        // Only the line being appended at each kill may be torn.
        EXPECT_LE(contents.skippedLines, static_cast<std::size_t>(++trial));
        std::set<std::string> ids;
        for (const auto& e : contents.entries) ids.insert(e.id);
        for (std::int64_t i = 0; i <= acknowledged; ++i) EXPECT_TRUE(ids.count("move-" + std::to_string(i))) << i;

        auto stored = files.defaults().value("round");
        ASSERT_TRUE(stored.has_value()) << "defaults.json reads whole";
        EXPECT_GE(stored->get<std::int64_t>(), acknowledged);
        EXPECT_LE(stored->get<std::int64_t>(), acknowledged + 1);

        auto credential = files.credentials().load("orwenna", "round");
        ASSERT_TRUE(credential.has_value()) << "credentials.json reads whole";
        EXPECT_GE((*credential)["round"].get<std::int64_t>(), acknowledged);
      });
}

}  // namespace
}  // namespace orwenna
