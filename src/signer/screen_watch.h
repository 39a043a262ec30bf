// Ends the signing session when the screen locks or the computer goes to
// sleep, by following logind's signals on the system bus through
// `gdbus monitor --system --dest org.freedesktop.login1`. Where gdbus or a
// system bus is missing the monitor simply ends, and sessions end only by
// their own time.
//
// `onLock` runs on the watch's own thread; it must be thread-safe.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>
#include <thread>

namespace orwenna {

class ScreenWatch {
 public:
  // Starts `monitor` with the arguments above. Throws nothing: a monitor that
  // cannot start leaves the watch idle.
  ScreenWatch(const std::filesystem::path& monitor, std::function<void()> onLock);
  ~ScreenWatch();
  ScreenWatch(const ScreenWatch&) = delete;
  ScreenWatch& operator=(const ScreenWatch&) = delete;

  // gdbus on PATH, or nothing.
  [[nodiscard]] static std::optional<std::filesystem::path> locate();
  // A monitor line saying the screen locked or sleep is coming.
  [[nodiscard]] static bool endsSession(std::string_view line);

 private:
  void follow();

  std::function<void()> onLock_;
  int pid_ = -1;
  int output_ = -1;
  int stop_[2] = {-1, -1};
  std::thread thread_;
};

}  // namespace orwenna
