#include "bitstream/SPS_265.h"

#include <algorithm>

#include "bitstream/BitReader.h"
#include "bitstream/UeSeNumCode.h"

namespace {

using qvr::BitReader;
using qvr::overran;
using qvr::Parse265;

constexpr int32_t kMaxSeqParameterSetId = 15;
constexpr int32_t kMaxLongTermRefPicsSps = 32;
constexpr uint32_t kMaxShortTermRefPicSets = 64;
// The fields after profile_tier_level() can start no later than this: the structure is at most
// 12 bytes plus 12 for each of seven sub-layers, after the 3 bytes before it. Bounding the
// position search keeps a long damaged set from costing quadratic time.
constexpr uint32_t kSearchEnd = 3 + 12 + 2 + 7 * 12 + 1;

void skipSubLayerHrdParameters(BitReader& r, uint32_t size, uint32_t cpbCnt, bool subPicParams) {
  for (uint64_t k = 0; k <= cpbCnt && !overran(r, size); ++k) {
    r.ue();  // bit_rate_value_minus1
    r.ue();  // cpb_size_value_minus1
    if (subPicParams) {
      r.ue();  // cpb_size_du_value_minus1
      r.ue();  // bit_rate_du_value_minus1
    }
    r.u1();  // cbr_flag
  }
}

void skipHrdParameters(BitReader& r, uint32_t size, bool commonInfPresent, int32_t maxNumSubLayersMinus1) {
  uint32_t nal_hrd_parameters_present_flag = 0;
  uint32_t vcl_hrd_parameters_present_flag = 0;
  uint32_t sub_pic_hrd_params_present_flag = 0;
  if (commonInfPresent) {
    nal_hrd_parameters_present_flag = r.u1();
    vcl_hrd_parameters_present_flag = r.u1();
    if (nal_hrd_parameters_present_flag || vcl_hrd_parameters_present_flag) {
      sub_pic_hrd_params_present_flag = r.u1();
      if (sub_pic_hrd_params_present_flag) {
        r.u(8);  // tick_divisor_minus2
        r.u(5);  // du_cpb_removal_delay_increment_length_minus1
        r.u1();  // sub_pic_cpb_params_in_pic_timing_sei_flag
        r.u(5);  // dpb_output_delay_du_length_minus1
      }
      r.u(4);                                       // bit_rate_scale
      r.u(4);                                       // cpb_size_scale
      if (sub_pic_hrd_params_present_flag) r.u(4);  // cpb_size_du_scale
      r.u(5);                                       // initial_cpb_removal_delay_length_minus1
      r.u(5);                                       // au_cpb_removal_delay_length_minus1
      r.u(5);                                       // dpb_output_delay_length_minus1
    }
  }
  for (int32_t i = 0; i <= maxNumSubLayersMinus1 && !overran(r, size); ++i) {
    const uint32_t fixed_pic_rate_general_flag = r.u1();
    uint32_t fixed_pic_rate_within_cvs_flag = 1;
    if (!fixed_pic_rate_general_flag) fixed_pic_rate_within_cvs_flag = r.u1();
    uint32_t low_delay_hrd_flag = 0;
    if (fixed_pic_rate_within_cvs_flag) {
      r.ue();  // elemental_duration_in_tc_minus1
    } else {
      low_delay_hrd_flag = r.u1();
    }
    uint32_t cpb_cnt_minus1 = 0;
    if (!low_delay_hrd_flag) cpb_cnt_minus1 = r.ue();
    if (nal_hrd_parameters_present_flag)
      skipSubLayerHrdParameters(r, size, cpb_cnt_minus1, sub_pic_hrd_params_present_flag);
    if (vcl_hrd_parameters_present_flag)
      skipSubLayerHrdParameters(r, size, cpb_cnt_minus1, sub_pic_hrd_params_present_flag);
  }
}

void skipVuiParameters(BitReader& r, uint32_t size, int32_t maxSubLayersMinus1) {
  if (r.u1()) {                  // aspect_ratio_info_present_flag
    if (r.u(8) == 255) r.u(32);  // aspect_ratio_idc; sar_width, sar_height
  }
  if (r.u1()) r.u1();     // overscan_info_present_flag; overscan_appropriate_flag
  if (r.u1()) {           // video_signal_type_present_flag
    r.u(3);               // video_format
    r.u1();               // video_full_range_flag
    if (r.u1()) r.u(24);  // colour_description_present_flag; primaries, transfer, matrix
  }
  if (r.u1()) {  // chroma_loc_info_present_flag
    r.ue();
    r.ue();
  }
  r.u1();        // neutral_chroma_indication_flag
  r.u1();        // field_seq_flag
  r.u1();        // frame_field_info_present_flag
  if (r.u1()) {  // default_display_window_flag
    for (int i = 0; i < 4; ++i) r.ue();
  }
  if (r.u1()) {          // vui_timing_info_present_flag
    r.u(32);             // vui_num_units_in_tick
    r.u(32);             // vui_time_scale
    if (r.u1()) r.ue();  // vui_poc_proportional_to_timing_flag; vui_num_ticks_poc_diff_one_minus1
    if (r.u1()) skipHrdParameters(r, size, true, maxSubLayersMinus1);  // vui_hrd_parameters_present_flag
  }
  if (r.u1()) {                          // bitstream_restriction_flag
    r.u1();                              // tiles_fixed_structure_flag
    r.u1();                              // motion_vectors_over_pic_boundaries_flag
    r.u1();                              // restricted_ref_pic_lists_flag
    for (int i = 0; i < 5; ++i) r.ue();  // segmentation, bytes/bits denominators, mv lengths
  }
}

void skip3dExtension(BitReader& r) {
  for (int d = 0; d <= 1; ++d) {
    r.u1();  // iv_di_mc_enabled_flag
    r.u1();  // iv_mv_scal_enabled_flag
    if (d == 0) {
      r.ue();  // log2_ivmc_sub_pb_size_minus3
      r.u(4);  // iv_res_pred, depth_ref, vsp_mc, dbbp enabled flags
    } else {
      r.u1();  // tex_mc_enabled_flag
      r.ue();  // log2_texmc_sub_pb_size_minus3
      r.u(5);  // intra_contour, intra_dc_only_wedge, cqt_cu_part_pred, inter_dc_only, skip_intra
    }
  }
}

}  // namespace

