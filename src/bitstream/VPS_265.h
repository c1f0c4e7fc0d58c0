#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "bitstream/RBSPObject.h"

// H.265 video parameter set. Only its validity matters to the repair: a reference without one
// cannot be used.
class VPS_265 : public RBSPObject {
 public:
  uint32_t forbiddenBit = 0;
  uint32_t NALType = 0;
  uint32_t NLayerId = 0;
  uint32_t NTempID = 0;
  int32_t video_parameter_set_id = -1;
  int32_t base_layer_internal_flag = -1;
  int32_t base_layer_available_flag = -1;
  int32_t max_layers_minus1 = -1;
  int32_t max_sub_layers_minus1 = -1;
  int32_t temporal_id_nesting_flag = -1;
  int32_t reserved_0xffff_16bits = -1;
  int32_t sub_layer_ordering_info_present_flag = -1;
  int32_t max_layer_id = -1;
  int32_t num_layer_sets_minus1 = -1;
  int32_t timing_info_present_flag = -1;
  int32_t num_units_in_tick = -1;
  int32_t time_scale = -1;
  int32_t poc_proportional_to_timing_flag = -1;
  int32_t num_ticks_poc_diff_one_minus1 = -1;
  int32_t num_hrd_parameters = -1;
  int32_t extension_flag = -1;
  // One entry per sub-layer (max_sub_layers_minus1 + 1).
  std::vector<uint8_t> max_dec_pic_buffering_minus1;
  std::vector<uint8_t> max_num_reorder_pics;
  std::vector<uint8_t> max_latency_increase_plus1;
  std::vector<uint8_t> hrd_layer_set_idx;
  std::vector<uint8_t> cprms_present_flag;

  // `bytes` starts at the first NAL unit header byte.
  static std::unique_ptr<VPS_265> initVPS265WithBytes(const uint8_t* bytes, uint32_t size);

  void initializeValue();
  // True when the set is judged valid.
  bool readbytes(const uint8_t* bytes, uint32_t size);

 private:
  bool readAfterProfileTierLevel(const uint8_t* bytes, uint32_t size, uint32_t bytePosition, uint32_t bitPosition,
                                 bool standardLayout);
};
