#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "report/azs/Url.h"

// One HTTP exchange of the storage client over libcurl: the request as the client forms and signs it,
// the response head, and the collected body.
namespace qvr::azs {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// Header names compare without regard to case, as in HTTP; a header is held once.
std::optional<std::string> headerValue(const HeaderList& headers, const std::string& name);

struct HttpRequest {
  std::string method = "GET";
  UrlComponents url;
  double timeoutInterval = 60.0;  // seconds without progress before the request is given up
  // libcurl keeps no response cache, so a request always reaches the server; the flag records the intent.
  bool ignoresLocalCache = true;
  HeaderList headers;
  std::shared_ptr<const std::vector<uint8_t>> body;

  // Replaces a header of the same name (any case). Line breaks in the value become spaces, so that a
  // caller's text can never add a header or a line of its own.
  void setValue(const std::string& name, const std::string& value);
  std::optional<std::string> valueForHeader(const std::string& name) const { return headerValue(headers, name); }
};

struct HttpResponse {
  long statusCode = 0;
  std::string url;
  HeaderList headers;
  std::optional<std::string> valueForHeader(const std::string& name) const { return headerValue(headers, name); }
};

struct HttpOutcome {
  bool transportFailed = false;  // no complete exchange: connection, protocol or timeout failure
  int transportCode = 0;         // libcurl's code when transportFailed
  std::string transportMessage;
  std::shared_ptr<HttpResponse> response;  // set once a final response head arrived
  std::vector<uint8_t> body;               // at most maxBodyBytes of the body
  bool bodyTruncated = false;
};

// Sends `request` and waits for the whole answer. `resourceTimeout` bounds the whole exchange in
// seconds. `onResponse` runs once, on this thread, as soon as the final response head is complete.
HttpOutcome performHttpRequest(const HttpRequest& request, double resourceTimeout, size_t maxBodyBytes,
                               const std::function<void(const HttpResponse&)>& onResponse);

}  // namespace qvr::azs
