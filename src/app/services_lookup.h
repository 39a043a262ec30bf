// The agent's `services <WORDS>` and `service <ID> [<PATH>]` lookups: the
// directory of paid APIs that take MPP payments on Tempo (GET /api/services
// under the directory's root), read-only. Prices are exact: an endpoint's
// amount in the currency's smallest units over 10^decimals.
//
// The directory's texts are written by the services themselves; a description
// that tries to steer is left out and flagged. Thread-safe when the client is.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/agent.h"
#include "base/decimal.h"
#include "base/http.h"

namespace orwenna::Agent {

struct ServicesLookupInputs {
  HttpClient& http;
  std::string directory = "https://mpp.dev";  // ORWENNA_MPP_DIRECTORY_API
};

// The active services whose id, name, description, categories or tags hold
// every word.
std::string servicesLookup(std::string_view words, const ServicesLookupInputs& inputs);
// One service's endpoints with their prices; a path narrows them to those
// whose path begins with it.
std::string serviceLookup(std::string_view arg, const ServicesLookupInputs& inputs);

// Where a paid call falls in the directory: the active service whose address
// begins `url` and its endpoint for `method` and the path (a "{name}" or
// ":name" segment stands for any one segment), with its exact price when the
// price is fixed.
struct DirectoryListing {
  std::string serviceId;
  std::string name;
  std::string method;
  std::string path;
  std::optional<Decimal> price;  // dollars; none when it varies
};
// Nothing when no listed service has that endpoint. Throws AgentError when
// the directory can't be read.
std::optional<DirectoryListing> directoryListing(std::string_view method, std::string_view url,
                                                 const ServicesLookupInputs& inputs);

LookupHandler servicesLookupHandler(ServicesLookupInputs inputs);
LookupHandler serviceLookupHandler(ServicesLookupInputs inputs);

}  // namespace orwenna::Agent
