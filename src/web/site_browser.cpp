#include "web/site_browser.h"

#include "base/files.h"
#include "base/json.h"
#include "platform/process.h"
#include "web/web_assets.h"

namespace orwenna {

namespace {

// Single quotes for sh, with any quote inside closed and reopened.
std::string shellQuoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

}  // namespace

SiteBrowser::Layout SiteBrowser::prepare(const std::filesystem::path& dataDir, const std::filesystem::path& hostProgram,
                                         const std::filesystem::path& socket) {
  const auto root = dataDir / "browser";
  Layout layout{root / "extension", root / "profile"};
  std::filesystem::create_directories(layout.extension);
  std::filesystem::create_directories(layout.profile / "NativeMessagingHosts");
  for (const auto& asset : webAssets()) {
    std::string_view path = asset.path;
    if (path == "/wallet.js") {
      writeFileAtomically(layout.extension / "wallet.js", asset.body, 0644);
    } else if (path.starts_with("/extension/")) {
      writeFileAtomically(layout.extension / std::string(path.substr(11)), asset.body, 0644);
    }
  }
  // Chromium starts the host with no arguments of ours: the launcher adds them.
  const auto launcher = root / "site-host";
  writeFileAtomically(launcher,
                      "#!/bin/sh\nexec " + shellQuoted(hostProgram.string()) + " --socket " +
                          shellQuoted(socket.string()) + " \"$@\"\n",
                      0700);
  Json manifest = {{"name", kHostName},
                   {"description", "orwenna's site wallet"},
                   {"path", launcher.string()},
                   {"type", "stdio"},
                   {"allowed_origins", Json::array({std::string("chrome-extension://") + kExtensionId + "/"})}};
  writeFileAtomically(layout.profile / "NativeMessagingHosts" / (std::string(kHostName) + ".json"), manifest.dump(2),
                      0644);
  return layout;
}

std::optional<std::string> SiteBrowser::siteURL(std::string_view site) {
  std::string url(site);
  if (url.starts_with("http://") || url.starts_with("https://")) return url;
  if (url.empty() || url.find("://") != std::string::npos || url.find_first_of(" \t\n") != std::string::npos) {
    return std::nullopt;
  }
  return "https://" + url;
}

std::vector<std::string> SiteBrowser::arguments(const Layout& layout, const std::string& url) {
  return {"--user-data-dir=" + layout.profile.string(),
          "--load-extension=" + layout.extension.string(),
          "--disable-extensions-except=" + layout.extension.string(),
          "--no-first-run",
          "--no-default-browser-check",
          url};
}

std::optional<std::filesystem::path> SiteBrowser::findChromium() {
  for (const char* name : {"chromium", "chromium-browser"}) {
    if (auto found = findProgram(name)) return found;
  }
  return std::nullopt;
}

void SiteBrowser::open(const std::filesystem::path& dataDir, const std::filesystem::path& hostProgram,
                       const std::filesystem::path& socket, const std::string& url) {
  auto chromium = findChromium();
  if (!chromium) throw SiteBrowserError("Chromium isn't installed, so orwenna can't open sites (apt install chromium).");
  if (!std::filesystem::exists(hostProgram)) {
    throw SiteBrowserError(std::string(kHostProgram) + " isn't beside orwenna, so the site would get no wallet.");
  }
  try {
    Layout layout = prepare(dataDir, hostProgram, socket);
    spawnDetached(*chromium, arguments(layout, url));
  } catch (const Error& e) {
    throw SiteBrowserError(std::string("The browser didn't start: ") + e.what());
  }
}

}  // namespace orwenna
