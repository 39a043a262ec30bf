#include "base/http.h"

#include <memory>
#include <mutex>

#include <curl/curl.h>
#include <fmt/format.h>

#include "base/text.h"

namespace orwenna {

namespace {

void globalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// "https://api.example.com/info" → "api.example.com": what a failure names.
std::string hostOf(const std::string& url) {
  std::size_t start = url.find("://");
  start = start == std::string::npos ? 0 : start + 3;
  std::size_t end = url.find_first_of("/?#", start);
  return url.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::int64_t steadyMillis() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

struct Transfer {
  CURL* handle = nullptr;
  HttpResponse response;
  const HttpRequest* request = nullptr;
  const LineHandler* onLine = nullptr;  // null for a whole-body request
  const ChunkHandler* onChunk = nullptr;  // set for a download
  std::string pending;                  // a streamed line not yet complete
  bool stoppedByHandler = false;
  bool tooLarge = false;
  bool idleTimedOut = false;
  bool cancelled = false;
  std::size_t received = 0;
  std::int64_t lastActivity = 0;

  bool streamed() const { return onLine != nullptr || onChunk != nullptr; }

  bool successful() {
    long code = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &code);
    return code >= 200 && code < 300;
  }

  bool deliverLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!(*onLine)(line)) {
      stoppedByHandler = true;
      return false;
    }
    return true;
  }
};

size_t onHeader(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  std::string_view line(data, size * count);
  if (line.rfind("HTTP/", 0) == 0) {
    t->response.headers.clear();  // a new response (after 100 Continue, say)
  } else if (auto colon = line.find(':'); colon != std::string_view::npos) {
    std::string name = text::asciiLowercased(line.substr(0, colon));
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == '\r' || value.back() == '\n' || value.back() == ' ')) value.remove_suffix(1);
    t->response.headers.emplace_back(std::move(name), std::string(value));
  }
  return size * count;
}

size_t onBody(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  std::size_t n = size * count;
  t->lastActivity = steadyMillis();
  bool pieces = t->onChunk && t->successful();
  t->received += n;
  if (!pieces && t->received > CurlHttpClient::kMaxBodyBytes) {
    t->tooLarge = true;
    return 0;
  }
  if (pieces) {
    if ((*t->onChunk)(std::string_view(data, n))) return n;
    t->stoppedByHandler = true;
    return 0;
  }
  if (!t->onLine || !t->successful()) {
    t->response.body.append(data, n);
    return n;
  }
  std::string_view chunk(data, n);
  while (!chunk.empty()) {
    std::size_t nl = chunk.find('\n');
    if (nl == std::string_view::npos) {
      t->pending.append(chunk);
      break;
    }
    t->pending.append(chunk.substr(0, nl));
    chunk.remove_prefix(nl + 1);
    std::string line = std::move(t->pending);
    t->pending.clear();
    if (!t->deliverLine(line)) return 0;
  }
  return n;
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* t = static_cast<Transfer*>(user);
  if (t->request->cancellation && t->request->cancellation->isCancelled()) {
    t->cancelled = true;
    return 1;
  }
  if (t->streamed() && steadyMillis() - t->lastActivity > t->request->timeout.count()) {
    t->idleTimedOut = true;
    return 1;
  }
  return 0;
}

