#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// A tiny HTTP/1.1 server on 127.0.0.1 (a port the system picks) for tests: it records every
// request and answers with what the handler returns. One connection at a time, closed after each
// answer; it stops when destroyed.
class LocalHttpServer {
 public:
  struct Request {
    std::string method;
    std::string target;                          // path and query
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
  };
  struct Response {
    int status = 200;  // kHangUp: close the connection without answering
    std::string body;
    std::map<std::string, std::string> headers;
  };
  using Handler = std::function<Response(const Request&)>;
  static constexpr int kHangUp = -1;

  explicit LocalHttpServer(Handler handler);
  ~LocalHttpServer();
  LocalHttpServer(const LocalHttpServer&) = delete;
  LocalHttpServer& operator=(const LocalHttpServer&) = delete;

  int port() const { return port_; }
  std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }
  std::vector<Request> requests() const;

  // A port on 127.0.0.1 where nothing listens any more.
  static int closedPort();

 private:
  void serve();
  Handler handler_;
  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::vector<Request> requests_;
  std::thread thread_;
};

}  // namespace testsupport
