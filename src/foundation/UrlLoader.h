#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qvr {

struct HttpResponse {
  long status = 0;  // 0 when no answer arrived
  std::vector<uint8_t> body;
  std::string error;  // transport failure text, empty when an answer arrived
  bool ok() const { return error.empty() && status >= 200 && status < 300; }
};

struct HttpRequest {
  std::string method = "GET";
  std::string url;
  std::map<std::string, std::string> headers;
  std::vector<uint8_t> body;
  std::chrono::seconds timeout{30};
};

// One synchronous HTTP(S) exchange on the calling thread (callers run it on a worker).
HttpResponse performHttpRequest(const HttpRequest& request);

}  // namespace qvr
