// The app's own files under SIGKILL at many points: the activity log and the
// canvases (through the one writer) and the scheduled tasks. Each must read
// back whole — never set aside as damaged — with every round acknowledged
// before the kill.
#include <gtest/gtest.h>

#include <memory>

#include "app/activity.h"
#include "app/canvases.h"
#include "app/file_writer.h"
#include "app/schedules.h"
#include "platform/defaults.h"
#include "support/kill_harness.h"
#include "support/test_support.h"

namespace orwenna {
namespace {

TEST(AppFilesUnderKill, ActivityCanvasesAndTasksReadBackWhole) {
  testing::TempDir temp;
  const auto dir = temp.path();
  testing::killWhileWriting(
      10,
      [&] {
        auto writer = std::make_shared<CoalescingWriter>(dir, [](const std::string&) { _exit(4); });
        auto tasks = std::make_shared<TaskStore>(Defaults(dir / "defaults.json"));
        // The child starts from what the files hold, as the app does after a restart.
        auto log = std::make_shared<std::vector<Activity>>();
        auto canvases = std::make_shared<std::vector<CanvasSession>>();
        if (auto text = loadStored(dir, "activity.json", 0, [](std::string_view) {}).text)
          *log = ActivityLog::parseFile(*text);
        if (auto text = loadStored(dir, "canvases.json", 0, [](std::string_view) {}).text)
          *canvases = CanvasFile::parseFile(*text);
        return [=](std::int64_t i) {
          Activity a;
          a.id = "activity-" + std::to_string(i);
          a.at = 1'800'000'000'000 + i;
          a.lines = {std::string(300, 'a')};
          log->push_back(a);
          ActivityLog::trim(*log);
          CanvasSession c;
          c.id = "canvas-" + std::to_string(i);
          c.title = std::string(200, 'c');
          canvases->push_back(c);
          writer->save("activity.json", ActivityLog::fileText(*log));
          writer->save("canvases.json", CanvasFile::fileText(*canvases));
          if (!writer->flush()) _exit(5);
          ScheduledTask task;
          task.id = "task-" + std::to_string(i);
          task.steps = {"buy SOL for 5 USDC"};
          task.next = 1'900'000'000'000 + i;
          tasks->add(task);
        };
      },
      [&](std::int64_t acknowledged) {
        auto activity = loadStored(dir, "activity.json", 1, [](std::string_view t) { (void)ActivityLog::parseFile(t); });
        auto canvases = loadStored(dir, "canvases.json", 1, [](std::string_view t) { (void)CanvasFile::parseFile(t); });
        ASSERT_FALSE(activity.notice) << *activity.notice;
        ASSERT_FALSE(canvases.notice) << *canvases.notice;
        ASSERT_TRUE(activity.text && canvases.text);
        const auto entries = ActivityLog::parseFile(*activity.text);
        const auto sessions = CanvasFile::parseFile(*canvases.text);
        const auto stored = TaskStore(Defaults(dir / "defaults.json")).all();
        // Each holds the acknowledged rounds, and at most the one in flight besides.
        EXPECT_GE(static_cast<std::int64_t>(entries.size()), acknowledged + 1);
        EXPECT_LE(static_cast<std::int64_t>(entries.size()), acknowledged + 2);
        EXPECT_EQ(entries.at(static_cast<std::size_t>(acknowledged)).id, "activity-" + std::to_string(acknowledged));
        EXPECT_GE(static_cast<std::int64_t>(sessions.size()), acknowledged + 1);
        EXPECT_GE(static_cast<std::int64_t>(stored.size()), acknowledged + 1);
        EXPECT_LE(static_cast<std::int64_t>(stored.size()), acknowledged + 2);
      });
}

}  // namespace
}  // namespace orwenna
