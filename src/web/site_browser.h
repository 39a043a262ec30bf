// Opening a site in the app's own Chromium profile with our extension loaded,
// so the page gets the site wallet: the profile and the unpacked extension
// live under the app's data folder, and the profile's native-messaging host
// entry points at a launcher that runs orwenna-site-host against the app's
// site socket. Chromium itself is Debian's.
//
// Thread-safe: no state; the files are rewritten on every open.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"

namespace orwenna {

class SiteBrowserError : public Error {
 public:
  using Error::Error;
};

struct SiteBrowser {
  static constexpr const char* kHostName = "app.orwenna.site";
  // Fixed by the public key in the extension's manifest.
  static constexpr const char* kExtensionId = "dpfphknfmnjpkjlnbccjpoeooobndjgg";
  static constexpr const char* kHostProgram = "orwenna-site-host";

  struct Layout {
    std::filesystem::path extension;  // the unpacked extension
    std::filesystem::path profile;    // Chromium's --user-data-dir
  };

  // Writes the extension, the host launcher and the host entry under
  // `dataDir`/browser. Throws FileError.
  static Layout prepare(const std::filesystem::path& dataDir, const std::filesystem::path& hostProgram,
                        const std::filesystem::path& socket);

  // "app.example" → "https://app.example"; an http(s) URL stays as it is.
  // Nothing for anything else.
  [[nodiscard]] static std::optional<std::string> siteURL(std::string_view site);

  static std::vector<std::string> arguments(const Layout& layout, const std::string& url);

  // Debian's Chromium, when installed.
  [[nodiscard]] static std::optional<std::filesystem::path> findChromium();

  // Prepares and starts Chromium at `url` (a running one with the same
  // profile takes the URL). Throws SiteBrowserError with the sentence.
  static void open(const std::filesystem::path& dataDir, const std::filesystem::path& hostProgram,
                   const std::filesystem::path& socket, const std::string& url);
};

}  // namespace orwenna
