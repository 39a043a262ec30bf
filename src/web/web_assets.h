// The page's files (web/*.html, *.css, *.js) and the browser extension's
// (web/extension/), built into the binary.
#pragma once

#include <vector>

#include "web/web_server.h"

namespace orwenna {

std::vector<WebAsset> webAssets();

}  // namespace orwenna
