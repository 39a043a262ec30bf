// ExecutionError: a money move that could not be carried out as asked. Its
// message is the finished sentence the chat shows, saying where the money is
// when anything was sent.
#pragma once

#include <string>

#include "base/error.h"

namespace orwenna {

class ExecutionError : public Error {
 public:
  explicit ExecutionError(const std::string& message) : Error(message) {}
};

}  // namespace orwenna
