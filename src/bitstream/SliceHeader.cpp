#include "bitstream/SliceHeader.h"

#include "bitstream/BitReader.h"
#include "bitstream/NALU.h"
#include "bitstream/PPS.h"
#include "bitstream/SPS.h"

using qvr::wrapAdd;
using qvr::wrapMul;

namespace {

// slice_type % 5 as the standard names them.
enum : uint32_t { kP = 0, kB = 1, kI = 2, kSP = 3, kSI = 4 };

// Upper bound for the loops whose end is a code word in the data (list modifications, memory
// management operations). The standard allows at most a few dozen; damaged data must not spin.
constexpr int kMaxLoopedOperations = 66;

void skipRefPicListModification(qvr::BitReader& r) {
  uint32_t ref_pic_list_modification_flag = r.u1();
  if (!ref_pic_list_modification_flag) return;
  for (int n = 0; n < kMaxLoopedOperations && !r.pastEnd(); ++n) {
    uint32_t modification_of_pic_nums_idc = r.ue();
    if (modification_of_pic_nums_idc == 0 || modification_of_pic_nums_idc == 1) {
      r.ue();  // abs_diff_pic_num_minus1
    } else if (modification_of_pic_nums_idc == 2) {
      r.ue();  // long_term_pic_num
    } else {
      break;  // 3 ends the list; anything else is not a valid code and ends it too
    }
  }
}

void skipPredWeightTable(qvr::BitReader& r, uint32_t sliceType, uint32_t refsL0, uint32_t refsL1,
                         int32_t ChromaArrayType) {
  r.ue();                            // luma_log2_weight_denom
  if (ChromaArrayType != 0) r.ue();  // chroma_log2_weight_denom
  const int lists = sliceType == kB ? 2 : 1;
  for (int list = 0; list < lists; ++list) {
    const uint32_t refs = list == 0 ? refsL0 : refsL1;
    for (uint32_t i = 0; i < refs && !r.pastEnd(); ++i) {
      uint32_t luma_weight_flag = r.u1();
      if (luma_weight_flag) {
        r.se();  // luma_weight
        r.se();  // luma_offset
      }
      if (ChromaArrayType != 0) {
        uint32_t chroma_weight_flag = r.u1();
        if (chroma_weight_flag) {
          for (int j = 0; j < 2; ++j) {
            r.se();  // chroma_weight
            r.se();  // chroma_offset
          }
        }
      }
    }
  }
}

void skipAdaptiveRefPicMarking(qvr::BitReader& r) {
  uint32_t adaptive_ref_pic_marking_mode_flag = r.u1();
  if (!adaptive_ref_pic_marking_mode_flag) return;
  for (int n = 0; n < kMaxLoopedOperations && !r.pastEnd(); ++n) {
    uint32_t memory_management_control_operation = r.ue();
    if (memory_management_control_operation == 0 || memory_management_control_operation > 6) break;
    if (memory_management_control_operation == 1 || memory_management_control_operation == 3) r.ue();
    if (memory_management_control_operation == 2) r.ue();  // long_term_pic_num
    if (memory_management_control_operation == 3 || memory_management_control_operation == 6) r.ue();
    if (memory_management_control_operation == 4) r.ue();  // max_long_term_frame_idx_plus1
  }
}

}  // namespace

std::unique_ptr<SliceHeader> SliceHeader::initIDRWithBytes(const uint8_t* bytes, uint32_t size, const NALU* nalu,
                                                           const SPS* sps, const PPS* pps) {
  SliceHeader header;
  if (!header.readBytes(bytes, size, nalu, sps, pps)) return nullptr;
  return std::make_unique<SliceHeader>(header);
}

void SliceHeader::initialValue() { *this = SliceHeader(); }

