#include "bitstream/PPS.h"

#include "bitstream/BitReader.h"

std::unique_ptr<PPS> PPS::initPPSWithBytes(const uint8_t* bytes, uint32_t size) {
  auto pps = std::make_unique<PPS>();
  pps->initialValue();
  pps->readBytes(bytes, size);
  return pps;
}

void PPS::initialValue() { *this = PPS(); }

void PPS::readBytes(const uint8_t* bytes, uint32_t size) {
  qvr::BitReader r(bytes, bytes ? size : 0, 1);
  pic_parameter_set_id = r.ue();
  seq_parameter_set_id = r.ue();
  entropy_coding_mode_flag = r.u1();
  pic_order_present_flag = r.u1();
  num_slice_groups_minus1 = r.ue();
  if (uint32_t(num_slice_groups_minus1) > 0) {
    // Slice-group syntax, skipped so that the fields after it come from the right bits. Counts
    // from damaged data can be huge; once past the end further reads change nothing.
    const uint32_t groups = uint32_t(num_slice_groups_minus1);
    uint32_t slice_group_map_type = r.ue();
    if (slice_group_map_type == 0) {
      for (uint32_t iGroup = 0; iGroup <= groups && !r.pastEnd(); ++iGroup) r.ue();  // run_length_minus1
    } else if (slice_group_map_type == 2) {
      for (uint32_t iGroup = 0; iGroup < groups && !r.pastEnd(); ++iGroup) {
        r.ue();  // top_left
        r.ue();  // bottom_right
      }
    } else if (slice_group_map_type >= 3 && slice_group_map_type <= 5) {
      r.u1();  // slice_group_change_direction_flag
      r.ue();  // slice_group_change_rate_minus1
    } else if (slice_group_map_type == 6) {
      uint32_t pic_size_in_map_units_minus1 = r.ue();
      uint32_t bits = 0;  // Ceil(Log2(num_slice_groups_minus1 + 1))
      while (bits < 32 && (uint64_t(1) << bits) < uint64_t(groups) + 1) ++bits;
      for (uint64_t i = 0; i <= pic_size_in_map_units_minus1 && !r.pastEnd(); ++i) r.u(bits);  // slice_group_id
    }
  }
  num_ref_idx_l0_active_minus1 = r.ue();
  num_ref_idx_l1_active_minus1 = r.ue();
  weighted_pred_flag = r.u1();
  weighted_bipred_idc = r.u(2);
  pic_init_qp_minus26 = r.se();
  pic_init_qs_minus26 = r.se();
  chroma_qp_index_offset = r.se();
  deblocking_filter_control_present_flag = r.u1();
  constrained_intra_pred_flag = r.u1();
  redundant_pic_cnt_present_flag = r.u1();
}
