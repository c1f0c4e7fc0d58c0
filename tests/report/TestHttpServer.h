#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// A scripted HTTP/1.1 server on 127.0.0.1 for the storage client's tests: it answers each connection's
// one request with the next scripted response and records what it was sent. It stops by itself after
// a bounded time and when destroyed.
namespace reporttest {

struct ScriptedResponse {
  ScriptedResponse(int status = 200, std::vector<std::pair<std::string, std::string>> headers = {},
                   std::string body = {}, bool hangUp = false)
      : status(status), headers(std::move(headers)), body(std::move(body)), hangUp(hangUp) {}

  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  bool hangUp = false;  // close the connection without answering
};

using Script = std::vector<ScriptedResponse>;

struct RecordedRequest {
  std::string method;
  std::string target;                          // path and query as sent
  std::map<std::string, std::string> headers;  // names lower-cased
  std::string body;
};

class TestHttpServer {
 public:
  // Answers come from `script` in order; after it runs out, from `fallback`.
  explicit TestHttpServer(std::vector<ScriptedResponse> script, ScriptedResponse fallback = {});
  ~TestHttpServer();
  TestHttpServer(const TestHttpServer&) = delete;
  TestHttpServer& operator=(const TestHttpServer&) = delete;

  int port() const { return port_; }
  // The blob endpoint of a development account on this server.
  std::string endpoint() const;
  std::vector<RecordedRequest> requests() const;

 private:
  void serve();
  void handle(int fd);

  int listenFd_ = -1;
  int port_ = 0;
  std::vector<ScriptedResponse> script_;
  ScriptedResponse fallback_;
  size_t next_ = 0;
  mutable std::mutex mutex_;
  std::vector<RecordedRequest> requests_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// A port on 127.0.0.1 that nothing listens on (bound once, then closed).
int closedPort();

}  // namespace reporttest