bool SliceHeader::readBytes(const uint8_t* bytes, uint32_t size, const NALU* nalu, const SPS* sps, const PPS* pps) {
  initialValue();
  if (nalu == nullptr || (nalu->NALType != 1 && nalu->NALType != 5)) return false;
  // Without the reference parameter sets there is nothing to judge the slice against.
  if (sps == nullptr || pps == nullptr) return false;
  const bool idr = nalu->NALType == 5;
  totalBytesGiven = size;

  qvr::BitReader r(bytes, bytes ? size : 0);
  first_mb_in_slice = r.ue();
  slice_type = r.ue();
  if (slice_type < 0 || slice_type > 9) return false;
  if (idr && slice_type != 2 && slice_type != 4 && slice_type != 7 && slice_type != 9) return false;
  const uint32_t type = uint32_t(slice_type) % 5;

  pic_parameter_set_id = r.ue();
  if (sps->separate_colour_plane_flag != 0) colour_plane_id = r.u(2);
  frame_num = r.u(uint32_t(sps->log2_max_frame_num_minus4) + 4);
  // A window that ends here still judges the slice; the rest keeps its initial values.
  if (r.bytePosition() >= size) return true;

  if (sps->frame_mbs_only_flag == 0) {
    field_pic_flag = r.u1();
    if (field_pic_flag == 1) bottom_field_flag = r.u1();
  }
  const bool fieldPic = field_pic_flag == 1;
  if (idr) {
    idr_pic_id = r.ue();
    PrevRefFrameNum = 0;
  }
  if (sps->pic_order_cnt_type == 0) {
    pic_order_cnt_lsb = r.u(uint32_t(sps->log2_max_pic_order_cnt_lsb_minus4) + 4);
    if (pps->pic_order_present_flag == 1 && !fieldPic) delta_pic_order_cnt_bottom = r.se();
  }

  // The syntax between the picture order fields and slice_qp_delta, read as the standard lays it
  // out so that slice_qp_delta comes from the right bits in every kind of slice.
  if (sps->pic_order_cnt_type == 1 && sps->delta_pic_order_always_zero_flag == 0) {
    r.se();                                                     // delta_pic_order_cnt[0]
    if (pps->pic_order_present_flag == 1 && !fieldPic) r.se();  // delta_pic_order_cnt[1]
  }
  if (pps->redundant_pic_cnt_present_flag == 1) r.ue();  // redundant_pic_cnt
  if (type == kB) r.u1();                                // direct_spatial_mv_pred_flag
  uint32_t refsL0 = uint32_t(pps->num_ref_idx_l0_active_minus1) + 1;
  uint32_t refsL1 = uint32_t(pps->num_ref_idx_l1_active_minus1) + 1;
  if (type == kP || type == kSP || type == kB) {
    uint32_t num_ref_idx_active_override_flag = r.u1();
    if (num_ref_idx_active_override_flag) {
      refsL0 = r.ue() + 1;
      if (type == kB) refsL1 = r.ue() + 1;
    }
  }
  if (type != kI && type != kSI) {
    skipRefPicListModification(r);
    if (type == kB) skipRefPicListModification(r);
  }
  if ((pps->weighted_pred_flag == 1 && (type == kP || type == kSP)) || (pps->weighted_bipred_idc == 1 && type == kB)) {
    skipPredWeightTable(r, type, refsL0, refsL1, sps->ChromaArrayType);
  }
  if (nalu->NRI != 0) {
    if (idr) {
      dec_ref_pic_marking.no_output_of_prior_pics_flag = r.u1();
      dec_ref_pic_marking.long_term_reference_flag = r.u1();
    } else {
      skipAdaptiveRefPicMarking(r);
    }
  }
  if (pps->entropy_coding_mode_flag == 1 && type != kI && type != kSI) r.ue();  // cabac_init_idc
  slice_qp_delta = r.se();

  if (field_pic_flag == -1) field_pic_flag = 0;
  MbaffFrameFlag = (sps->mb_adaptive_frame_field_flag != 0 && field_pic_flag == 0) ? 1 : 0;
  PicHeightInMbs = sps->FrameHeightInMbs / (1 + field_pic_flag);
  PicHeightInSamplesL = wrapMul(16, PicHeightInMbs);
  PicHeightInSamplesC = wrapMul(PicHeightInMbs, sps->MbHeightC);
  PicSizeInMbs = wrapMul(sps->PicWidthInMbs, PicHeightInMbs);
  if (field_pic_flag == 0) {
    MaxPicNum = sps->MaxFrameNum;
    CurrPicNum = frame_num;
  } else {
    MaxPicNum = wrapMul(2, sps->MaxFrameNum);
    CurrPicNum = wrapAdd(wrapMul(2, frame_num), 1);
  }
  if (bottom_field_flag == -1) bottom_field_flag = 0;
  return true;
}
