#include "bitstream/RBSP_265.h"

#include <algorithm>

namespace qvr {

Rbsp265::Rbsp265(const uint8_t* bytes, uint32_t size) {
  if (bytes == nullptr) size = 0;
  uint8_t* out = inline_.data();
  if (size > inline_.size()) {
    heap_.resize(size);
    out = heap_.data();
  }
  uint32_t n = 0;
  uint32_t zeros = 0;
  for (uint32_t i = 0; i < size; ++i) {
    const uint8_t b = bytes[i];
    if (zeros >= 2 && b == 0x03) {
      zeros = 0;
      continue;
    }
    zeros = b == 0 ? zeros + 1 : 0;
    out[n++] = b;
  }
  data_ = out;
  size_ = n;
}

int32_t ShortTermRefPicSet265::numUsedByCurrPic() const {
  int32_t used = 0;
  for (int32_t i = 0; i < NumNegativePics; ++i) used += UsedByCurrPicS0[i];
  for (int32_t i = 0; i < NumPositivePics; ++i) used += UsedByCurrPicS1[i];
  return used;
}

namespace {

// Delta POC values are bounded by the 16-bit ranges of their syntax elements; anything larger
// comes from damaged bits and would overflow the derivation.
constexpr int64_t kMaxDeltaPoc = int64_t(1) << 16;

Parse265 readExplicitSet(BitReader& r, uint32_t size, ShortTermRefPicSet265& out) {
  const uint32_t numNegative = r.ue();
  const uint32_t numPositive = r.ue();
  if (overran(r, size)) return Parse265::cut;
  if (numNegative > uint32_t(ShortTermRefPicSet265::kMaxPics) ||
      numPositive > uint32_t(ShortTermRefPicSet265::kMaxPics) - numNegative) {
    return Parse265::invalid;
  }
  out.NumNegativePics = int32_t(numNegative);
  out.NumPositivePics = int32_t(numPositive);
  int64_t poc = 0;
  for (uint32_t i = 0; i < numNegative; ++i) {
    const uint32_t delta_poc_s0_minus1 = r.ue();
    out.UsedByCurrPicS0[i] = uint8_t(r.u1());
    if (overran(r, size)) return Parse265::cut;
    if (delta_poc_s0_minus1 >= kMaxDeltaPoc) return Parse265::invalid;
    poc -= int64_t(delta_poc_s0_minus1) + 1;
    if (poc < -kMaxDeltaPoc) return Parse265::invalid;
    out.DeltaPocS0[i] = int32_t(poc);
  }
  poc = 0;
  for (uint32_t i = 0; i < numPositive; ++i) {
    const uint32_t delta_poc_s1_minus1 = r.ue();
    out.UsedByCurrPicS1[i] = uint8_t(r.u1());
    if (overran(r, size)) return Parse265::cut;
    if (delta_poc_s1_minus1 >= kMaxDeltaPoc) return Parse265::invalid;
    poc += int64_t(delta_poc_s1_minus1) + 1;
    if (poc > kMaxDeltaPoc) return Parse265::invalid;
    out.DeltaPocS1[i] = int32_t(poc);
  }
  return Parse265::ok;
}

}  // namespace

Parse265 readShortTermRefPicSet265(BitReader& r, uint32_t size, int32_t stRpsIdx, int32_t numShortTermRefPicSets,
                                   std::span<const ShortTermRefPicSet265> earlier, ShortTermRefPicSet265& out) {
  out = ShortTermRefPicSet265{};
  uint32_t inter_ref_pic_set_prediction_flag = 0;
  if (stRpsIdx != 0) inter_ref_pic_set_prediction_flag = r.u1();
  if (!inter_ref_pic_set_prediction_flag) return readExplicitSet(r, size, out);

  uint32_t delta_idx_minus1 = 0;
  if (stRpsIdx == numShortTermRefPicSets) delta_idx_minus1 = r.ue();
  const uint32_t delta_rps_sign = r.u1();
  const uint32_t abs_delta_rps_minus1 = r.ue();
  if (overran(r, size)) return Parse265::cut;
  if (int64_t(delta_idx_minus1) + 1 > stRpsIdx || abs_delta_rps_minus1 >= (1u << 15)) return Parse265::invalid;
  const int64_t RefRpsIdx = stRpsIdx - (int64_t(delta_idx_minus1) + 1);
  // The referenced set is missing only when the sequence parameter set itself was cut short.
  if (RefRpsIdx >= int64_t(earlier.size())) return Parse265::cut;
  const ShortTermRefPicSet265& ref = earlier[size_t(RefRpsIdx)];
  const int64_t deltaRps = (1 - 2 * int64_t(delta_rps_sign)) * (int64_t(abs_delta_rps_minus1) + 1);

  const int32_t count = ref.NumDeltaPocs();
  std::array<uint8_t, ShortTermRefPicSet265::kMaxPics + 1> used{};
  std::array<uint8_t, ShortTermRefPicSet265::kMaxPics + 1> useDelta{};
  for (int32_t j = 0; j <= count; ++j) {
    used[j] = uint8_t(r.u1());
    useDelta[j] = used[j] ? 1 : uint8_t(r.u1());
  }
  if (overran(r, size)) return Parse265::cut;

  // The derivation of the standard: pictures of the reference set shifted by deltaRps, plus the
  // reference picture itself, sorted into the negative and positive lists.
  int32_t i = 0;
  auto addS0 = [&](int64_t dPoc, uint8_t usedFlag) {
    if (i >= ShortTermRefPicSet265::kMaxPics) return false;
    out.DeltaPocS0[i] = int32_t(dPoc);
    out.UsedByCurrPicS0[i++] = usedFlag;
    return true;
  };
  for (int32_t j = ref.NumPositivePics - 1; j >= 0; --j) {
    const int64_t dPoc = ref.DeltaPocS1[j] + deltaRps;
    if (dPoc < 0 && useDelta[ref.NumNegativePics + j] && !addS0(dPoc, used[ref.NumNegativePics + j]))
      return Parse265::invalid;
  }
  if (deltaRps < 0 && useDelta[count] && !addS0(deltaRps, used[count])) return Parse265::invalid;
  for (int32_t j = 0; j < ref.NumNegativePics; ++j) {
    const int64_t dPoc = ref.DeltaPocS0[j] + deltaRps;
    if (dPoc < 0 && useDelta[j] && !addS0(dPoc, used[j])) return Parse265::invalid;
  }
  out.NumNegativePics = i;

  i = 0;
  auto addS1 = [&](int64_t dPoc, uint8_t usedFlag) {
    if (out.NumNegativePics + i >= ShortTermRefPicSet265::kMaxPics) return false;
    out.DeltaPocS1[i] = int32_t(dPoc);
    out.UsedByCurrPicS1[i++] = usedFlag;
    return true;
  };
  for (int32_t j = ref.NumNegativePics - 1; j >= 0; --j) {
    const int64_t dPoc = ref.DeltaPocS0[j] + deltaRps;
    if (dPoc > 0 && useDelta[j] && !addS1(dPoc, used[j])) return Parse265::invalid;
  }
  if (deltaRps > 0 && useDelta[count] && !addS1(deltaRps, used[count])) return Parse265::invalid;
  for (int32_t j = 0; j < ref.NumPositivePics; ++j) {
    const int64_t dPoc = ref.DeltaPocS1[j] + deltaRps;
    if (dPoc > 0 && useDelta[ref.NumNegativePics + j] && !addS1(dPoc, used[ref.NumNegativePics + j]))
      return Parse265::invalid;
  }
  out.NumPositivePics = i;
  return Parse265::ok;
}

Parse265 skipScalingListData265(BitReader& r, uint32_t size) {
  for (uint32_t sizeId = 0; sizeId < 4; ++sizeId) {
    for (uint32_t matrixId = 0; matrixId < 6; matrixId += (sizeId == 3) ? 3 : 1) {
      const uint32_t scaling_list_pred_mode_flag = r.u1();
      if (!scaling_list_pred_mode_flag) {
        r.ue();  // scaling_list_pred_matrix_id_delta
      } else {
        const uint32_t coefNum = std::min(64u, 1u << (4 + (sizeId << 1)));
        if (sizeId > 1) r.se();                         // scaling_list_dc_coef_minus8
        for (uint32_t i = 0; i < coefNum; ++i) r.se();  // scaling_list_delta_coef
      }
      if (overran(r, size)) return Parse265::cut;
    }
  }
  return Parse265::ok;
}

NalHeader265 decodeNalHeader265(uint8_t h0, uint8_t h1) {
  NalHeader265 h;
  h.forbiddenBit = h0 >> 7;
  h.NALType = (h0 >> 1) & 63;
  h.NLayerId = (h0 & 1u) * 32 + (h1 >> 3);
  h.NTempID = h1 & 7u;
  return h;
}

}  // namespace qvr
