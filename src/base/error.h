// Error: the base of every failure the app shows as it is. Its message is the
// finished sentence for the user, so one catch can show any of them.
#pragma once

#include <stdexcept>
#include <string>

namespace orwenna {

class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace orwenna
