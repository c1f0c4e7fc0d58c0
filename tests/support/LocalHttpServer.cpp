#include "support/LocalHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace testsupport {

namespace {
std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

const char* reasonFor(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 201:
      return "Created";
    case 202:
      return "Accepted";
    case 203:
      return "Non-Authoritative Information";
    case 204:
      return "No Content";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 409:
      return "Conflict";
    case 500:
      return "Internal Server Error";
    case 503:
      return "Service Unavailable";
    default:
      return "Status";
  }
}

// Reads until the headers and the announced body are in, or the peer stalls for 5 s.
bool readRequest(int fd, LocalHttpServer::Request& request) {
  std::string data;
  char buf[65536];
  size_t headerEnd = std::string::npos;
  size_t contentLength = 0;
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) return false;
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return false;
    data.append(buf, static_cast<size_t>(n));
    if (headerEnd == std::string::npos) {
      headerEnd = data.find("\r\n\r\n");
      if (headerEnd == std::string::npos) continue;
      size_t lineEnd = data.find("\r\n");
      std::string requestLine = data.substr(0, lineEnd);
      size_t sp1 = requestLine.find(' ');
      size_t sp2 = requestLine.find(' ', sp1 + 1);
      request.method = requestLine.substr(0, sp1);
      request.target = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
      size_t pos = lineEnd + 2;
      while (pos < headerEnd) {
        size_t end = data.find("\r\n", pos);
        std::string line = data.substr(pos, end - pos);
        size_t colon = line.find(':');
        if (colon != std::string::npos) {
          std::string value = line.substr(colon + 1);
          value.erase(0, value.find_first_not_of(' '));
          request.headers[lower(line.substr(0, colon))] = value;
        }
        pos = end + 2;
      }
      auto it = request.headers.find("content-length");
      if (it != request.headers.end()) contentLength = std::stoul(it->second);
    }
    if (data.size() >= headerEnd + 4 + contentLength) {
      request.body = data.substr(headerEnd + 4, contentLength);
      return true;
    }
  }
}
}  // namespace

LocalHttpServer::LocalHttpServer(Handler handler) : handler_(std::move(handler)) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listenFd_, 16) != 0) {
    throw std::runtime_error("cannot listen on 127.0.0.1");
  }
  socklen_t len = sizeof addr;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread([this] { serve(); });
}

LocalHttpServer::~LocalHttpServer() {
  stopping_ = true;
  thread_.join();
  ::close(listenFd_);
}

std::vector<LocalHttpServer::Request> LocalHttpServer::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

int LocalHttpServer::closedPort() {
  return LocalHttpServer([](const Request&) { return Response{}; }).port();
}

void LocalHttpServer::serve() {
  while (!stopping_) {
    pollfd p{listenFd_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    Request request;
    if (readRequest(fd, request)) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
      }
      Response response = handler_(request);
      if (response.status == kHangUp) {
        ::close(fd);
        continue;
      }
      std::string out = "HTTP/1.1 " + std::to_string(response.status) + " " + reasonFor(response.status) + "\r\n";
      for (const auto& [name, value] : response.headers) out += name + ": " + value + "\r\n";
      out += "Content-Length: " + std::to_string(response.body.size()) + "\r\nConnection: close\r\n\r\n";
      if (request.method != "HEAD") out += response.body;
      size_t sent = 0;
      while (sent < out.size()) {
        ssize_t n = ::send(fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
      }
    }
    ::close(fd);
  }
}

}  // namespace testsupport
