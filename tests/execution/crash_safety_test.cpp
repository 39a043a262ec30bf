// Crash safety of the files a money move relies on: a child process writes the
// journal, defaults.json and the credentials file in a loop, telling the
// parent after each write returns; the parent kills it with SIGKILL at many
// points. Every file must then read back whole, and nothing acknowledged
// before the kill may be missing.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <set>

#include "base/files.h"
#include "execution/journal.h"
#include "platform/credential_store.h"
#include "platform/defaults.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

struct Files {
  std::filesystem::path dir;
  Journal journal() const { return Journal(dir / "journal.jsonl"); }
  Defaults defaults() const { return Defaults(dir / "defaults.json"); }
  FileCredentialStore credentials() const { return FileCredentialStore(dir / "credentials.json"); }
};

// The child: each round writes all three files, then reports the round.
[[noreturn]] void writeForever(const Files& files, int report, std::int64_t from) {
  Journal journal = files.journal();
  Defaults defaults = files.defaults();
  FileCredentialStore credentials = files.credentials();
  for (std::int64_t i = from;; ++i) {
    Journal::Entry e;
    e.at = 1'800'000'000'000 + i;
    e.chain = "solana";
    e.id = "move-" + std::to_string(i);
    e.note = std::string(200, 'x');  // lines long enough to be cut if a write were torn
    journal.append(e);
    defaults.setValue("round", Json(i), "the round");
    credentials.save("orwenna", "round", Json{{"round", i}, {"pad", std::string(300, 'y')}});
    if (::write(report, &i, sizeof i) != static_cast<ssize_t>(sizeof i)) _exit(3);
  }
}

TEST(CrashSafety, FilesReadBackWholeAfterAKillAtAnyPoint) {
  testing::TempDir temp;
  const Files files{temp.path()};
  std::int64_t acknowledged = -1;
  for (int trial = 0; trial < 12; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(pipeFds[0]);
      writeForever(files, pipeFds[1], acknowledged + 1);
    }
    ::close(pipeFds[1]);
    // Let it complete a varying number of rounds, then kill it mid-flight.
    const int rounds = 1 + (trial * 7) % 23;
    std::int64_t round = -1;
    for (int r = 0; r < rounds; ++r) {
      ASSERT_EQ(::read(pipeFds[0], &round, sizeof round), static_cast<ssize_t>(sizeof round));
      acknowledged = round;
    }
    ::kill(child, SIGKILL);
    // Rounds finished before the kill landed still count.
    while (::read(pipeFds[0], &round, sizeof round) == static_cast<ssize_t>(sizeof round)) acknowledged = round;
    ::close(pipeFds[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the writer stopped by itself";

    Journal::Contents contents = files.journal().read();
    // Only the line being appended at the kill may be torn.
    EXPECT_LE(contents.skippedLines, static_cast<std::size_t>(trial + 1));
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
  }
}

}  // namespace
}  // namespace orwenna
