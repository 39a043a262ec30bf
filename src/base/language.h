// The language the chat replies in.
#pragma once

#include <string_view>

namespace orwenna {

enum class Language { english, russian, spanish };

// The name the model's brief uses: "English", "Russian" or "Spanish".
constexpr std::string_view languageName(Language language) {
  switch (language) {
    case Language::russian: return "Russian";
    case Language::spanish: return "Spanish";
    case Language::english: break;
  }
  return "English";
}

}  // namespace orwenna