std::unique_ptr<SPS_265> SPS_265::initSPS265WithBytes(const uint8_t* bytes, uint32_t size, uint32_t videoWidth,
                                                      uint32_t videoHeight) {
  auto sps = std::make_unique<SPS_265>();
  sps->width = videoWidth;
  sps->height = videoHeight;
  sps->initializeValue();
  if (!sps->readbytes(bytes, size)) return nullptr;
  return sps;
}

void SPS_265::initializeValue() {
  const uint32_t w = width;
  const uint32_t h = height;
  *this = SPS_265{};
  width = w;
  height = h;
}

bool SPS_265::sizeMatches() const {
  return width != 0 && height != 0 && uint32_t(pic_width_in_luma_samples) / width == 1 &&
         uint32_t(pic_height_luma_samples) / height == 1;
}

// seq_parameter_set_id .. pic_height_in_luma_samples at the reader's position. While searching,
// implausible identifiers move the reading on to the next byte, as long as bytes remain.
bool SPS_265::readPictureSize(const uint8_t* data, uint32_t size, BitReader& r, bool searching) {
  const uint32_t limit = std::min(size, kSearchEnd);
  for (;;) {
    seq_parameter_set_id = int32_t(r.ue());
    chroma_format_idc = int32_t(r.ue());
    if (seq_parameter_set_id <= kMaxSeqParameterSetId && chroma_format_idc < 4) break;
    if (!searching) return false;
    const uint32_t next = r.bytePosition() + 1;
    if (next >= limit) return false;
    r = BitReader(data, size, next);
  }
  seperate_color_plane_flag = chroma_format_idc == 3 ? int32_t(r.u1()) : 0;
  chromaArrayType = seperate_color_plane_flag != 0 ? 0 : chroma_format_idc;
  pic_width_in_luma_samples = int32_t(r.ue());
  pic_height_luma_samples = int32_t(r.ue());
  if (sizeMatches()) return true;
  pic_width_in_luma_samples = 0;
  pic_height_luma_samples = 0;
  return false;
}

