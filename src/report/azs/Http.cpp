#include "report/azs/Http.h"

#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace qvr::azs {

std::optional<std::string> headerValue(const HeaderList& headers, const std::string& name) {
  for (const auto& [n, v] : headers) {
    if (strcasecmp(n.c_str(), name.c_str()) == 0) return v;
  }
  return std::nullopt;
}

void HttpRequest::setValue(const std::string& name, const std::string& value) {
  std::string clean = value;
  std::replace(clean.begin(), clean.end(), '\r', ' ');
  std::replace(clean.begin(), clean.end(), '\n', ' ');
  for (auto& [n, v] : headers) {
    if (strcasecmp(n.c_str(), name.c_str()) == 0) {
      n = name;
      v = clean;
      return;
    }
  }
  headers.emplace_back(name, clean);
}

namespace {

struct Exchange {
  size_t maxBodyBytes = 0;
  const std::function<void(const HttpResponse&)>* onResponse = nullptr;
  HttpResponse current;
  bool inHead = false;
  HttpOutcome outcome;
  // Upload position when the body is read piecewise.
  const std::vector<uint8_t>* body = nullptr;
  size_t sent = 0;
};

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
  auto* ex = static_cast<Exchange*>(user);
  size_t n = size * count;
  std::string line(data, n);
  if (line.rfind("HTTP/", 0) == 0) {
    ex->current = HttpResponse();
    ex->inHead = true;
    size_t space = line.find(' ');
    if (space != std::string::npos) ex->current.statusCode = std::strtol(line.c_str() + space + 1, nullptr, 10);
    return n;
  }
  std::string t = trim(line);
  if (t.empty()) {
    // End of one head. Interim (1xx) heads are followed by the real one.
    if (ex->inHead && ex->current.statusCode >= 200 && !ex->outcome.response) {
      ex->outcome.response = std::make_shared<HttpResponse>(ex->current);
      if (*ex->onResponse) (*ex->onResponse)(*ex->outcome.response);
    }
    ex->inHead = false;
    return n;
  }
  size_t colon = t.find(':');
  if (ex->inHead && colon != std::string::npos) {
    ex->current.headers.emplace_back(trim(t.substr(0, colon)), trim(t.substr(colon + 1)));
  }
  return n;
}

size_t onBody(char* data, size_t size, size_t count, void* user) {
  auto* ex = static_cast<Exchange*>(user);
  size_t n = size * count;
  size_t room = ex->maxBodyBytes - std::min(ex->maxBodyBytes, ex->outcome.body.size());
  size_t take = std::min(room, n);
  ex->outcome.body.insert(ex->outcome.body.end(), data, data + take);
  if (take < n) ex->outcome.bodyTruncated = true;
  return n;
}

size_t onRead(char* buffer, size_t size, size_t count, void* user) {
  auto* ex = static_cast<Exchange*>(user);
  size_t left = ex->body->size() - ex->sent;
  size_t take = std::min(left, size * count);
  std::copy_n(ex->body->data() + ex->sent, take, buffer);
  ex->sent += take;
  return take;
}

long millis(double seconds) {
  if (!(seconds > 0)) return 1;
  double ms = std::ceil(seconds * 1000.0);
  return ms > 2.0e9 ? 2000000000L : static_cast<long>(ms);
}

}  // namespace

HttpOutcome performHttpRequest(const HttpRequest& request, double resourceTimeout, size_t maxBodyBytes,
                               const std::function<void(const HttpResponse&)>& onResponse) {
  static std::once_flag globalInit;
  std::call_once(globalInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

  Exchange ex;
  ex.maxBodyBytes = maxBodyBytes;
  ex.onResponse = &onResponse;
  static const std::vector<uint8_t> kNoBody;
  ex.body = request.body ? request.body.get() : &kNoBody;

  CURL* curl = curl_easy_init();
  if (!curl) {
    ex.outcome.transportFailed = true;
    ex.outcome.transportCode = CURLE_FAILED_INIT;
    ex.outcome.transportMessage = curl_easy_strerror(CURLE_FAILED_INIT);
    return std::move(ex.outcome);
  }
  std::string url = request.url.string();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, millis(resourceTimeout));
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, millis(std::min(resourceTimeout, request.timeoutInterval)));
  // The request's own timeout is an idle limit: the exchange is given up after that long without progress.
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, std::max(1L, millis(request.timeoutInterval) / 1000));
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, onHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &ex);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &ex);

  const std::string& method = request.method;
  bool sendsBody = request.body != nullptr || method == "PUT" || method == "POST";
  if (method == "HEAD") {
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  } else if (sendsBody) {
    // A body (possibly empty) always goes with a length, so the server never waits for more.
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, onRead);
    curl_easy_setopt(curl, CURLOPT_READDATA, &ex);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(ex.body->size()));
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
  } else if (method != "GET") {
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
  }

  curl_slist* list = nullptr;
  bool hasContentLength = false;
  for (const auto& [name, value] : request.headers) {
    if (strcasecmp(name.c_str(), "Content-Length") == 0) hasContentLength = true;
    std::string line = value.empty() ? name + ";" : name + ": " + value;
    list = curl_slist_append(list, line.c_str());
  }
  if (sendsBody && !hasContentLength) {
    list = curl_slist_append(list, ("Content-Length: " + std::to_string(ex.body->size())).c_str());
  }
  // Headers the client did not sign must not be added on the way.
  list = curl_slist_append(list, "Expect:");
  list = curl_slist_append(list, "Transfer-Encoding:");
  list = curl_slist_append(list, "Accept:");
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);

  CURLcode rc = curl_easy_perform(curl);
  if (rc != CURLE_OK) {
    ex.outcome.transportFailed = true;
    ex.outcome.transportCode = rc;
    ex.outcome.transportMessage = curl_easy_strerror(rc);
  }
  if (ex.outcome.response) ex.outcome.response->url = url;
  curl_slist_free_all(list);
  curl_easy_cleanup(curl);
  return std::move(ex.outcome);
}

}  // namespace qvr::azs
