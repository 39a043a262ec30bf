// The app thread and the worker threads around it. One AppLoop thread owns the
// Workspace (the "main thread" of the conversation); anything that happens
// elsewhere — a finished model call, a lookup, a web request — posts a task
// to it. Workers run the blocking calls (models, lookups, signing) off it.
//
// Both are thread-safe. Tasks posted to an AppLoop run one at a time, in
// order; a task posted after `stop` is dropped.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

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

// Runs each task on its own thread; the destructor waits for all of them.
class Workers {
 public:
  Workers() = default;
  ~Workers() { joinAll(); }
  Workers(const Workers&) = delete;
  Workers& operator=(const Workers&) = delete;

  void run(Task task);
  void joinAll();

 private:
  struct Entry {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::mutex mutex_;
  std::vector<Entry> threads_;
};

}  // namespace orwenna
