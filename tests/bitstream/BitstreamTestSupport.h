#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace bstest {

// Writes syntax elements most significant bit first, so tests can build units bit for bit.
class BitWriter {
 public:
  BitWriter& u(uint32_t n, uint64_t value);
  BitWriter& ue(uint32_t value);
  BitWriter& se(int32_t value);
  BitWriter& trailing();               // a stop bit, then zeros to the byte boundary
  std::vector<uint8_t> bytes() const;  // a partial last byte is zero padded
  size_t size() const { return bits_.size(); }

 private:
  std::vector<bool> bits_;
};

// The stored form of a payload: an emulation_prevention_three_byte after every two zero bytes
// that precede a byte of 0 to 3.
std::vector<uint8_t> escape(const std::vector<uint8_t>& rbsp);
// An H.265 unit: two header bytes, then the escaped payload.
std::vector<uint8_t> unit265(uint32_t type, const BitWriter& payload, uint32_t layerId = 0, uint32_t tidPlus1 = 1);

// NAL units of an Annex B byte stream, start codes and trailing zero bytes removed; and back.
std::vector<std::vector<uint8_t>> splitAnnexB(const std::vector<uint8_t>& stream);
std::vector<uint8_t> annexB(const std::vector<std::vector<uint8_t>>& units);
// A unit behind an L-byte big-endian length prefix holding `declared` (the unit's size if negative).
std::vector<uint8_t> prefixed(const std::vector<uint8_t>& unit, uint32_t L = 4, int64_t declared = -1);
// What the repair scan hands to the NAL unit test: `size` bytes from `offset`, zero padded.
std::vector<uint8_t> window(const std::vector<uint8_t>& data, size_t offset, size_t size = 50);

// One NAL unit as ffmpeg's trace_headers filter prints it: syntax element name -> value.
using TraceUnit = std::map<std::string, int64_t>;
// The units of an Annex B file's packets in stream order (the demuxer's extradata copy of the
// parameter sets left out); empty when ffmpeg fails. Units the filter cannot decompose are missing.
std::vector<TraceUnit> traceUnits(const std::string& annexBPath, std::string* log = nullptr);
std::optional<int64_t> field(const TraceUnit& unit, const std::string& name);

// H.265 parameter sets for hand-built cases: Main profile at level 4, 4:2:0, 8-bit samples and an
// 8-bit POC lsb, 8x8 coding blocks in 64x64 coding tree blocks, SAO and temporal MVP on.
void profileTierLevel265(BitWriter& w);
struct Sps265 {
  uint32_t id = 0, width = 1920, height = 1080, numShortTermSets = 0;
  std::function<void(BitWriter&)> shortTermSets = nullptr;  // the st_ref_pic_set() bits
  bool longTerm = false;
  uint32_t numLongTerm = 0;
};
std::vector<uint8_t> sps265(const Sps265& f);
struct Pps265 {
  bool weightedPred = false, tiles = false, wavefronts = false, uniform = true, headerExtension = false;
  uint32_t columnsMinus1 = 0, rowsMinus1 = 0;
};
std::vector<uint8_t> pps265(const Pps265& f);
std::vector<uint8_t> vps265(uint32_t numLayerSetsMinus1);

}  // namespace bstest
