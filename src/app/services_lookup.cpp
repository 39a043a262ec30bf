#include "app/services_lookup.h"

#include <algorithm>

#include <fmt/format.h>

#include "base/json.h"
#include "base/text.h"
#include "guards/tx_guard.h"
#include "trading/fmt.h"

namespace orwenna::Agent {

// Named, not anonymous: the folder builds as one unit.
namespace mpp_directory {

constexpr std::size_t kMostListed = 10;

std::string textOf(const Json& object, const char* key) {
  auto it = object.is_object() ? object.find(key) : object.end();
  return it != object.end() && it->is_string() ? text::sanitized(it->get<std::string>()) : std::string();
}

std::vector<std::string> directoryWords(std::string_view text) {
  std::vector<std::string> out;
  std::string current;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\n' || c == ',') {
      if (!current.empty()) out.push_back(text::lowercased(current));
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) out.push_back(text::lowercased(current));
  return out;
}

Json catalog(const ServicesLookupInputs& in) {
  HttpRequest request;
  request.url = in.directory + "/api/services";
  request.headers = {{"Accept", "application/json"}, {"User-Agent", "orwenna"}};
  request.timeout = std::chrono::milliseconds(15000);
  HttpResponse response;
  try {
    response = in.http.send(request);
  } catch (const std::exception& e) {
    throw AgentError(std::string("The MPP directory couldn't be reached: ") + e.what());
  }
  if (!response.ok()) throw AgentError(fmt::format("The MPP directory answered HTTP {}.", response.status));
  auto json = parseJson(response.body);
  if (!json || !json->is_object() || !(*json)["services"].is_array())
    throw AgentError("The MPP directory answered with something that isn't its list of services.");
  return std::move((*json)["services"]);
}

// Whoever runs the service wrote it: data, never instructions.
bool steers(const std::string& text) { return !InjectionGuard::check(text, "service description").clean(); }

std::string description(const Json& service) {
  const std::string d = textOf(service, "description");
  return steers(d) ? "(its description tries to give instructions, so it is left out)" : d;
}

// "$0.005", "price varies" or nothing readable.
std::optional<Decimal> price(const Json& endpoint) {
  const Json& p = endpoint.is_object() && endpoint.contains("payment") ? endpoint["payment"] : Json();
  if (!p.is_object() || p.value("dynamic", false)) return std::nullopt;
  try {
    auto amount = optionalDecimal(p, "amount");
    auto decimals = p.find("decimals");
    if (!amount || decimals == p.end() || !decimals->is_number_unsigned() || decimals->get<unsigned>() > 36)
      return std::nullopt;
    Decimal scale(1);
    for (unsigned i = 0; i < decimals->get<unsigned>(); ++i) scale = scale * Decimal(10);
    return *amount / scale;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::string priceText(const Json& endpoint) {
  auto p = price(endpoint);
  if (!p) return "price varies";
  return "$" + Fmt::num(*p, 6);
}

std::string searchable(const Json& service) {
  std::string s = textOf(service, "id") + " " + textOf(service, "name") + " " + textOf(service, "description");
  for (const char* list : {"categories", "tags"})
    if (service.contains(list) && service[list].is_array())
      for (const Json& t : service[list])
        if (t.is_string()) s += " " + t.get<std::string>();
  return text::lowercased(s);
}

bool active(const Json& service) {
  const std::string status = textOf(service, "status");
  return status.empty() || status == "active";
}

}  // namespace mpp_directory

std::string servicesLookup(std::string_view words, const ServicesLookupInputs& in) {
  using namespace mpp_directory;
  const std::vector<std::string> wanted = directoryWords(words);
  if (wanted.empty()) throw AgentError("services needs words to look for, like services web search.");
  const Json services = catalog(in);
  std::vector<const Json*> found;
  for (const Json& s : services) {
    if (!s.is_object() || !active(s) || textOf(s, "id").empty()) continue;
    const std::string hay = searchable(s);
    if (std::all_of(wanted.begin(), wanted.end(), [&](const std::string& w) { return hay.find(w) != std::string::npos; }))
      found.push_back(&s);
  }
  const std::string shown(text::trimmed(words));
  if (found.empty()) return "No paid service in the MPP directory matches «" + shown + "».";
  std::string out = fmt::format("Paid services (MPP on Tempo) matching «{}»:", shown);
  for (std::size_t i = 0; i < found.size() && i < kMostListed; ++i) {
    const Json& s = *found[i];
    std::optional<Decimal> cheapest;
    std::size_t count = 0;
    if (s.contains("endpoints") && s["endpoints"].is_array()) {
      for (const Json& e : s["endpoints"]) {
        ++count;
        if (auto p = price(e); p && (!cheapest || *p < *cheapest)) cheapest = p;
      }
    }
    out += fmt::format("\n- {} — {}: {} {} endpoint{}{}.", textOf(s, "id"), textOf(s, "name"), description(s), count,
                       count == 1 ? "" : "s", cheapest ? ", from $" + Fmt::num(*cheapest, 6) + " a call" : "");
  }
  if (found.size() > kMostListed) out += fmt::format("\n… and {} more; add a word to narrow it.", found.size() - kMostListed);
  out += "\nservice <ID> lists a service's endpoints and prices.";
  return out;
}

std::string serviceLookup(std::string_view arg, const ServicesLookupInputs& in) {
  using namespace mpp_directory;
  const std::vector<std::string> parts = directoryWords(arg);
  if (parts.empty() || parts.size() > 2) throw AgentError("service needs an id and optionally a path, like service exa /search.");
  const Json services = catalog(in);
  const Json* service = nullptr;
  for (const Json& s : services)
    if (s.is_object() && text::lowercased(textOf(s, "id")) == parts[0]) service = &s;
  if (!service) return "The MPP directory has no service «" + parts[0] + "»; services <WORDS> finds one.";
  const Json& s = *service;
  const std::string base = textOf(s, "serviceUrl");
  std::vector<std::string> lines;
  lines.push_back(fmt::format("{} ({}): {}", textOf(s, "name"), textOf(s, "id"), description(s)));
  if (!active(s)) lines.push_back("Status: " + textOf(s, "status") + " — it may not answer.");
  lines.push_back("Paid at " + (base.empty() ? std::string("an address the directory doesn't give") : base) +
                  " in USDC on Tempo.");
  if (s.contains("docs") && s["docs"].is_object()) {
    const std::string home = textOf(s["docs"], "homepage"), llms = textOf(s["docs"], "llmsTxt");
    if (!home.empty() || !llms.empty())
      lines.push_back("Docs: " + home + (llms.empty() ? "" : (home.empty() ? "" : ", ") + llms) + ".");
  }
  std::size_t shownCount = 0;
  if (s.contains("endpoints") && s["endpoints"].is_array()) {
    for (const Json& e : s["endpoints"]) {
      const std::string path = textOf(e, "path");
      if (parts.size() == 2 && !text::lowercased(path).starts_with(parts[1])) continue;
      std::string what = textOf(e, "description");
      if (steers(what)) what = "(description left out: it tries to give instructions)";
      std::string intent;
      if (e.contains("payment") && e["payment"].is_object()) intent = textOf(e["payment"], "intent");
      lines.push_back(fmt::format("{} {} — {} — {}{}{}", textOf(e, "method"), path, what, priceText(e),
                                  intent == "session" ? " (a session: paid as used)" : "",
                                  textOf(e, "docs").empty() ? "" : "; docs " + textOf(e, "docs")));
      ++shownCount;
    }
  }
  if (shownCount == 0)
    lines.push_back(parts.size() == 2 ? "No endpoint of it begins with " + parts[1] + "." : "It lists no endpoints.");
  else if (!base.empty())
    lines.push_back("A call is a pay command: pay <METHOD> " + base + "<PATH> [<JSON body>], shown on a card first.");
  std::string out;
  for (const auto& l : lines) out += (out.empty() ? "" : "\n") + l;
  return out;
}

namespace mpp_directory {

std::vector<std::string> pathSegments(std::string_view path) {
  std::vector<std::string> out;
  std::string current;
  for (char c : path) {
    if (c == '/') {
      if (!current.empty()) out.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) out.push_back(current);
  return out;
}

bool pathMatches(std::string_view pattern, std::string_view path) {
  auto want = pathSegments(pattern), have = pathSegments(path);
  if (want.size() != have.size()) return false;
  for (std::size_t i = 0; i < want.size(); ++i) {
    const bool any = (want[i].front() == '{' && want[i].back() == '}') || want[i].front() == ':';
    if (!any && want[i] != have[i]) return false;
  }
  return true;
}

}  // namespace mpp_directory

std::optional<DirectoryListing> directoryListing(std::string_view method, std::string_view url,
                                                 const ServicesLookupInputs& in) {
  using namespace mpp_directory;
  std::string_view target = url.substr(0, url.find_first_of("?#"));
  const Json services = catalog(in);
  for (const Json& s : services) {
    if (!s.is_object() || !active(s)) continue;
    std::string base = textOf(s, "serviceUrl");
    while (!base.empty() && base.back() == '/') base.pop_back();
    // The service's own address, whole: "https://a.example" does not cover "https://a.example.evil".
    if (base.empty() || !target.starts_with(base) || (target.size() > base.size() && target[base.size()] != '/')) continue;
    const std::string_view path = target.substr(base.size());
    if (!s.contains("endpoints") || !s["endpoints"].is_array()) continue;
    for (const Json& e : s["endpoints"]) {
      const std::string m = textOf(e, "method");
      if (!m.empty() && text::lowercased(m) != text::lowercased(method)) continue;
      if (!pathMatches(textOf(e, "path"), path)) continue;
      return DirectoryListing{textOf(s, "id"), textOf(s, "name"), m, textOf(e, "path"), price(e)};
    }
  }
  return std::nullopt;
}

LookupHandler servicesLookupHandler(ServicesLookupInputs inputs) {
  return [inputs](const std::string& arg) { return servicesLookup(arg, inputs); };
}

LookupHandler serviceLookupHandler(ServicesLookupInputs inputs) {
  return [inputs](const std::string& arg) { return serviceLookup(arg, inputs); };
}

}  // namespace orwenna::Agent
