#include "bitstream/VPS_265.h"

#include "bitstream/BitReader.h"
#include "bitstream/RBSP_265.h"
#include "bitstream/UeSeNumCode.h"

namespace {

constexpr int32_t kMaxLayerSetsMinus1 = 1023;

}  // namespace

std::unique_ptr<VPS_265> VPS_265::initVPS265WithBytes(const uint8_t* bytes, uint32_t size) {
  auto vps = std::make_unique<VPS_265>();
  vps->initializeValue();
  if (!vps->readbytes(bytes, size)) return nullptr;
  return vps;
}

void VPS_265::initializeValue() {
  forbiddenBit = NALType = NLayerId = NTempID = 0;
  video_parameter_set_id = base_layer_internal_flag = base_layer_available_flag = -1;
  max_layers_minus1 = max_sub_layers_minus1 = temporal_id_nesting_flag = reserved_0xffff_16bits = -1;
  sub_layer_ordering_info_present_flag = max_layer_id = num_layer_sets_minus1 = -1;
  timing_info_present_flag = num_units_in_tick = time_scale = poc_proportional_to_timing_flag = -1;
  num_ticks_poc_diff_one_minus1 = num_hrd_parameters = extension_flag = -1;
  max_dec_pic_buffering_minus1.clear();
  max_num_reorder_pics.clear();
  max_latency_increase_plus1.clear();
  hrd_layer_set_idx.clear();
  cprms_present_flag.clear();
}

bool VPS_265::readbytes(const uint8_t* bytes, uint32_t size) {
  if (bytes == nullptr) size = 0;
  qvr::BitReader r(bytes, size);
  forbiddenBit = r.u1();
  NALType = r.u(6);
  NLayerId = r.u(6);
  NTempID = r.u(3);
  video_parameter_set_id = int32_t(r.u(4));
  base_layer_internal_flag = int32_t(r.u1());
  base_layer_available_flag = int32_t(r.u1());
  max_layers_minus1 = int32_t(r.u(6));
  max_sub_layers_minus1 = int32_t(r.u(3));
  temporal_id_nesting_flag = int32_t(r.u1());
  reserved_0xffff_16bits = int32_t(r.u(16));

  // profile_tier_level() is stepped over by the emulation-prevention pattern its zero-filled
  // constraint bytes leave in the stored bytes: the reading resumes three bytes after the 0x03
  // of the last 00 03 00 found. The pattern must lie wholly inside the buffer.
  int64_t resume = -1;
  for (uint32_t i = r.bytePosition(); i + 1 < size; ++i) {
    if (bytes[i] == 0x03 && bytes[i + 1] == 0x00 && bytes[i - 1] == 0x00) resume = int64_t(i) + 3;
  }
  if (resume >= 0 && resume <= int64_t(size) && readAfterProfileTierLevel(bytes, size, uint32_t(resume), 0, false)) {
    return true;
  }

  // Without the pattern (or when it leads to no valid set, e.g. because later fields hold one
  // too) the structure is read as the standard lays it out, over the payload without its
  // emulation-prevention bytes.
  qvr::Rbsp265 rbsp(bytes, size);
  uint32_t bytePos = 6;
  uint32_t bitPos = 0;
  UeSeNumCode::profile_tier_level(1, max_sub_layers_minus1, std::span<const uint8_t>(rbsp.data(), rbsp.size()), bytePos,
                                  bitPos);
  return readAfterProfileTierLevel(rbsp.data(), rbsp.size(), bytePos, bitPos, true);
}

bool VPS_265::readAfterProfileTierLevel(const uint8_t* bytes, uint32_t size, uint32_t bytePosition,
                                        uint32_t bitPosition, bool standardLayout) {
  qvr::BitReader r(bytes, size, bytePosition);
  if (bitPosition != 0) r.u(bitPosition);
  sub_layer_ordering_info_present_flag = -1;
  const size_t subLayers = size_t(max_sub_layers_minus1) + 1;
  max_dec_pic_buffering_minus1.assign(subLayers, 0);
  max_num_reorder_pics.assign(subLayers, 0);
  max_latency_increase_plus1.assign(subLayers, 0);
  // The standard reads the ordering information whatever base_layer_internal_flag says; the
  // pattern path keeps to the base-layer-only reading.
  if (standardLayout || base_layer_internal_flag == 1) {
    sub_layer_ordering_info_present_flag = int32_t(r.u1());
    for (int32_t i = sub_layer_ordering_info_present_flag ? 0 : max_sub_layers_minus1; i <= max_sub_layers_minus1;
         ++i) {
      max_dec_pic_buffering_minus1[size_t(i)] = uint8_t(r.ue());
      max_num_reorder_pics[size_t(i)] = uint8_t(r.ue());
      max_latency_increase_plus1[size_t(i)] = uint8_t(r.ue());
    }
  }
  max_layer_id = int32_t(r.u(6));
  num_layer_sets_minus1 = int32_t(r.ue());
  return num_layer_sets_minus1 <= kMaxLayerSetsMinus1;
}
