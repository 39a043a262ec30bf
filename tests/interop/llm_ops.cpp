#include "helper.h"
#include "llm/clients.h"
#include "llm/llm.h"
#include "llm/sign_in.h"

namespace orwenna::interop {

namespace {

OpRegistrar pkce("pkce", [](const Json& request) {
  return Json(PKCE::fromVerifier(requireString(request, "verifier")).challenge);
});

OpRegistrar cacheKey("promptCacheKey", [](const Json& request) {
  return Json(promptCacheKey(requireString(request, "instructions")));
});

OpRegistrar account("chatgptAccount", [](const Json& request) {
  auto id = chatGPTAccountID(requireString(request, "jwt"));
  return id ? Json(*id) : Json(nullptr);
});

}  // namespace

}  // namespace orwenna::interop
