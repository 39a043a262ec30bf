#include "fakes/fake_server.h"

#include <httplib.h>

#include <algorithm>
#include <stdexcept>

namespace orwenna::testing {

namespace {

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

}  // namespace

std::string RecordedRequest::header(const std::string& name) const {
  std::string wanted = lower(name);
  for (const auto& [k, v] : headers) {
    if (lower(k) == wanted) return v;
  }
  return "";
}

FakeResponse FakeResponse::json(std::string body, int status) {
  FakeResponse r;
  r.body = std::move(body);
  r.status = status;
  return r;
}

FakeResponse FakeResponse::text(std::string body, int status) {
  FakeResponse r = json(std::move(body), status);
  r.contentType = "text/plain";
  return r;
}

FakeServer::FakeServer() : server_(std::make_unique<httplib::Server>()) {
  for (const char* method : {"GET", "POST", "PUT", "DELETE", "PATCH"}) {
    auto route = [this, m = std::string(method)](const httplib::Request& req, httplib::Response& res) {
      handle(m, &req, &res);
    };
    const std::string any = ".*";
    if (std::string(method) == "GET") server_->Get(any, route);
    if (std::string(method) == "POST") server_->Post(any, route);
    if (std::string(method) == "PUT") server_->Put(any, route);
    if (std::string(method) == "DELETE") server_->Delete(any, route);
    if (std::string(method) == "PATCH") server_->Patch(any, route);
  }
  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("fake server could not bind to 127.0.0.1");
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

FakeServer::~FakeServer() { stop(); }

void FakeServer::stop() {
  if (server_) server_->stop();
  if (thread_.joinable()) thread_.join();
}

void FakeServer::on(const std::string& method, const std::string& path, FakeHandler handler) {
  std::lock_guard lock(mutex_);
  handlers_[{method, path}] = std::move(handler);
}

void FakeServer::onJson(const std::string& method, const std::string& path, std::string body, int status) {
  on(method, path, [body = std::move(body), status](const RecordedRequest&) { return FakeResponse::json(body, status); });
}

std::string FakeServer::url() const { return "http://127.0.0.1:" + std::to_string(port_); }

std::vector<RecordedRequest> FakeServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::size_t FakeServer::requestCount() const {
  std::lock_guard lock(mutex_);
  return requests_.size();
}

void FakeServer::handle(const std::string& method, const void* rawRequest, void* rawResponse) {
  const auto& req = *static_cast<const httplib::Request*>(rawRequest);
  auto& res = *static_cast<httplib::Response*>(rawResponse);

  RecordedRequest recorded;
  recorded.method = method;
  recorded.path = req.path;
  std::string target = req.target;
  if (auto q = target.find('?'); q != std::string::npos) recorded.query = target.substr(q + 1);
  for (const auto& [k, v] : req.headers) recorded.headers.emplace_back(k, v);
  recorded.body = req.body;

  FakeHandler handler;
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(recorded);
    auto it = handlers_.find({method, req.path});
    if (it != handlers_.end()) handler = it->second;
  }
  if (!handler) {
    res.status = 404;
    res.set_content("no fake handler for " + method + " " + req.path, "text/plain");
    return;
  }
  FakeResponse answer = handler(recorded);
  if (answer.delay.count() > 0) std::this_thread::sleep_for(answer.delay);
  res.status = answer.status;
  for (const auto& [k, v] : answer.headers) res.set_header(k, v);
  if (answer.dropConnection) {
    res.set_chunked_content_provider(answer.contentType, [](size_t, httplib::DataSink&) { return false; });
    return;
  }
  if (answer.chunks.empty()) {
    res.set_content(answer.body, answer.contentType);
    return;
  }
  auto chunks = std::make_shared<std::vector<std::string>>(std::move(answer.chunks));
  auto pause = answer.pause;
  res.set_chunked_content_provider(answer.contentType, [chunks, pause, index = std::size_t{0}](
                                                           size_t, httplib::DataSink& sink) mutable {
    if (index < chunks->size()) {
      if (index > 0 && pause.count() > 0) std::this_thread::sleep_for(pause);
      const std::string& c = (*chunks)[index++];
      sink.write(c.data(), c.size());
    }
    if (index >= chunks->size()) sink.done();
    return true;
  });
}

}  // namespace orwenna::testing
