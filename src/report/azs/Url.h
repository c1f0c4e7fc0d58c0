#pragma once

#include <optional>
#include <string>

// The parts of an http(s) address the storage client works with, kept in their percent-encoded form.
namespace qvr::azs {

struct UrlComponents {
  std::string scheme;  // lower case
  std::string host;
  std::optional<int> port;
  std::string percentEncodedPath;                  // "" or starting with "/"
  std::optional<std::string> percentEncodedQuery;  // without the "?"

  // None for anything that is not an absolute http or https address with a host.
  static std::optional<UrlComponents> parse(const std::string& url);
  std::string string() const;

  // Appends "/" and `name`, percent-encoding every byte of the name outside the unreserved set.
  UrlComponents appendingPathComponent(const std::string& name) const;
  // Adds one query parameter as it stands: "&parameter" after an existing query, else the query itself.
  void appendQueryParameter(const std::string& parameter);
};

std::string percentEncode(const std::string& text);
// Decodes %XX sequences; a malformed sequence is kept literally.
std::string percentDecode(const std::string& text);

}  // namespace qvr::azs
