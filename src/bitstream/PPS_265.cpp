#include "bitstream/PPS_265.h"

#include "bitstream/BitReader.h"
#include "bitstream/RBSP_265.h"
#include "bitstream/SPS_265.h"

using qvr::overran;

std::unique_ptr<PPS_265> PPS_265::initPPS265WithBytes(const uint8_t* bytes, uint32_t size, const SPS_265* sps) {
  auto pps = std::make_unique<PPS_265>();
  pps->initializeValue();
  if (!pps->readbytes(bytes, size, sps)) return nullptr;
  return pps;
}

void PPS_265::initializeValue() { *this = PPS_265{}; }

bool PPS_265::readbytes(const uint8_t* bytes, uint32_t size, const SPS_265* sps) {
  const qvr::Rbsp265 rbsp(bytes, size);
  const uint32_t n = rbsp.size();
  qvr::BitReader r(rbsp.data(), n);
  forbiddenBit = r.u1();
  NALType = r.u(6);
  NLayerId = r.u(6);
  NTempID = r.u(3);

  pic_parameter_set_id = int32_t(r.ue());
  seq_parameter_set_id = int32_t(r.ue());
  dependent_slice_segments_enabled_flag = int32_t(r.u1());
  output_flag_present_flag = int32_t(r.u1());
  num_extra_slice_header_bits = int32_t(r.u(3));
  sign_data_hiding_enabled_flag = int32_t(r.u1());
  cabac_init_present_flag = int32_t(r.u1());
  num_ref_idx_l0_default_active_minus1 = int32_t(r.ue());
  num_ref_idx_l1_default_active_minus1 = int32_t(r.ue());
  init_qp_minus26 = int32_t(r.se());
  constrained_intra_pred_flag = int32_t(r.u1());
  transform_skip_enabled_flag = int32_t(r.u1());
  cu_qp_delta_enabled_flag = int32_t(r.u1());
  if (cu_qp_delta_enabled_flag == 1) diff_cu_qp_delta_depth = int32_t(r.ue());
  cb_qp_offset = int32_t(r.se());
  cr_qp_offset = int32_t(r.se());
  slice_chroma_qp_offsets_present_flag = int32_t(r.u1());
  weighted_pred_flag = int32_t(r.u1());
  weighted_bipred_flag = int32_t(r.u1());
  transquant_bypass_enabled_flag = int32_t(r.u1());
  tiles_enabled_flag = int32_t(r.u1());
  entropy_coding_sync_enabled_flag = int32_t(r.u1());

  if (tiles_enabled_flag == 1) {
    num_tile_columns_minus1 = int32_t(r.ue());
    num_tile_rows_minus1 = int32_t(r.ue());
    uniform_spacing_flag = int32_t(r.u1());
    if (uniform_spacing_flag == 0) {
      if (sps != nullptr && sps->PicWidthInCtbsY >= 0 && num_tile_columns_minus1 >= 1 &&
          num_tile_columns_minus1 >= sps->PicWidthInCtbsY) {
        return false;
      }
      // Damaged counts can be huge; past the end of the buffer every further width is zero, so
      // the loops stop there without changing what follows.
      for (int64_t i = 0; i < int64_t(uint32_t(num_tile_columns_minus1)) && !overran(r, n); ++i)
        column_width_minus1.push_back(r.ue());
      for (int64_t i = 0; i < int64_t(uint32_t(num_tile_rows_minus1)) && !overran(r, n); ++i)
        row_height_minus1.push_back(r.ue());
    }
    loop_filter_across_tiles_enabled_flag = int32_t(r.u1());
  }

  loop_filter_across_slices_enabled_flag = int32_t(r.u1());
  deblocking_filter_control_present_flag = int32_t(r.u1());
  if (deblocking_filter_control_present_flag == 1) {
    deblocking_filter_override_enabled_flag = int32_t(r.u1());
    deblocking_filter_disabled_flag = int32_t(r.u1());
    if (deblocking_filter_disabled_flag == 0) {
      beta_offset_div2 = int32_t(r.se());
      tc_offset_div2 = int32_t(r.se());
    }
  }

  scaling_list_data_present_flag = int32_t(r.u1());
  if (scaling_list_data_present_flag == 1) qvr::skipScalingListData265(r, n);
  lists_modification_present_flag = int32_t(r.u1());
  log2_parallel_merge_level_minus2 = int32_t(r.ue());
  slice_segment_header_extension_present_flag = int32_t(r.u1());
  extension_present_flag = int32_t(r.u1());
  if (extension_present_flag == 1) {
    range_extension_flag = int32_t(r.u1());
    multilayer_extension_flag = int32_t(r.u1());
    p3d_extension_flag = int32_t(r.u1());
    scc_extension_flag = int32_t(r.u1());
    extension_4bits = int32_t(r.u(4));
  }

  if (range_extension_flag == 1) {
    if (transform_skip_enabled_flag == 1) r.ue();  // log2_max_transform_skip_block_size_minus2
    r.u1();                                        // cross_component_prediction_enabled_flag
    chroma_qp_offset_list_enabled_flag = int32_t(r.u1());
    if (chroma_qp_offset_list_enabled_flag == 1) {
      r.ue();  // diff_cu_chroma_qp_offset_depth
      const uint32_t chroma_qp_offset_list_len_minus1 = r.ue();
      for (uint64_t i = 0; i <= chroma_qp_offset_list_len_minus1 && !overran(r, n); ++i) {
        r.se();  // cb_qp_offset_list
        r.se();  // cr_qp_offset_list
      }
    }
    r.ue();  // log2_sao_offset_scale_luma
    r.ue();  // log2_sao_offset_scale_chroma
  }
  return true;
}
