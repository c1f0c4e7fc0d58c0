#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "bitstream/RBSPObject.h"

class NALU;
class SPS_265;
class PPS_265;
class VPS_265;

// H.265 slice_segment_header(), read against the reference parameter sets: the deepest test an
// H.265 candidate slice passes during repair.
class SliceHeader_265 : public RBSPObject {
 public:
  int32_t first_slice_segment_in_pic_flag = -1;
  int32_t no_output_of_prior_pics_flag = -1;
  int32_t pic_parameter_set_id = -1;
  int32_t dependent_slice_segment_flag = -1;
  int32_t slice_segment_address = -1;
  int32_t slice_type = -1;
  int32_t pic_output_flag = -1;
  int32_t colour_plane_id = -1;
  int32_t pic_order_cnt_lsb = -1;
  int32_t short_term_ref_pic_set_sps_flag = -1;
  int32_t short_term_ref_pic_set_idx = -1;
  int32_t num_long_term_sps = -1;
  int32_t num_long_term_pics = -1;
  int32_t temporal_mvp_enabled_flag = -1;
  int32_t sao_luma_flag = -1;
  int32_t sao_chroma_flag = -1;
  int32_t num_ref_idx_active_override_flag = -1;
  int32_t num_ref_idx_l0_active_minus1 = -1;
  int32_t num_ref_idx_l1_active_minus1 = -1;
  int32_t mvd_l1_zero_flag = -1;
  int32_t cabac_init_flag = -1;
  int32_t collocated_from_l0_flag = -1;
  int32_t collocated_ref_idx = -1;
  int32_t five_minus_max_num_merge_cand = -1;
  int32_t use_integer_mv_flag = -1;
  int32_t qp_delta = -1;
  int32_t cb_qp_offset = -1;
  int32_t cr_qp_offset = -1;
  int32_t act_y_qp_offset = -1;
  int32_t act_cb_qp_offset = -1;
  int32_t act_cr_qp_offset = -1;
  int32_t cu_chroma_qp_offset_enabled_flag = -1;
  int32_t deblocking_filter_override_flag = -1;
  int32_t deblocking_filter_disabled_flag = -1;
  int32_t beta_offset_div2 = -1;
  int32_t tc_offset_div2 = -1;
  int32_t loop_filter_across_slices_enabled_flag = -1;
  int32_t num_entry_point_offsets = -1;
  int32_t offset_len_minus1 = -1;
  int32_t slice_segment_header_extension_length = -1;
  int32_t ref_pic_list_modification_flag_l0 = -1;
  int32_t ref_pic_list_modification_flag_l1 = -1;
  // Owned by the header; the parse steps over these values without keeping them.
  std::vector<int32_t> reserved_flag;
  std::vector<int32_t> lt_idx_sps;
  std::vector<int32_t> poc_lsb_lt;
  std::vector<int32_t> used_by_curr_pic_lt_flag;
  std::vector<int32_t> delta_poc_msb_present_flag;
  std::vector<int32_t> delta_poc_msb_cycle_lt;
  std::vector<int32_t> entry_point_offset_minus1;
  std::vector<int32_t> segment_header_extension_data_byte;
  std::vector<int32_t> list_entry_l0;
  std::vector<int32_t> list_entry_l1;

  // `bytes` starts right after the two-byte NAL unit header of `nalu`, whose NALType is used.
  // When `sizeIsUnitEnd` is set the buffer holds the rest of the unit exactly, and a header that
  // would run past it is invalid; otherwise the buffer is a window that may end anywhere in the
  // unit, and the header is judged on the fields read before the window's end.
  static std::unique_ptr<SliceHeader_265> initSLiceHeader265WithBytes(const uint8_t* bytes, uint32_t size,
                                                                      const NALU* nalu, const SPS_265* sps,
                                                                      const PPS_265* pps, const VPS_265* vps,
                                                                      bool sizeIsUnitEnd = false);

  void initializeValue();
  // True when the slice is judged valid. The VPS is not consulted.
  bool readBytes(const uint8_t* bytes, uint32_t size, const NALU* nalu, const SPS_265* sps, const PPS_265* pps,
                 const VPS_265* vps, bool sizeIsUnitEnd = false);
};
