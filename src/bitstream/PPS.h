#pragma once

#include <cstdint>
#include <memory>

#include "bitstream/RBSPObject.h"

// The leading fields of an H.264 picture parameter set; -1 marks a field the parse did not reach.
class PPS : public RBSPObject {
 public:
  int32_t pic_parameter_set_id = -1;
  int32_t seq_parameter_set_id = -1;
  int32_t entropy_coding_mode_flag = -1;
  int32_t pic_order_present_flag = -1;
  int32_t num_slice_groups_minus1 = -1;
  int32_t num_ref_idx_l0_active_minus1 = -1;
  int32_t num_ref_idx_l1_active_minus1 = -1;
  int32_t weighted_pred_flag = -1;
  int32_t weighted_bipred_idc = -1;
  int32_t pic_init_qp_minus26 = -1;
  int32_t pic_init_qs_minus26 = -1;
  int32_t chroma_qp_index_offset = -1;
  int32_t deblocking_filter_control_present_flag = -1;
  int32_t constrained_intra_pred_flag = -1;
  int32_t redundant_pic_cnt_present_flag = -1;

  // `bytes` starts at the NAL unit header byte (0x68 for a stored PPS); nothing past `size` is
  // read (a null buffer reads as empty). Never fails. Slice-group syntax is skipped as the
  // standard lays it out; the trailing fields from transform_8x8_mode_flag on are not read.
  static std::unique_ptr<PPS> initPPSWithBytes(const uint8_t* bytes, uint32_t size);

  void initialValue();
  void readBytes(const uint8_t* bytes, uint32_t size);
};
