#include "report/TestHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <stdexcept>

namespace reporttest {

namespace {
constexpr auto kLifetime = std::chrono::seconds(60);
constexpr int kIoTimeoutMs = 5000;

int listenOnLoopback(int* port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0) {
    ::close(fd);
    throw std::runtime_error("bind/listen failed");
  }
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  *port = ntohs(addr.sin_port);
  return fd;
}

bool readSome(int fd, std::string& into) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, kIoTimeoutMs) <= 0) return false;
  char buf[4096];
  ssize_t n = ::read(fd, buf, sizeof buf);
  if (n <= 0) return false;
  into.append(buf, static_cast<size_t>(n));
  return true;
}

std::string reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 201:
      return "Created";
    case 203:
      return "Non-Authoritative Information";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 409:
      return "Conflict";
    case 503:
      return "Service Unavailable";
    default:
      return "Status";
  }
}
}  // namespace

int closedPort() {
  int port = 0;
  int fd = listenOnLoopback(&port);
  ::close(fd);
  return port;
}

TestHttpServer::TestHttpServer(std::vector<ScriptedResponse> script, ScriptedResponse fallback)
    : script_(std::move(script)), fallback_(std::move(fallback)) {
  listenFd_ = listenOnLoopback(&port_);
  thread_ = std::thread([this] { serve(); });
}

TestHttpServer::~TestHttpServer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  ::close(listenFd_);
}

std::string TestHttpServer::endpoint() const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/devstoreaccount1";
}

std::vector<RecordedRequest> TestHttpServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void TestHttpServer::serve() {
  auto deadline = std::chrono::steady_clock::now() + kLifetime;
  while (!stop_ && std::chrono::steady_clock::now() < deadline) {
    pollfd p{listenFd_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    int fd = ::accept(listenFd_, nullptr, nullptr);
    if (fd < 0) continue;
    handle(fd);
    ::close(fd);
  }
}

void TestHttpServer::handle(int fd) {
  std::string data;
  size_t headEnd;
  while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
    if (!readSome(fd, data) || data.size() > (1u << 20)) return;
  }
  RecordedRequest req;
  std::string head = data.substr(0, headEnd);
  size_t lineEnd = head.find("\r\n");
  std::string requestLine = head.substr(0, lineEnd);
  size_t s1 = requestLine.find(' ');
  size_t s2 = requestLine.rfind(' ');
  req.method = requestLine.substr(0, s1);
  req.target = requestLine.substr(s1 + 1, s2 - s1 - 1);
  size_t pos = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
  while (pos < head.size()) {
    size_t end = head.find("\r\n", pos);
    if (end == std::string::npos) end = head.size();
    std::string line = head.substr(pos, end - pos);
    size_t colon = line.find(':');
    if (colon != std::string::npos) {
      std::string name = line.substr(0, colon);
      for (auto& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      size_t v = line.find_first_not_of(' ', colon + 1);
      req.headers[name] = v == std::string::npos ? "" : line.substr(v);
    }
    pos = end + 2;
  }
  size_t length = 0;
  if (auto it = req.headers.find("content-length"); it != req.headers.end()) length = std::stoul(it->second);
  req.body = data.substr(headEnd + 4);
  while (req.body.size() < length) {
    if (!readSome(fd, req.body)) break;
  }

  ScriptedResponse answer;
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(req);
    answer = next_ < script_.size() ? script_[next_] : fallback_;
    ++next_;
  }
  if (answer.hangUp) return;
  std::string out = "HTTP/1.1 " + std::to_string(answer.status) + " " + reason(answer.status) + "\r\n";
  for (const auto& [name, value] : answer.headers) out += name + ": " + value + "\r\n";
  out += "Content-Length: " + std::to_string(answer.body.size()) + "\r\nConnection: close\r\n\r\n";
  if (req.method != "HEAD") out += answer.body;
  size_t sent = 0;
  while (sent < out.size()) {
    ssize_t n = ::send(fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
}

}  // namespace reporttest
