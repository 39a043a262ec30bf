#include "execution/chain_send.h"

namespace orwenna {

std::string nothingSigned(std::string_view text) {
  std::string out(text);
  if (out.find(kNothingWasSigned) != std::string::npos) return out;
  while (!out.empty() && out.back() == ' ') out.pop_back();
  if (!out.empty() && out.back() != '.' && out.back() != '!' && out.back() != '?') out += '.';
  if (!out.empty()) out += ' ';
  out += kNothingWasSigned;
  return out;
}

std::string nothingSigned(const std::vector<std::string>& problems) {
  std::string joined;
  for (const auto& p : problems) {
    if (!joined.empty()) joined += ' ';
    joined += p;
    if (!p.empty() && p.back() != '.') joined += '.';
  }
  return nothingSigned(joined);
}

}  // namespace orwenna
