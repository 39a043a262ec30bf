// The few chat words the conversation loop reads itself: a bare yes, a bare
// cancellation, and words that change an amount (so "yes, but 200" is not a
// plain yes). English, Russian and some Spanish. Pure functions; thread-safe.
#pragma once

#include <string_view>

namespace orwenna::ChatWords {

// A plain approval: a yes word, only filler words besides, no negation and no
// question mark.
[[nodiscard]] bool isYes(std::string_view message);

// A plain cancellation: a cancel word with only filler besides (or one of the
// whole-message cancel phrases), not negated ("don't cancel"), no question mark.
[[nodiscard]] bool isCancel(std::string_view message);

// True when the message carries a number or a word that changes an amount.
[[nodiscard]] bool changeWords(std::string_view message);

}  // namespace orwenna::ChatWords
