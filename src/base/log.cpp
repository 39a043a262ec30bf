#include "base/log.h"

#include <memory>
#include <mutex>

#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/null_sink.h>

#include "base/files.h"

namespace orwenna::log {

namespace {

std::mutex gMutex;
std::shared_ptr<spdlog::logger> gLogger = std::make_shared<spdlog::logger>(
    "orwenna", std::make_shared<spdlog::sinks::null_sink_mt>());

}  // namespace

void openLog(const std::filesystem::path& folder) {
  ensureDirectory(folder);
  auto sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>((folder / "orwenna.log").string(), false);
  auto logger = std::make_shared<spdlog::logger>("orwenna", sink);
  logger->set_pattern("%Y-%m-%dT%H:%M:%S.%eZ %l %v", spdlog::pattern_time_type::utc);
  logger->flush_on(spdlog::level::info);
  std::lock_guard lock(gMutex);
  gLogger = std::move(logger);
}

std::shared_ptr<spdlog::logger> logger() {
  std::lock_guard lock(gMutex);
  return gLogger;
}

}  // namespace orwenna::log
