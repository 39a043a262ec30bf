// Kills a writer at many points: a forked child writes round after round and
// tells the parent after each round returns; the parent kills it with SIGKILL
// after a varying number of rounds and then checks the files. Rounds the child
// finished before the kill landed count as acknowledged; the next trial goes
// on from the round after them.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

namespace orwenna::testing {

// `startWriter` runs in the child and returns the round function (so the
// files are opened there). `check(acknowledged)` runs in the parent after
// each kill; -1 means no round was acknowledged yet.
inline void killWhileWriting(int trials,
                             const std::function<std::function<void(std::int64_t round)>()>& startWriter,
                             const std::function<void(std::int64_t acknowledged)>& check) {
  std::int64_t acknowledged = -1;
  for (int trial = 0; trial < trials; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(report[0]);
      auto writeRound = startWriter();
      for (std::int64_t i = acknowledged + 1;; ++i) {
        writeRound(i);
        if (::write(report[1], &i, sizeof i) != static_cast<ssize_t>(sizeof i)) _exit(3);
      }
    }
    ::close(report[1]);
    std::int64_t round = -1;
    for (int r = 0; r < 1 + (trial * 7) % 23; ++r) {
      ASSERT_EQ(::read(report[0], &round, sizeof round), static_cast<ssize_t>(sizeof round));
      acknowledged = round;
    }
    ::kill(child, SIGKILL);
    while (::read(report[0], &round, sizeof round) == static_cast<ssize_t>(sizeof round)) acknowledged = round;
    ::close(report[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the writer stopped by itself";
    check(acknowledged);
  }
}

}  // namespace orwenna::testing
