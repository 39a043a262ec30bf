// Reads the corpora kept under tests/data/.
#pragma once

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "base/json.h"

namespace orwenna::testing {

inline Json loadTestJson(const std::string& name) {
  std::ifstream in(std::string(ORWENNA_TEST_DATA_DIR) + "/" + name);
  if (!in) throw std::runtime_error("missing test data " + name);
  std::stringstream buffer;
  buffer << in.rdbuf();
  auto json = parseJson(buffer.str());
  if (!json) throw std::runtime_error("malformed test data " + name);
  return *json;
}

}  // namespace orwenna::testing
