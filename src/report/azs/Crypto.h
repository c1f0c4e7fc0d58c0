#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Digests, keyed hashes, Base64 and random identifiers of the blob storage client.
namespace qvr::azs {

std::string base64Encode(const uint8_t* data, size_t size);
std::string base64Encode(const std::vector<uint8_t>& data);
std::string base64Encode(const std::string& text);
// Standard alphabet with padding; surrounding whitespace is ignored. None when not valid Base64.
std::optional<std::vector<uint8_t>> base64Decode(const std::string& text);

std::vector<uint8_t> hmacSha256(const std::vector<uint8_t>& key, const std::string& message);
std::vector<uint8_t> md5(const uint8_t* data, size_t size);

// Incremental MD5 for data that arrives in pieces.
class Md5Accumulator {
 public:
  Md5Accumulator();
  ~Md5Accumulator();
  Md5Accumulator(const Md5Accumulator&) = delete;
  Md5Accumulator& operator=(const Md5Accumulator&) = delete;
  void add(const uint8_t* data, size_t size);
  std::vector<uint8_t> finish();

 private:
  void* ctx_;
};

// A random (version 4) UUID in its upper-case textual form, e.g. "1B4E28BA-2FA1-41D2-883F-0016D3CCA427".
std::string uuidString();

}  // namespace qvr::azs
