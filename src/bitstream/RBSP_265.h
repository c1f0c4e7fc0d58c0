#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "bitstream/BitReader.h"

// Shared pieces of the H.265 parsers: the payload without emulation-prevention bytes, the
// short-term reference picture set and the scaling list syntax that both the sequence parameter
// set and the slice segment header (or the picture parameter set) have to step over.
namespace qvr {

// A NAL unit's bytes with every emulation_prevention_three_byte (the 0x03 after two zero bytes)
// taken out, so that fields read by position line up with the standard's syntax. Windows of the
// repair scan fit the inline buffer; only whole units handed in by callers touch the heap.
class Rbsp265 {
 public:
  Rbsp265(const uint8_t* bytes, uint32_t size);
  Rbsp265(const Rbsp265&) = delete;
  Rbsp265& operator=(const Rbsp265&) = delete;
  const uint8_t* data() const { return data_; }
  uint32_t size() const { return size_; }

 private:
  std::array<uint8_t, 128> inline_{};
  std::vector<uint8_t> heap_;
  const uint8_t* data_ = nullptr;
  uint32_t size_ = 0;
};

// True when the reads so far took bits from beyond the buffer. A window cut from a damaged file
// ends in the middle of a unit, so zero filling there is no evidence against the unit: parsers
// stop at that point and judge only what they read from real bytes.
inline bool overran(const BitReader& r, uint32_t size) {
  return uint64_t(r.bytePosition()) * 8 + r.bitPosition() > uint64_t(size) * 8;
}

// Ceil(Log2(v)) as the standard uses it for field widths; 0 for v <= 1.
inline uint32_t ceilLog2(int64_t v) {
  uint32_t n = 0;
  while (n < 62 && (int64_t(1) << n) < v) ++n;
  return n;
}

enum class Parse265 {
  ok,
  invalid,  // the bytes break a rule of the standard's syntax
  cut,      // the buffer ended inside the structure
};

// One st_ref_pic_set() after the standard's derivation (DeltaPocS0/S1, UsedByCurrPicS0/S1).
struct ShortTermRefPicSet265 {
  static constexpr int32_t kMaxPics = 16;  // MaxDpbSize: no set can list more pictures
  int32_t NumNegativePics = 0;
  int32_t NumPositivePics = 0;
  std::array<int32_t, kMaxPics> DeltaPocS0{};
  std::array<int32_t, kMaxPics> DeltaPocS1{};
  std::array<uint8_t, kMaxPics> UsedByCurrPicS0{};
  std::array<uint8_t, kMaxPics> UsedByCurrPicS1{};

  int32_t NumDeltaPocs() const { return NumNegativePics + NumPositivePics; }
  int32_t numUsedByCurrPic() const;
};

// st_ref_pic_set(stRpsIdx). `earlier` holds the sets 0 .. stRpsIdx - 1 of the sequence parameter
// set, which inter prediction of a set refers to; when stRpsIdx equals numShortTermRefPicSets
// the set is the one coded in a slice segment header and delta_idx_minus1 is present.
Parse265 readShortTermRefPicSet265(BitReader& r, uint32_t size, int32_t stRpsIdx, int32_t numShortTermRefPicSets,
                                   std::span<const ShortTermRefPicSet265> earlier, ShortTermRefPicSet265& out);

// scaling_list_data(), values not kept.
Parse265 skipScalingListData265(BitReader& r, uint32_t size);

// The two-byte NAL unit header as every H.265 parser decodes it.
struct NalHeader265 {
  uint32_t forbiddenBit = 0;
  uint32_t NALType = 0;
  uint32_t NLayerId = 0;
  uint32_t NTempID = 0;
};
NalHeader265 decodeNalHeader265(uint8_t h0, uint8_t h1);

}  // namespace qvr
