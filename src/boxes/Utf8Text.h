#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qvr {

// Text from bytes that should be UTF-8 but come from a file: well-formed sequences are kept,
// every byte that does not start one becomes U+FFFD, so the result is always valid UTF-8.
inline std::string utf8Text(const uint8_t* bytes, size_t n) {
  std::string out;
  out.reserve(n);
  size_t i = 0;
  while (i < n) {
    uint8_t b = bytes[i];
    size_t len = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
    bool good = len != 0 && i + len <= n;
    for (size_t k = 1; good && k < len; ++k) good = (bytes[i + k] & 0xC0) == 0x80;
    if (good && len > 1) {
      // Overlong forms, surrogates and values past U+10FFFF are not well-formed either.
      uint32_t cp = b & (0x7F >> len);
      for (size_t k = 1; k < len; ++k) cp = cp << 6 | (bytes[i + k] & 0x3F);
      static constexpr uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
      good = cp >= kMin[len] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
    }
    if (good) {
      out.append(reinterpret_cast<const char*>(bytes + i), len);
      i += len;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}

}  // namespace qvr
