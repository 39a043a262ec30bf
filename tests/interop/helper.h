// The interop helper: reads one JSON request per line on stdin,
// {"op": NAME, ...arguments}, and writes one JSON answer per line,
// {"ok": RESULT} or {"error": MESSAGE}. Each file here registers its ops.
#pragma once

#include <functional>
#include <map>
#include <stdexcept>
#include <string>

#include "base/bytes.h"
#include "base/json.h"

namespace orwenna::interop {

using Op = std::function<Json(const Json& request)>;
std::map<std::string, Op>& ops();

// The bytes of the request's "hex" argument.
inline Bytes hexArg(const Json& request) {
  auto b = fromHex(requireString(request, "hex"), false);
  if (!b) throw std::runtime_error("bad hex");
  return *b;
}

struct OpRegistrar {
  OpRegistrar(const std::string& name, Op op) { ops()[name] = std::move(op); }
};

}  // namespace orwenna::interop
