// Small helpers every test program shares: published vectors from tests/data/
// and the message of an expected failure.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>

#include "base/files.h"
#include "base/json.h"

namespace orwenna::testing {

// The parsed JSON of tests/data/<name>; throws when the file is missing or is
// not JSON, so a lost vector file fails loudly instead of testing nothing.
inline Json loadTestJson(const std::string& name) {
  auto text = readFile(std::string(ORWENNA_TEST_DATA_DIR) + "/" + name);
  if (!text) throw std::runtime_error("missing test data " + name);
  auto json = parseJson(*text);
  if (!json) throw std::runtime_error("test data " + name + " is not JSON");
  return *json;
}

// The message of the exception `f` throws, or "" when it returns normally.
inline std::string errorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

// Fails the test unless `f` throws with exactly this message.
inline void expectFailure(const std::function<void()>& f, const std::string& message) {
  EXPECT_EQ(errorOf(f), message);
}

}  // namespace orwenna::testing
