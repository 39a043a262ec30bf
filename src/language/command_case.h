// ORW_CASE(Name, fields…): the members every case of a command variant has —
// equality, its case name `kCase`, and `each(f)` calling f("field", field) in
// order for the JSON writer.
#pragma once

#include <string_view>

#define ORW_CASE(Name, ...)                                   \
  friend bool operator==(const Name&, const Name&) = default; \
  static constexpr std::string_view kCase = #Name;            \
  template <class F> void each([[maybe_unused]] F&& f) const { __VA_ARGS__; }
