#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// The one byte stream boxes are read from and written to, big-endian as the container format
// stores every field. Reading never leaves the bytes it was given: a read past the end yields
// zeros and clears ok(), so a parser can read its whole syntax and test once at the end.
class ByteStream {
 public:
  // A writer that owns a growing buffer.
  ByteStream() = default;
  // A reader over bytes owned by the caller.
  ByteStream(const uint8_t* data, uint64_t size) : in_(data), size_(size) {}

  bool ok() const { return ok_; }
  bool reading() const { return in_ != nullptr; }
  uint64_t position() const { return pos_; }
  uint64_t size() const { return reading() ? size_ : out_.size(); }
  uint64_t remaining() const { return pos_ < size() ? size() - pos_ : 0; }
  // Moves the read position; a position past the end clears ok().
  void seek(uint64_t pos) {
    if (pos > size()) {
      ok_ = false;
      pos = size();
    }
    pos_ = pos;
  }
  void skip(uint64_t n) { seek(n > remaining() ? size() + 1 : pos_ + n); }

  uint8_t readUI08() { return static_cast<uint8_t>(readN(1)); }
  uint16_t readUI16() { return static_cast<uint16_t>(readN(2)); }
  uint32_t readUI24() { return static_cast<uint32_t>(readN(3)); }
  uint32_t readUI32() { return static_cast<uint32_t>(readN(4)); }
  uint64_t readUI64() { return readN(8); }
  // Copies n bytes (zeros past the end, and ok() cleared).
  void readBytes(uint8_t* dst, uint64_t n) {
    uint64_t have = n <= remaining() ? n : remaining();
    if (have) std::memcpy(dst, in_ + pos_, have);
    if (have < n) {
      std::memset(dst + have, 0, n - have);
      ok_ = false;
    }
    pos_ += have;
  }
  std::vector<uint8_t> readBytes(uint64_t n) {
    if (n > remaining()) {
      ok_ = false;
      n = remaining();
    }
    std::vector<uint8_t> v(in_ + pos_, in_ + pos_ + n);
    pos_ += n;
    return v;
  }
  // Four-character code as text ("moov").
  std::string readFourCC() {
    char c[4];
    readBytes(reinterpret_cast<uint8_t*>(c), 4);
    return std::string(c, 4);
  }
  const uint8_t* current() const { return in_ + pos_; }

  void writeUI08(uint8_t v) { out_.push_back(v); }
  void writeUI16(uint16_t v) { writeN(v, 2); }
  void writeUI24(uint32_t v) { writeN(v, 3); }
  void writeUI32(uint32_t v) { writeN(v, 4); }
  void writeUI64(uint64_t v) { writeN(v, 8); }
  void writeBytes(const uint8_t* p, size_t n) { out_.insert(out_.end(), p, p + n); }
  void writeBytes(const std::vector<uint8_t>& v) { out_.insert(out_.end(), v.begin(), v.end()); }
  void writeFourCC(const char* code) { writeBytes(reinterpret_cast<const uint8_t*>(code), 4); }
  // Patches a 32-bit value already written (a box size known only at the end).
  void patchUI32(size_t at, uint32_t v) {
    for (int i = 3; i >= 0; --i) {
      out_[at + i] = static_cast<uint8_t>(v);
      v >>= 8;
    }
  }
  const std::vector<uint8_t>& data() const { return out_; }
  std::vector<uint8_t> take() { return std::move(out_); }

 private:
  uint64_t readN(int n) {
    if (static_cast<uint64_t>(n) > remaining()) {
      ok_ = false;
      pos_ = size();
      return 0;
    }
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) v = v << 8 | in_[pos_ + i];
    pos_ += n;
    return v;
  }
  void writeN(uint64_t v, int n) {
    for (int i = n - 1; i >= 0; --i) out_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }

  const uint8_t* in_ = nullptr;
  uint64_t size_ = 0;
  uint64_t pos_ = 0;
  bool ok_ = true;
  std::vector<uint8_t> out_;
};
