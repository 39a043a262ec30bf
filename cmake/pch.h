// Precompiled for every target: the heavy headers nearly every file pulls in.
// Saves several seconds of compile time per file.
#pragma once
#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <boost/multiprecision/cpp_int.hpp>
#include <fmt/format.h>
#include <nlohmann/json.hpp>