HttpResponse perform(const HttpRequest& request, const LineHandler* onLine, const ChunkHandler* onChunk = nullptr) {
  globalInit();
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(), &curl_easy_cleanup);
  if (!handle) throw NetError(NetError::Kind::other, "Could not start a network request.");
  CURL* h = handle.get();

  Transfer t;
  t.handle = h;
  t.request = &request;
  t.onLine = onLine;
  t.onChunk = onChunk;
  t.lastActivity = steadyMillis();

  curl_slist* headerList = nullptr;
  for (const auto& [name, value] : request.headers) {
    headerList = curl_slist_append(headerList, (name + ": " + value).c_str());
  }
  headerList = curl_slist_append(headerList, "Expect:");
  std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers(headerList, &curl_slist_free_all);

  char errorText[CURL_ERROR_SIZE] = {0};
  long timeoutMs = static_cast<long>(request.timeout.count());
  curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, onHeader);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, &t);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &t);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, onProgress);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &t);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs);
  if (!t.streamed()) {
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, timeoutMs);
    // Compressed streams reach us only when the server's compressor flushes, so
    // only whole answers ask for compression.
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
  }

  if (request.method == "GET" && request.body.empty()) {
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
  } else if (request.method == "HEAD") {
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
  } else {
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
  }

  CURLcode rc = curl_easy_perform(h);
  std::string host = hostOf(request.url);
  if (t.cancelled) throw NetError(NetError::Kind::cancelled, "The request was cancelled.");
  if (t.tooLarge) {
    throw NetError(NetError::Kind::tooLarge, fmt::format("The answer from {} is too large.", host));
  }
  if (t.idleTimedOut || rc == CURLE_OPERATION_TIMEDOUT) {
    double seconds = static_cast<double>(request.timeout.count()) / 1000.0;
    throw NetError(NetError::Kind::timeout,
                   fmt::format("The request to {} timed out after {:g} seconds.", host, seconds));
  }
  if (rc != CURLE_OK && !(rc == CURLE_WRITE_ERROR && t.stoppedByHandler)) {
    std::string detail = errorText[0] ? std::string(errorText) : std::string(curl_easy_strerror(rc));
    switch (rc) {
      case CURLE_COULDNT_RESOLVE_HOST:
        throw NetError(NetError::Kind::connection, fmt::format("Could not find the server {}.", host));
      case CURLE_COULDNT_CONNECT:
        throw NetError(NetError::Kind::connection, fmt::format("Could not connect to {}: {}.", host, detail));
      case CURLE_GOT_NOTHING:
      case CURLE_SEND_ERROR:
      case CURLE_RECV_ERROR:
      case CURLE_PARTIAL_FILE:
        // Retryable like a refused connection: nothing usable came back.
        throw NetError(NetError::Kind::connection, fmt::format("The connection to {} was lost: {}.", host, detail));
      case CURLE_SSL_CONNECT_ERROR:
      case CURLE_PEER_FAILED_VERIFICATION:
      case CURLE_SSL_CERTPROBLEM:
      case CURLE_SSL_CACERT_BADFILE:
        throw NetError(NetError::Kind::tls, fmt::format("The secure connection to {} failed: {}.", host, detail));
      default:
        throw NetError(NetError::Kind::other, fmt::format("The request to {} failed: {}.", host, detail));
    }
  }
  long code = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
  t.response.status = static_cast<int>(code);
  if (onLine && t.response.ok() && !t.stoppedByHandler && !t.pending.empty()) {
    std::string last = std::move(t.pending);
    t.deliverLine(last);
  }
  return std::move(t.response);
}

}  // namespace

HttpRequest HttpRequest::postJson(std::string url, std::string body) {
  HttpRequest r;
  r.method = "POST";
  r.url = std::move(url);
  r.body = std::move(body);
  r.headers.emplace_back("Content-Type", "application/json");
  return r;
}

std::optional<std::string> HttpResponse::header(std::string_view name) const {
  const std::string wanted = text::asciiLowercased(name);
  for (const auto& [k, v] : headers) {
    if (k == wanted) return v;
  }
  return std::nullopt;
}

HttpResponse CurlHttpClient::send(const HttpRequest& request) { return perform(request, nullptr); }

HttpResponse CurlHttpClient::stream(const HttpRequest& request, const LineHandler& onLine) {
  return perform(request, &onLine);
}

HttpResponse CurlHttpClient::download(const HttpRequest& request, const ChunkHandler& onChunk) {
  return perform(request, nullptr, &onChunk);
}

HttpResponse HttpClient::download(const HttpRequest& request, const ChunkHandler& onChunk) {
  HttpResponse response = send(request);
  if (response.ok()) {
    onChunk(response.body);
    response.body.clear();
  }
  return response;
}

CurlHttpClient& CurlHttpClient::shared() {
  static CurlHttpClient client;
  return client;
}

}  // namespace orwenna
