// A thread that runs posted tasks one at a time, in order. One AppLoop owns
// the Workspace (the "main thread" of the conversation): anything that
// happens elsewhere — a finished model call, a web request — posts a task to
// it. Others run the blocking calls (the model, the executor) off it.
//
// Thread-safe. A task posted after `stop` is dropped; `stop` (and the
// destructor) runs what was posted before, then ends the thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace orwenna {

using Task = std::function<void()>;

// Where the Workspace's own code runs.
class TaskPoster {
 public:
  virtual ~TaskPoster() = default;
  virtual void post(Task task) = 0;
};

class AppLoop final : public TaskPoster {
 public:
  AppLoop();
  // Runs what was posted before, then ends the thread.
  ~AppLoop() override;
  AppLoop(const AppLoop&) = delete;
  AppLoop& operator=(const AppLoop&) = delete;

  void post(Task task) override;
  // Runs `task` on the loop and waits for it. REQUIRES: not called on the loop.
  void sync(const Task& task);
  bool onLoopThread() const { return std::this_thread::get_id() == thread_.get_id(); }
  void stop();

 private:
  void run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Task> tasks_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace orwenna
