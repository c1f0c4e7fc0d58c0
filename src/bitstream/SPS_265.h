#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "bitstream/RBSPObject.h"
#include "bitstream/RBSP_265.h"

// H.265 sequence parameter set. It is told the picture size to expect and refuses a set whose
// coded size does not match it (each dimension at least the expected one and below twice it).
class SPS_265 : public RBSPObject {
 public:
  uint32_t width = 0;  // expected picture size given at creation
  uint32_t height = 0;
  uint32_t forbiddenBit = 0;
  uint32_t NALType = 0;
  uint32_t NLayerId = 0;
  uint32_t NTempID = 0;
  int32_t video_parameter_set_id = -1;
  int32_t max_sub_Layers_minus1 = -1;
  int32_t temporal_id_nesting_flag = -1;
  int32_t seq_parameter_set_id = -1;
  int32_t chroma_format_idc = -1;
  int32_t seperate_color_plane_flag = -1;
  int32_t pic_width_in_luma_samples = 0;
  int32_t pic_height_luma_samples = 0;
  int32_t conformance_window_flag = -1;
  int32_t conf_win_left_offset = -1;
  int32_t conf_win_right_offset = -1;
  int32_t conf_win_top_offset = -1;
  int32_t conf_win_bottom_offset = -1;
  int32_t bit_depth_luma_minus8 = -1;
  int32_t bit_depth_chroma_minus8 = -1;
  int32_t log2_max_pic_order_cnt_lsb_minus4 = -1;
  int32_t sub_layer_ordering_info_present_flag = -1;
  int32_t log2_min_luma_coding_block_size_minus3 = -1;
  int32_t log2_diff_max_min_luma_coding_block_size = -1;
  int32_t log2_min_luma_transform_block_size_minus2 = -1;
  int32_t log2_diff_max_min_luma_transform_block_size = -1;
  int32_t max_transform_hierarchy_depth_inter = -1;
  int32_t max_transform_hierarchy_depth_intra = -1;
  int32_t scaling_list_enabled_flag = -1;
  int32_t sps_scaling_list_data_present_flag = -1;
  int32_t amp_enabled_flag = -1;
  int32_t sample_adaptive_offset_enabled_flag = -1;
  int32_t pcm_enabled_flag = -1;
  int32_t pcm_sample_bit_depth_luma_minus1 = -1;
  int32_t pcm_sample_bit_depth_chroma_minus1 = -1;
  int32_t log2_min_pcm_luma_coding_block_size_minus3 = -1;
  int32_t log2_diff_max_min_pcm_luma_coding_block_size = -1;
  int32_t pcm_loop_filter_disabled_flag = -1;
  int32_t num_short_term_ref_pic_sets = -1;
  int32_t long_term_ref_pics_present_flag = -1;
  int32_t num_long_term_ref_pics_sps = -1;
  int32_t sps_temporal_mvp_enabled_flag = -1;
  int32_t strong_intra_smoothing_enabled_flag = -1;
  int32_t vui_parameters_present_flag = -1;
  int32_t sps_extension_present_flag = -1;
  int32_t sps_range_extension_flag = -1;
  int32_t sps_multilayer_extension_flag = -1;
  int32_t sps_3d_extension_flag = -1;
  int32_t sps_scc_extension_flag = -1;
  int32_t sps_extension_4bits = -1;
  int32_t motion_vector_resolution_control_idc = -1;
  int32_t picSizeInCtbsY = -1;
  int32_t chromaArrayType = -1;
  int32_t PicHeightInCtbsY = -1;
  int32_t PicWidthInCtbsY = -1;
  std::vector<uint8_t> max_dec_pic_buffering_minus1;  // one entry per sub-layer
  std::vector<uint8_t> max_num_reorder_pics;
  std::vector<uint8_t> max_latency_increase_plus1;
  std::vector<uint32_t> lt_ref_pic_poc_lsb_sps;  // num_long_term_ref_pics_sps entries
  std::vector<uint8_t> used_by_curr_pic_lt_sps_flag;
  // The num_short_term_ref_pic_sets sets, which slice segment headers pick or predict from.
  // Fewer are held only when the buffer ended inside them.
  std::vector<qvr::ShortTermRefPicSet265> shortTermRefPicSets;

  // `bytes` starts at the first NAL unit header byte; videoWidth/Height is the expected size.
  static std::unique_ptr<SPS_265> initSPS265WithBytes(const uint8_t* bytes, uint32_t size, uint32_t videoWidth,
                                                      uint32_t videoHeight);

  void initializeValue();
  // True when the set is judged valid.
  bool readbytes(const uint8_t* bytes, uint32_t size);

 private:
  bool readPictureSize(const uint8_t* data, uint32_t size, qvr::BitReader& r, bool searching);
  bool sizeMatches() const;
  bool readAfterPictureSize(qvr::BitReader& r, uint32_t size);
  void deriveCtbCounts();
};
