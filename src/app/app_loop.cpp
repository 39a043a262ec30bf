#include "app/app_loop.h"

#include <exception>
#include <future>

#include "base/log.h"

namespace orwenna {

AppLoop::AppLoop() { thread_ = std::thread([this] { run(); }); }

AppLoop::~AppLoop() { stop(); }

void AppLoop::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable() && !onLoopThread()) thread_.join();
}

void AppLoop::post(Task task) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    tasks_.push_back(std::move(task));
  }
  wake_.notify_one();
}

void AppLoop::sync(const Task& task) {
  std::promise<void> done;
  auto future = done.get_future();
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    tasks_.push_back([&task, &done] {
      try {
        task();
        done.set_value();
      } catch (...) {
        done.set_exception(std::current_exception());
      }
    });
  }
  wake_.notify_one();
  future.get();
}

void AppLoop::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
    if (tasks_.empty()) return;
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    lock.unlock();
    try {
      task();
    } catch (const std::exception& e) {
      // A task's failure must not end the app thread.
      log::error("app task failed: {}", e.what());
    }
    lock.lock();
  }
}

}  // namespace orwenna