bool SPS_265::readbytes(const uint8_t* bytes, uint32_t size) {
  const qvr::Rbsp265 rbsp(bytes, size);
  const uint8_t* data = rbsp.data();
  const uint32_t n = rbsp.size();
  BitReader r(data, n);
  forbiddenBit = r.u1();
  NALType = r.u(6);
  NLayerId = r.u(6);
  NTempID = r.u(3);
  video_parameter_set_id = int32_t(r.u(4));
  max_sub_Layers_minus1 = int32_t(r.u(3));
  temporal_id_nesting_flag = int32_t(r.u1());

  // Where profile_tier_level() says the fields start, when the size found there is the one
  // expected; otherwise the byte-by-byte search for a position that gives that size.
  uint32_t bytePos = r.bytePosition();
  uint32_t bitPos = r.bitPosition();
  UeSeNumCode::profile_tier_level(1, max_sub_Layers_minus1, std::span<const uint8_t>(data, n), bytePos, bitPos);
  BitReader atStandard(data, n, bytePos);
  bool found = bitPos == 0 && readPictureSize(data, n, atStandard, false);
  if (found) {
    r = atStandard;
  } else {
    for (uint32_t p = 3; p < std::min(n, kSearchEnd); ++p) {
      BitReader candidate(data, n, p);
      if (readPictureSize(data, n, candidate, true)) {
        r = candidate;
        found = true;
        break;
      }
    }
  }
  if (!found) return false;

  conformance_window_flag = int32_t(r.u1());
  if (pic_height_luma_samples == 0 || pic_width_in_luma_samples == 0) return false;
  return readAfterPictureSize(r, n);
}

