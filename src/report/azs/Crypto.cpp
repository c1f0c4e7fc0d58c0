#include "report/azs/Crypto.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <random>

namespace qvr::azs {

namespace {

int base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}
}  // namespace

std::string base64Encode(const uint8_t* data, size_t size) {
  if (size == 0) return {};
  // EVP_EncodeBlock writes 4 characters per started 3 bytes plus a terminator, without line breaks.
  std::string out(4 * ((size + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), data, static_cast<int>(size));
  out.resize(n < 0 ? 0 : static_cast<size_t>(n));
  return out;
}

std::string base64Encode(const std::vector<uint8_t>& data) { return base64Encode(data.data(), data.size()); }

std::string base64Encode(const std::string& text) {
  return base64Encode(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

std::optional<std::vector<uint8_t>> base64Decode(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return std::vector<uint8_t>();
  size_t end = text.find_last_not_of(" \t\r\n") + 1;
  std::string_view s(text.data() + begin, end - begin);
  // OpenSSL's decoder is lenient about what it skips, so the form is checked here first: whole groups,
  // alphabet characters only, and at most two "=" at the very end.
  if (s.size() % 4 != 0 || s.size() > (1u << 30)) return std::nullopt;
  size_t padding = 0;
  if (s.back() == '=') {
    ++padding;
    if (s[s.size() - 2] == '=') ++padding;
  }
  for (size_t i = 0; i < s.size() - padding; ++i) {
    if (base64Value(s[i]) < 0) return std::nullopt;
  }
  std::vector<uint8_t> out(s.size() / 4 * 3);
  int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(s.data()), static_cast<int>(s.size()));
  if (n < 0 || static_cast<size_t>(n) != out.size()) return std::nullopt;
  out.resize(out.size() - padding);
  return out;
}

std::vector<uint8_t> hmacSha256(const std::vector<uint8_t>& key, const std::string& message) {
  std::vector<uint8_t> out(EVP_MAX_MD_SIZE);
  unsigned int len = 0;
  static const uint8_t kEmpty = 0;
  const uint8_t* keyBytes = key.empty() ? &kEmpty : key.data();
  if (!HMAC(EVP_sha256(), keyBytes, static_cast<int>(key.size()), reinterpret_cast<const uint8_t*>(message.data()),
            message.size(), out.data(), &len)) {
    return {};
  }
  out.resize(len);
  return out;
}

std::vector<uint8_t> md5(const uint8_t* data, size_t size) {
  Md5Accumulator acc;
  acc.add(data, size);
  return acc.finish();
}

Md5Accumulator::Md5Accumulator() : ctx_(EVP_MD_CTX_new()) {
  if (ctx_) EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(ctx_), EVP_md5(), nullptr);
}

Md5Accumulator::~Md5Accumulator() { EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(ctx_)); }

void Md5Accumulator::add(const uint8_t* data, size_t size) {
  if (ctx_ && size > 0) EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(ctx_), data, size);
}

std::vector<uint8_t> Md5Accumulator::finish() {
  std::vector<uint8_t> out(EVP_MAX_MD_SIZE);
  unsigned int len = 0;
  if (!ctx_ || EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(ctx_), out.data(), &len) != 1) return {};
  out.resize(len);
  return out;
}

std::string uuidString() {
  uint8_t b[16];
  if (RAND_bytes(b, sizeof b) != 1) {
    std::random_device rd;
    for (auto& x : b) x = static_cast<uint8_t>(rd());
  }
  b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x40);
  b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
    out += kHex[b[i] >> 4];
    out += kHex[b[i] & 0x0F];
  }
  return out;
}

}  // namespace qvr::azs
