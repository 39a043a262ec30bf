#include <iostream>
#include <string>

#include "helper.h"

namespace orwenna::interop {

std::map<std::string, Op>& ops() {
  static std::map<std::string, Op> all;
  return all;
}

}  // namespace orwenna::interop

int main() {
  using orwenna::Json;
  std::string line;
  while (std::getline(std::cin, line)) {
    Json answer = Json::object();
    try {
      auto request = orwenna::parseJson(line);
      if (!request) throw std::runtime_error("request is not JSON");
      std::string name = orwenna::requireString(*request, "op");
      auto it = orwenna::interop::ops().find(name);
      if (it == orwenna::interop::ops().end()) throw std::runtime_error("unknown op " + name);
      answer["ok"] = it->second(*request);
    } catch (const std::exception& e) {
      answer["error"] = e.what();
    }
    std::cout << answer.dump() << '\n';
  }
  return 0;
}
