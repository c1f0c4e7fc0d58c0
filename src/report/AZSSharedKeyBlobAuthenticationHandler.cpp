#include "report/AZSSharedKeyBlobAuthenticationHandler.h"

#include <algorithm>
#include <cctype>
#include <utility>
#include <vector>

#include "report/AZSErrors.h"
#include "report/AZSOperationContext.h"
#include "report/azs/Crypto.h"

namespace {

std::string lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Every whitespace or line-break character becomes one space.
std::string flattenWhitespace(std::string s) {
  for (auto& c : s) {
    if (std::isspace(static_cast<unsigned char>(c))) c = ' ';
  }
  return s;
}

std::string header(const qvr::azs::HttpRequest& request, const char* name) {
  return request.valueForHeader(name).value_or("");
}

}  // namespace

std::string AZSSharedKeyBlobAuthenticationHandler::stringToSign(const qvr::azs::HttpRequest& request) const {
  std::string s;
  auto line = [&s](const std::string& item) {
    s += item;
    s += '\n';
  };
  line(request.method);
  line(header(request, "Content-Encoding"));
  line(header(request, "Content-Language"));
  std::string length = header(request, "Content-Length");
  line(length == "0" ? "" : length);
  line(header(request, "Content-MD5"));
  line(header(request, "Content-Type"));
  line("");  // the date travels as x-ms-date
  line(header(request, "If-Modified-Since"));
  line(header(request, "If-Match"));
  line(header(request, "If-None-Match"));
  line(header(request, "If-Unmodified-Since"));
  line(header(request, "Range"));

  std::vector<std::pair<std::string, std::string>> msHeaders;
  for (const auto& [name, value] : request.headers) {
    if (name.rfind("x-ms-", 0) == 0) msHeaders.emplace_back(lower(name), value);
  }
  std::stable_sort(msHeaders.begin(), msHeaders.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& [name, value] : msHeaders) s += flattenWhitespace(name) + ":" + flattenWhitespace(value) + "\n";

  const std::string accountName = credentials ? credentials->accountName : std::string();
  const std::string& path = request.url.percentEncodedPath;
  s += "/" + accountName + (path.empty() ? "/" : path);
  if (request.url.percentEncodedQuery && !request.url.percentEncodedQuery->empty()) {
    std::vector<std::pair<std::string, std::string>> params;
    const std::string& q = *request.url.percentEncodedQuery;
    size_t start = 0;
    while (start <= q.size()) {
      size_t end = q.find('&', start);
      if (end == std::string::npos) end = q.size();
      std::string p = q.substr(start, end - start);
      size_t eq = p.find('=');
      // The service signs the decoded parameters; for values without escapes that is the text as sent.
      params.emplace_back(lower(qvr::azs::percentDecode(p.substr(0, eq))),
                          eq == std::string::npos ? "" : qvr::azs::percentDecode(p.substr(eq + 1)));
      start = end + 1;
    }
    std::stable_sort(params.begin(), params.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [name, value] : params) s += "\n" + name + ":" + value;
  }
  return s;
}

std::optional<qvr::Error> AZSSharedKeyBlobAuthenticationHandler::signRequest(qvr::azs::HttpRequest& request,
                                                                             AZSOperationContext& operationContext) {
  static locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  std::time_t now = clock();
  std::tm tm{};
  char buffer[30];
  // The process may run under any locale; day and month names must be the C locale's.
  if (!cLocale || !gmtime_r(&now, &tm) || strftime_l(buffer, sizeof buffer, "%a, %d %b %Y %T GMT", &tm, cLocale) == 0) {
    return qvr::Error(AZSErrorDomain, AZSERequestSigningError,
                      {{AZSExceptionNameKey, "Error in date/time format"}, {AZSExceptionReasonKey, "Unknown"}});
  }
  request.setValue("x-ms-date", buffer);

  std::string text = stringToSign(request);
  operationContext.logAtLevel(4, "String to sign = %s", text.c_str());
  static const std::vector<uint8_t> kNoKey;
  std::vector<uint8_t> mac = qvr::azs::hmacSha256(credentials ? credentials->accountKey : kNoKey, text);
  request.setValue("Authorization", "SharedKey " + (credentials ? credentials->accountName : std::string()) + ":" +
                                        qvr::azs::base64Encode(mac));
  return std::nullopt;
}