bool SPS_265::readAfterPictureSize(BitReader& r, uint32_t size) {
  // From here on a buffer that ends early (a window of the repair scan) stops the parse: the
  // fields not reached stay unread and the set is judged on what was read.
  if (conformance_window_flag == 1) {
    conf_win_left_offset = int32_t(r.ue());
    conf_win_right_offset = int32_t(r.ue());
    conf_win_top_offset = int32_t(r.ue());
    conf_win_bottom_offset = int32_t(r.ue());
  }
  bit_depth_luma_minus8 = int32_t(r.ue());
  bit_depth_chroma_minus8 = int32_t(r.ue());
  log2_max_pic_order_cnt_lsb_minus4 = int32_t(r.ue());
  sub_layer_ordering_info_present_flag = int32_t(r.u1());
  const size_t subLayers = size_t(max_sub_Layers_minus1) + 1;
  max_dec_pic_buffering_minus1.assign(subLayers, 0);
  max_num_reorder_pics.assign(subLayers, 0);
  max_latency_increase_plus1.assign(subLayers, 0);
  for (int32_t i = sub_layer_ordering_info_present_flag ? 0 : max_sub_Layers_minus1; i <= max_sub_Layers_minus1; ++i) {
    max_dec_pic_buffering_minus1[size_t(i)] = uint8_t(r.ue());
    max_num_reorder_pics[size_t(i)] = uint8_t(r.ue());
    max_latency_increase_plus1[size_t(i)] = uint8_t(r.ue());
  }
  log2_min_luma_coding_block_size_minus3 = int32_t(r.ue());
  log2_diff_max_min_luma_coding_block_size = int32_t(r.ue());
  if (overran(r, size)) return true;
  deriveCtbCounts();
  log2_min_luma_transform_block_size_minus2 = int32_t(r.ue());
  log2_diff_max_min_luma_transform_block_size = int32_t(r.ue());
  max_transform_hierarchy_depth_inter = int32_t(r.ue());
  max_transform_hierarchy_depth_intra = int32_t(r.ue());
  scaling_list_enabled_flag = int32_t(r.u1());
  if (scaling_list_enabled_flag == 1) {
    sps_scaling_list_data_present_flag = int32_t(r.u1());
    if (sps_scaling_list_data_present_flag == 1 && qvr::skipScalingListData265(r, size) != Parse265::ok) return true;
  }
  amp_enabled_flag = int32_t(r.u1());
  sample_adaptive_offset_enabled_flag = int32_t(r.u1());
  pcm_enabled_flag = int32_t(r.u1());
  if (pcm_enabled_flag == 1) {
    pcm_sample_bit_depth_luma_minus1 = int32_t(r.u(4));
    pcm_sample_bit_depth_chroma_minus1 = int32_t(r.u(4));
    log2_min_pcm_luma_coding_block_size_minus3 = int32_t(r.ue());
    log2_diff_max_min_pcm_luma_coding_block_size = int32_t(r.ue());
    pcm_loop_filter_disabled_flag = int32_t(r.u1());
  }
  if (overran(r, size)) return true;

  const uint32_t numSets = r.ue();
  if (overran(r, size)) return true;
  num_short_term_ref_pic_sets = int32_t(numSets);
  if (numSets > kMaxShortTermRefPicSets) return false;
  shortTermRefPicSets.reserve(numSets);
  for (uint32_t i = 0; i < numSets; ++i) {
    qvr::ShortTermRefPicSet265 set;
    const Parse265 result =
        qvr::readShortTermRefPicSet265(r, size, int32_t(i), int32_t(numSets), shortTermRefPicSets, set);
    if (result == Parse265::cut) return true;
    if (result == Parse265::invalid) return false;
    shortTermRefPicSets.push_back(set);
  }

  long_term_ref_pics_present_flag = int32_t(r.u1());
  if (long_term_ref_pics_present_flag == 1) {
    num_long_term_ref_pics_sps = int32_t(r.ue());
    if (overran(r, size)) return true;
    if (num_long_term_ref_pics_sps < 0 || num_long_term_ref_pics_sps > kMaxLongTermRefPicsSps) return false;
    const uint32_t lsbBits = uint32_t(log2_max_pic_order_cnt_lsb_minus4) + 4;
    for (int32_t i = 0; i < num_long_term_ref_pics_sps; ++i) {
      lt_ref_pic_poc_lsb_sps.push_back(r.u(lsbBits));
      used_by_curr_pic_lt_sps_flag.push_back(uint8_t(r.u1()));
    }
  }
  if (overran(r, size)) return true;

  sps_temporal_mvp_enabled_flag = int32_t(r.u1());
  strong_intra_smoothing_enabled_flag = int32_t(r.u1());
  vui_parameters_present_flag = int32_t(r.u1());
  if (vui_parameters_present_flag == 1) skipVuiParameters(r, size, max_sub_Layers_minus1);
  if (overran(r, size)) return true;

  const int32_t extensionPresent = int32_t(r.u1());
  if (overran(r, size)) return true;
  sps_extension_present_flag = extensionPresent;
  if (sps_extension_present_flag == 1) {
    sps_range_extension_flag = int32_t(r.u1());
    sps_multilayer_extension_flag = int32_t(r.u1());
    sps_3d_extension_flag = int32_t(r.u1());
    sps_scc_extension_flag = int32_t(r.u1());
    sps_extension_4bits = int32_t(r.u(4));
  }
  if (sps_range_extension_flag == 1) r.u(9);       // transform skip, implicit rdpcm, ... flags
  if (sps_multilayer_extension_flag == 1) r.u1();  // inter_view_mv_vert_constraint_flag
  if (sps_3d_extension_flag == 1) skip3dExtension(r);
  if (sps_scc_extension_flag == 1) {
    r.u1();          // sps_curr_pic_ref_enabled_flag
    if (r.u1()) {    // palette_mode_enabled_flag
      r.ue();        // palette_max_size
      r.ue();        // delta_palette_max_predictor_size
      if (r.u1()) {  // sps_palette_predictor_initializers_present_flag
        const uint64_t entries = uint64_t(r.ue()) + 1;
        const uint32_t components = chroma_format_idc == 0 ? 1 : 3;
        for (uint32_t comp = 0; comp < components; ++comp) {
          const uint32_t bits = 8 + uint32_t(comp == 0 ? bit_depth_luma_minus8 : bit_depth_chroma_minus8);
          for (uint64_t i = 0; i < entries && !overran(r, size); ++i) r.u(bits);
        }
      }
    }
    const int32_t idc = int32_t(r.u(2));
    if (overran(r, size)) return true;
    motion_vector_resolution_control_idc = idc;
  }
  return true;
}

void SPS_265::deriveCtbCounts() {
  const uint64_t ctbLog2 = uint64_t(uint32_t(log2_min_luma_coding_block_size_minus3)) + 3 +
                           uint32_t(log2_diff_max_min_luma_coding_block_size);
  // Coding tree blocks are 16 to 64 samples wide; far larger exponents come only from damaged
  // bits and leave the counts unset rather than overflowing.
  if (ctbLog2 > 30) return;
  const uint64_t ctbSize = uint64_t(1) << ctbLog2;
  const uint64_t w = (uint64_t(uint32_t(pic_width_in_luma_samples)) + ctbSize - 1) / ctbSize;
  const uint64_t h = (uint64_t(uint32_t(pic_height_luma_samples)) + ctbSize - 1) / ctbSize;
  const uint64_t cap = uint64_t(INT32_MAX);
  PicWidthInCtbsY = int32_t(std::min(w, cap));
  PicHeightInCtbsY = int32_t(std::min(h, cap));
  picSizeInCtbsY = int32_t(std::min(w * h, cap));
}
