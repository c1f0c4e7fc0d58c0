#include "report/azs/Url.h"

#include <cctype>

namespace qvr::azs {

namespace {
std::string lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool hasControlOrSpace(const std::string& s) {
  for (unsigned char c : s) {
    if (c <= 0x20 || c == 0x7F) return true;
  }
  return false;
}
}  // namespace

std::optional<UrlComponents> UrlComponents::parse(const std::string& url) {
  // Control characters or spaces could split a request line or a header; such an address is refused.
  if (hasControlOrSpace(url)) return std::nullopt;
  size_t schemeEnd = url.find("://");
  if (schemeEnd == std::string::npos) return std::nullopt;
  UrlComponents c;
  c.scheme = lower(url.substr(0, schemeEnd));
  if (c.scheme != "http" && c.scheme != "https") return std::nullopt;
  size_t authorityStart = schemeEnd + 3;
  size_t authorityEnd = url.find_first_of("/?#", authorityStart);
  if (authorityEnd == std::string::npos) authorityEnd = url.size();
  std::string authority = url.substr(authorityStart, authorityEnd - authorityStart);
  if (authority.find('@') != std::string::npos) return std::nullopt;
  size_t colon = authority.rfind(':');
  if (colon != std::string::npos && authority.find(']', colon) == std::string::npos) {
    std::string portText = authority.substr(colon + 1);
    if (portText.empty() || portText.size() > 5) return std::nullopt;
    int port = 0;
    for (char ch : portText) {
      if (!std::isdigit(static_cast<unsigned char>(ch))) return std::nullopt;
      port = port * 10 + (ch - '0');
    }
    if (port < 1 || port > 65535) return std::nullopt;
    c.port = port;
    authority.resize(colon);
  }
  if (authority.empty()) return std::nullopt;
  c.host = authority;
  size_t rest = authorityEnd;
  size_t fragment = url.find('#', rest);
  std::string tail = url.substr(rest, fragment == std::string::npos ? std::string::npos : fragment - rest);
  size_t question = tail.find('?');
  c.percentEncodedPath = tail.substr(0, question);
  if (question != std::string::npos) c.percentEncodedQuery = tail.substr(question + 1);
  return c;
}

std::string UrlComponents::string() const {
  std::string out = scheme + "://" + host;
  if (port) out += ":" + std::to_string(*port);
  out += percentEncodedPath;
  if (percentEncodedQuery) out += "?" + *percentEncodedQuery;
  return out;
}

UrlComponents UrlComponents::appendingPathComponent(const std::string& name) const {
  UrlComponents c = *this;
  if (c.percentEncodedPath.empty() || c.percentEncodedPath.back() != '/') c.percentEncodedPath += '/';
  c.percentEncodedPath += percentEncode(name);
  return c;
}

void UrlComponents::appendQueryParameter(const std::string& parameter) {
  if (percentEncodedQuery && !percentEncodedQuery->empty()) {
    *percentEncodedQuery += "&" + parameter;
  } else {
    percentEncodedQuery = parameter;
  }
}

std::string percentEncode(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  return out;
}

std::string percentDecode(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace qvr::azs
