#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace h264test {

// Writes H.264 syntax elements MSB first, so tests can build parameter sets and slice headers
// bit for bit.
class BitWriter {
 public:
  BitWriter& u(uint32_t n, uint64_t value);
  BitWriter& ue(uint32_t value);
  BitWriter& se(int32_t value);
  BitWriter& bits(const std::string& pattern);  // e.g. "00100"
  // rbsp_trailing_bits(): a stop bit, then zeros to the byte boundary.
  BitWriter& trailing();
  std::vector<uint8_t> bytes() const;  // a partial last byte is zero padded
  size_t bitCount() const { return bits_.size(); }

 private:
  std::vector<bool> bits_;
};

// NAL units of an Annex B byte stream, start codes and trailing zero bytes removed.
std::vector<std::vector<uint8_t>> splitAnnexB(const std::vector<uint8_t>& stream);

// The units as the media data of a movie stores them: each behind a big-endian length prefix.
std::vector<uint8_t> lengthPrefixed(const std::vector<std::vector<uint8_t>>& units, uint32_t prefixLength,
                                    std::vector<size_t>* offsets = nullptr);

// One unit behind a `prefixLength`-byte big-endian prefix holding `declared`.
std::vector<uint8_t> prefixed(const std::vector<uint8_t>& unit, uint32_t prefixLength, uint64_t declared);

// The window the repair scan hands to the NAL unit test: `size` bytes from `offset`, zero padded.
std::vector<uint8_t> window(const std::vector<uint8_t>& data, size_t offset, size_t size = 50);

// One NAL unit as ffmpeg's trace_headers filter prints it: syntax element name -> value.
using TraceUnit = std::map<std::string, int64_t>;

// Runs trace_headers over an Annex B file and returns the units of its packets in stream order
// (the demuxer's extradata copy of the parameter sets is left out), or with `extradata` only
// that copy: the parameter sets ahead of the first slice, traced even when ffmpeg cannot go on
// to the packets. Empty on failure.
std::vector<TraceUnit> traceUnits(const std::string& annexBPath, std::string* log = nullptr, bool extradata = false);

std::optional<int64_t> field(const TraceUnit& unit, const std::string& name);

}  // namespace h264test
