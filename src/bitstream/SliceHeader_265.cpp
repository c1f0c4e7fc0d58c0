#include "bitstream/SliceHeader_265.h"

#include <algorithm>

#include "bitstream/BitReader.h"
#include "bitstream/NALU.h"
#include "bitstream/PPS_265.h"
#include "bitstream/RBSP_265.h"
#include "bitstream/SPS_265.h"

namespace {

using qvr::BitReader;
using qvr::overran;
using qvr::Parse265;

constexpr int32_t kMaxPicParameterSetId = 63;
constexpr int32_t kMaxExtensionLength = 256;
constexpr uint32_t kMaxRefIdxActiveMinus1 = 14;
constexpr int32_t kSliceB = 0;
constexpr int32_t kSliceP = 1;

// A field the parse does not read stays -1; where a condition tests it the standard's inferred
// value stands in.
int32_t orInferred(int32_t field, int32_t inferred) { return field == -1 ? inferred : field; }

Parse265 skipPredWeightTable(BitReader& r, uint32_t size, bool isB, uint32_t l0, uint32_t l1, int32_t chromaArrayType) {
  if (l0 > kMaxRefIdxActiveMinus1 || (isB && l1 > kMaxRefIdxActiveMinus1)) return Parse265::invalid;
  const bool chroma = chromaArrayType != 0;
  r.ue();              // luma_log2_weight_denom
  if (chroma) r.se();  // delta_chroma_log2_weight_denom
  for (int list = 0; list < (isB ? 2 : 1); ++list) {
    const uint32_t count = (list == 0 ? l0 : l1) + 1;
    uint32_t lumaFlags = 0;
    uint32_t chromaFlags = 0;
    for (uint32_t i = 0; i < count; ++i) lumaFlags |= r.u1() << i;
    if (chroma)
      for (uint32_t i = 0; i < count; ++i) chromaFlags |= r.u1() << i;
    for (uint32_t i = 0; i < count; ++i) {
      if (lumaFlags >> i & 1) {
        r.se();  // delta_luma_weight
        r.se();  // luma_offset
      }
      if (chromaFlags >> i & 1) {
        for (int j = 0; j < 4; ++j) r.se();  // delta_chroma_weight, delta_chroma_offset for Cb and Cr
      }
    }
  }
  return overran(r, size) ? Parse265::cut : Parse265::ok;
}

}  // namespace

std::unique_ptr<SliceHeader_265> SliceHeader_265::initSLiceHeader265WithBytes(const uint8_t* bytes, uint32_t size,
                                                                              const NALU* nalu, const SPS_265* sps,
                                                                              const PPS_265* pps, const VPS_265* vps,
                                                                              bool sizeIsUnitEnd) {
  auto header = std::make_unique<SliceHeader_265>();
  header->initializeValue();
  if (!header->readBytes(bytes, size, nalu, sps, pps, vps, sizeIsUnitEnd)) return nullptr;
  return header;
}

void SliceHeader_265::initializeValue() { *this = SliceHeader_265{}; }

