// The diagnostic log: one file in the data folder, for the developer reading a
// problem report. Never write secrets (keys, phrases, tokens, passwords) to it.
// Until `openLog` is called, messages go nowhere. Thread-safe.
#pragma once

#include <filesystem>
#include <memory>
#include <string_view>

#include <spdlog/spdlog.h>

namespace orwenna::log {

// Opens (appending) `folder`/orwenna.log, creating the folder when missing.
void openLog(const std::filesystem::path& folder);
std::shared_ptr<spdlog::logger> logger();

template <typename... Args>
void info(spdlog::format_string_t<Args...> format, Args&&... args) {
  logger()->info(format, std::forward<Args>(args)...);
}
template <typename... Args>
void warn(spdlog::format_string_t<Args...> format, Args&&... args) {
  logger()->warn(format, std::forward<Args>(args)...);
}
template <typename... Args>
void error(spdlog::format_string_t<Args...> format, Args&&... args) {
  logger()->error(format, std::forward<Args>(args)...);
}

}  // namespace orwenna::log
