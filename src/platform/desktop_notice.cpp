#include "platform/desktop_notice.h"

#include "base/log.h"
#include "platform/process.h"

namespace orwenna {

bool notifyDesktop(const std::string& title, const std::string& text) {
  static const std::optional<std::filesystem::path> program = findProgram("notify-send");
  if (!program) return false;
  try {
    // "--" so a title starting with a dash is never read as an option.
    spawnDetached(*program, {"--app-name=orwenna", "--", title, text});
    return true;
  } catch (const std::exception& e) {
    log::warn("notify-send failed: {}", e.what());
    return false;
  }
}

}  // namespace orwenna
