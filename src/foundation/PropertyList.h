#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qvr {

// An XML property list's top-level dictionary, flattened to what the application reads: string,
// integer, real and boolean values as text. Nested containers are skipped.
using PropertyDictionary = std::map<std::string, std::string>;

// libxml2 sets up its global state lazily and not thread-safely: every reader calls this before
// parsing, as parses run on worker threads (storage answers, the update check, movie metadata).
void prepareXmlParser();

// None when the bytes are not an XML property list whose root is a dictionary.
std::optional<PropertyDictionary> parsePropertyList(const uint8_t* data, size_t size);
inline std::optional<PropertyDictionary> parsePropertyList(const std::vector<uint8_t>& bytes) {
  return parsePropertyList(bytes.data(), bytes.size());
}

}  // namespace qvr