bool SliceHeader_265::readBytes(const uint8_t* bytes, uint32_t size, const NALU* nalu, const SPS_265* sps,
                                const PPS_265* pps, const VPS_265*, bool sizeIsUnitEnd) {
  if (nalu == nullptr || sps == nullptr || pps == nullptr) return false;
  const qvr::Rbsp265 rbsp(bytes, size);
  const uint32_t n = rbsp.size();
  BitReader r(rbsp.data(), n);
  // Running past the buffer: the end of a window says nothing against the slice, the end of the
  // unit itself does (a slice segment carries data after its header).
  const bool atBufferEnd = !sizeIsUnitEnd;
  const uint32_t type = nalu->NALType;

  first_slice_segment_in_pic_flag = int32_t(r.u1());
  if (type >= 16 && type <= 23) no_output_of_prior_pics_flag = int32_t(r.u1());
  const int32_t ppsId = int32_t(r.ue());
  if (overran(r, n)) return atBufferEnd;
  pic_parameter_set_id = ppsId;
  if (pic_parameter_set_id < 0 || pic_parameter_set_id > kMaxPicParameterSetId) return false;

  if (first_slice_segment_in_pic_flag == 0) {
    if (pps->dependent_slice_segments_enabled_flag != 0 && pps->dependent_slice_segments_enabled_flag != -1)
      dependent_slice_segment_flag = int32_t(r.u1());
    slice_segment_address = int32_t(r.u(qvr::ceilLog2(sps->picSizeInCtbsY)));
  }

  if (orInferred(dependent_slice_segment_flag, 0) == 0) {
    for (int32_t i = 0; i < pps->num_extra_slice_header_bits; ++i) r.u1();  // slice_reserved_flag
    slice_type = int32_t(r.ue());
    if (pps->output_flag_present_flag == 1) pic_output_flag = int32_t(r.u1());
    if (sps->seperate_color_plane_flag == 1) colour_plane_id = int32_t(r.u(2));
    if (overran(r, n)) return atBufferEnd;

    // NumPicTotalCurr, the width of the reference list modification entries.
    int64_t numPicTotalCurr = 0;
    bool numPicTotalCurrKnown = true;
    if (type != 19 && type != 20) {
      pic_order_cnt_lsb = int32_t(r.u(uint32_t(sps->log2_max_pic_order_cnt_lsb_minus4) + 4));
      short_term_ref_pic_set_sps_flag = int32_t(r.u1());
      const int32_t numSets = std::max(sps->num_short_term_ref_pic_sets, 0);
      if (short_term_ref_pic_set_sps_flag == 0) {
        qvr::ShortTermRefPicSet265 set;
        const Parse265 result = qvr::readShortTermRefPicSet265(r, n, numSets, numSets, sps->shortTermRefPicSets, set);
        if (result == Parse265::cut) return atBufferEnd;
        if (result == Parse265::invalid) return false;
        numPicTotalCurr += set.numUsedByCurrPic();
      } else {
        if (numSets >= 2) short_term_ref_pic_set_idx = int32_t(r.u(qvr::ceilLog2(numSets)));
        const size_t idx = size_t(orInferred(short_term_ref_pic_set_idx, 0));
        if (idx < sps->shortTermRefPicSets.size())
          numPicTotalCurr += sps->shortTermRefPicSets[idx].numUsedByCurrPic();
        else
          numPicTotalCurrKnown = false;
      }
      if (overran(r, n)) return atBufferEnd;

      if (sps->long_term_ref_pics_present_flag == 1) {
        if (sps->num_long_term_ref_pics_sps >= 1) num_long_term_sps = int32_t(r.ue());
        num_long_term_pics = int32_t(r.ue());
        if (overran(r, n)) return atBufferEnd;
        const int64_t ltSps = orInferred(num_long_term_sps, 0);
        const int64_t total = ltSps + int64_t(num_long_term_pics);
        if (total >= 1) {
          if (ltSps < 0 || ltSps > sps->num_long_term_ref_pics_sps) return false;
          const uint32_t lsbBits = uint32_t(sps->log2_max_pic_order_cnt_lsb_minus4) + 4;
          // A damaged count can be huge; past the buffer every further entry reads as zeros.
          for (int64_t i = 0; i < total && !overran(r, n); ++i) {
            uint32_t used = 0;
            if (i < ltSps) {
              uint32_t ltIdx = 0;
              if (sps->num_long_term_ref_pics_sps > 1) ltIdx = r.u(qvr::ceilLog2(sps->num_long_term_ref_pics_sps));
              if (ltIdx < sps->used_by_curr_pic_lt_sps_flag.size()) used = sps->used_by_curr_pic_lt_sps_flag[ltIdx];
            } else {
              r.u(lsbBits);   // poc_lsb_lt
              used = r.u1();  // used_by_curr_pic_lt_flag
            }
            if (r.u1()) r.ue();  // delta_poc_msb_present_flag; delta_poc_msb_cycle_lt
            numPicTotalCurr += used;
          }
        }
      }
      if (sps->sps_temporal_mvp_enabled_flag == 1) temporal_mvp_enabled_flag = int32_t(r.u1());
    }

    if (sps->sample_adaptive_offset_enabled_flag == 1) {
      sao_luma_flag = int32_t(r.u1());
      if (sps->chromaArrayType != 0) sao_chroma_flag = int32_t(r.u1());
    }
    if (overran(r, n)) return atBufferEnd;

    if (slice_type == kSliceB || slice_type == kSliceP) {
      const bool isB = slice_type == kSliceB;
      num_ref_idx_active_override_flag = int32_t(r.u1());
      if (num_ref_idx_active_override_flag == 1) {
        num_ref_idx_l0_active_minus1 = int32_t(r.ue());
        if (isB) num_ref_idx_l1_active_minus1 = int32_t(r.ue());
      }
      if (overran(r, n)) return atBufferEnd;
      const int32_t l0 = orInferred(num_ref_idx_l0_active_minus1, pps->num_ref_idx_l0_default_active_minus1);
      const int32_t l1 = orInferred(num_ref_idx_l1_active_minus1, pps->num_ref_idx_l1_default_active_minus1);

      if (pps->lists_modification_present_flag == 1 && numPicTotalCurr > 1) {
        // The entries' width depends on a reference picture set the parameter set did not
        // deliver; the fields after them cannot be placed.
        if (!numPicTotalCurrKnown) return true;
        const uint32_t bits = qvr::ceilLog2(numPicTotalCurr);
        ref_pic_list_modification_flag_l0 = int32_t(r.u1());
        if (ref_pic_list_modification_flag_l0 == 1)
          for (int64_t i = 0; i <= int64_t(uint32_t(l0)) && !overran(r, n); ++i) r.u(bits);  // list_entry_l0
        if (isB) {
          ref_pic_list_modification_flag_l1 = int32_t(r.u1());
          if (ref_pic_list_modification_flag_l1 == 1)
            for (int64_t i = 0; i <= int64_t(uint32_t(l1)) && !overran(r, n); ++i) r.u(bits);  // list_entry_l1
        }
      }
      if (isB) mvd_l1_zero_flag = int32_t(r.u1());
      if (pps->cabac_init_present_flag == 1) cabac_init_flag = int32_t(r.u1());
      if (orInferred(temporal_mvp_enabled_flag, 0) == 1) {
        if (isB) collocated_from_l0_flag = int32_t(r.u1());
        const int32_t fromL0 = orInferred(collocated_from_l0_flag, 1);
        if ((fromL0 == 1 && l0 > 0) || (fromL0 == 0 && l1 > 0)) collocated_ref_idx = int32_t(r.ue());
      }
      if ((pps->weighted_pred_flag == 1 && !isB) || (pps->weighted_bipred_flag == 1 && isB)) {
        const Parse265 result = skipPredWeightTable(r, n, isB, uint32_t(l0), uint32_t(l1), sps->chromaArrayType);
        if (result == Parse265::cut) return atBufferEnd;
        if (result == Parse265::invalid) return false;
      }
      five_minus_max_num_merge_cand = int32_t(r.ue());
      if (sps->motion_vector_resolution_control_idc == 2) use_integer_mv_flag = int32_t(r.u1());
    }

    qp_delta = int32_t(r.se());
    if (pps->slice_chroma_qp_offsets_present_flag == 1) {
      cb_qp_offset = int32_t(r.se());
      cr_qp_offset = int32_t(r.se());
    }
    if (pps->slic_act_qp_offsets_present_flag >= 1) {
      act_y_qp_offset = int32_t(r.se());
      act_cb_qp_offset = int32_t(r.se());
      act_cr_qp_offset = int32_t(r.se());
    }
    if (pps->chroma_qp_offset_list_enabled_flag == 1) cu_chroma_qp_offset_enabled_flag = int32_t(r.u1());
    if (pps->deblocking_filter_override_enabled_flag == 1) deblocking_filter_override_flag = int32_t(r.u1());
    // A picture parameter set without deblocking control carries no disabled flag; the standard
    // infers 0 for it, and so must the test below, or the loop filter flag goes unread.
    int32_t disabled = orInferred(pps->deblocking_filter_disabled_flag, 0);
    if (orInferred(deblocking_filter_override_flag, 0) == 1) {
      deblocking_filter_disabled_flag = int32_t(r.u1());
      disabled = deblocking_filter_disabled_flag;
      if (deblocking_filter_disabled_flag == 0) {
        beta_offset_div2 = int32_t(r.se());
        tc_offset_div2 = int32_t(r.se());
      }
    }
    if (pps->loop_filter_across_slices_enabled_flag == 1 &&
        (orInferred(sao_luma_flag, 0) == 1 || orInferred(sao_chroma_flag, 0) == 1 || disabled == 0)) {
      loop_filter_across_slices_enabled_flag = int32_t(r.u1());
    }
    if (overran(r, n)) return atBufferEnd;
  }

  const bool tiles = pps->tiles_enabled_flag == 1;
  const bool wavefronts = pps->entropy_coding_sync_enabled_flag == 1;
  if (tiles || wavefronts) {
    const int32_t count = int32_t(r.ue());
    if (overran(r, n)) return atBufferEnd;
    num_entry_point_offsets = count;
    const int64_t columns = int64_t(uint32_t(pps->num_tile_columns_minus1)) + 1;
    const int64_t rows = int64_t(uint32_t(pps->num_tile_rows_minus1)) + 1;
    int64_t largest = 0;
    if (!tiles)
      largest = int64_t(sps->PicHeightInCtbsY) - 1;
    else if (!wavefronts)
      largest = columns > INT64_MAX / rows ? INT64_MAX : columns * rows - 1;  // damaged counts may be huge
    else
      largest = columns * sps->PicHeightInCtbsY - 1;
    if (num_entry_point_offsets < 0 || num_entry_point_offsets > largest) return false;
    if (num_entry_point_offsets >= 1) {
      offset_len_minus1 = int32_t(r.ue());
      const uint32_t bits = uint32_t(std::min<uint64_t>(uint64_t(uint32_t(offset_len_minus1)) + 1, UINT32_MAX));
      for (int32_t i = 0; i < num_entry_point_offsets && !overran(r, n); ++i) r.u(bits);  // entry_point_offset_minus1
    }
    if (overran(r, n)) return atBufferEnd;
  }

  if (pps->slice_segment_header_extension_present_flag == 1) {
    const int32_t length = int32_t(r.ue());
    if (overran(r, n)) return atBufferEnd;
    slice_segment_header_extension_length = length;
    if (slice_segment_header_extension_length >= 1) {
      if (slice_segment_header_extension_length > kMaxExtensionLength) return false;
      r.u(uint32_t(slice_segment_header_extension_length) * 8);  // slice_segment_header_extension_data_byte
    }
    if (overran(r, n)) return atBufferEnd;
  }
  return true;
}
