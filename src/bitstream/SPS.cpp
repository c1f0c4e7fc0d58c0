#include "bitstream/SPS.h"

#include "bitstream/BitReader.h"

using qvr::wrapAdd;
using qvr::wrapMul;

namespace {

bool profileHasChromaInfo(uint8_t profile) {
  switch (profile) {
    case 100:
    case 110:
    case 122:
    case 244:
    case 44:
    case 83:
    case 86:
    case 118:
    case 128:
      return true;
    default:
      return false;
  }
}

// scaling_list(): only the positions matter here, the matrices are not kept.
void skipScalingList(qvr::BitReader& r, int sizeOfScalingList) {
  uint32_t lastScale = 8;
  uint32_t nextScale = 8;
  for (int j = 0; j < sizeOfScalingList; ++j) {
    if (nextScale != 0) {
      uint32_t delta_scale = r.se();
      nextScale = (lastScale + delta_scale + 256) % 256;
    }
    lastScale = (nextScale == 0) ? lastScale : nextScale;
  }
}

}  // namespace

std::unique_ptr<SPS> SPS::initSPSWithBytes(const uint8_t* bytes, uint32_t size) {
  auto sps = std::make_unique<SPS>();
  sps->initialValue();
  sps->readBytes(bytes, size);
  return sps;
}

void SPS::initialValue() { *this = SPS(); }

void SPS::readBytes(const uint8_t* bytes, uint32_t size) {
  if (bytes == nullptr) size = 0;
  if (size > 1) profile_idc = bytes[1];
  if (size > 3) level_idc = bytes[3];

  qvr::BitReader r(bytes, size, 4);
  seq_parameter_set_id = r.ue();
  if (profileHasChromaInfo(profile_idc)) {
    chroma_format_idc = r.ue();
    if (chroma_format_idc == 3) separate_colour_plane_flag = r.u1();
    bit_depth_luma_minus8 = r.ue();
    bit_depth_chroma_minus8 = r.ue();
    qpprime_y_zero_transform_bypass_flag = r.u1();
    seq_scaling_matrix_present_flag = r.u1();
    if (seq_scaling_matrix_present_flag) {
      const int lists = (chroma_format_idc != 3) ? 8 : 12;
      for (int i = 0; i < lists; ++i) {
        uint32_t seq_scaling_list_present_flag = r.u1();
        if (seq_scaling_list_present_flag) skipScalingList(r, i < 6 ? 16 : 64);
      }
    }
  }
  log2_max_frame_num_minus4 = r.ue();
  pic_order_cnt_type = r.ue();
  if (pic_order_cnt_type == 0) {
    log2_max_pic_order_cnt_lsb_minus4 = r.ue();
  } else if (pic_order_cnt_type == 1) {
    delta_pic_order_always_zero_flag = r.u1();
    r.se();  // offset_for_non_ref_pic
    r.se();  // offset_for_top_to_bottom_field
    uint32_t num_ref_frames_in_pic_order_cnt_cycle = r.ue();
    for (uint32_t i = 0; i < num_ref_frames_in_pic_order_cnt_cycle && !r.pastEnd(); ++i) {
      r.se();  // offset_for_ref_frame[i]
    }
  }
  max_num_ref_frames = r.ue();
  gaps_in_frame_num_value_allowed_flag = r.u1();
  pic_width_in_mbs_minus1 = r.ue();
  pic_height_in_map_units_minus1 = r.ue();
  frame_mbs_only_flag = r.u1();
  if (!frame_mbs_only_flag) mb_adaptive_frame_field_flag = r.u1();
  direct_8x8_inference_flag = r.u1();
  frame_cropping_flag = r.u1();
  if (frame_cropping_flag) {
    frame_crop_left_offset = r.ue();
    frame_crop_right_offset = r.ue();
    frame_crop_top_offset = r.ue();
    frame_crop_bottom_offset = r.ue();
  }
  vui_parameters_present_flag = r.u1();

  if (chroma_format_idc == -1) chroma_format_idc = 1;
  if (profile_idc == 183) chroma_format_idc = 0;
  if (separate_colour_plane_flag == -1) separate_colour_plane_flag = 0;
  ChromaArrayType = separate_colour_plane_flag == 1 ? 0 : chroma_format_idc;

  if (bit_depth_luma_minus8 == -1) bit_depth_luma_minus8 = 0;
  if (bit_depth_luma_minus8 >= 0 && bit_depth_luma_minus8 <= 6) {
    BitDepthY = bit_depth_luma_minus8 + 8;
    QpBdOffsetY = 6 * bit_depth_luma_minus8;
  }
  if (bit_depth_chroma_minus8 == -1) bit_depth_chroma_minus8 = 0;
  if (bit_depth_chroma_minus8 >= 0 && bit_depth_chroma_minus8 <= 6) {
    BitDepthC = bit_depth_chroma_minus8 + 8;
    QpBdOffsetC = 6 * bit_depth_chroma_minus8;
  }

  setSubWidthC(SubWidthC, SubHeightC, chroma_format_idc, separate_colour_plane_flag);
  setMbWidthC(MbWidthC, MbHeightC, SubWidthC, SubHeightC, chroma_format_idc, separate_colour_plane_flag);
  RawMbBits = 256 * BitDepthY + 2 * MbWidthC * MbHeightC * BitDepthC;

  if (log2_max_frame_num_minus4 >= 0 && log2_max_frame_num_minus4 <= 12) {
    MaxFrameNum = 1 << (log2_max_frame_num_minus4 + 4);
  }
  if (log2_max_pic_order_cnt_lsb_minus4 >= 0 && log2_max_pic_order_cnt_lsb_minus4 <= 12) {
    MaxPicOrderCntLsb = 1 << (log2_max_pic_order_cnt_lsb_minus4 + 4);
  }

  PicWidthInMbs = wrapAdd(pic_width_in_mbs_minus1, 1);
  PicWidthInSamplesL = wrapMul(16, PicWidthInMbs);
  PicWidthInSamplesC = wrapMul(PicWidthInMbs, MbWidthC);
  PicHeightInMapUnits = wrapAdd(pic_height_in_map_units_minus1, 1);
  PicSizeInMapUnits = wrapMul(PicWidthInMbs, PicHeightInMapUnits);
  FrameHeightInMbs = wrapMul(2 - frame_mbs_only_flag, PicHeightInMapUnits);

  if (mb_adaptive_frame_field_flag == -1) mb_adaptive_frame_field_flag = 0;
}

void SPS::setSubWidthC(int32_t& SubWidthC, int32_t& SubHeightC, int32_t chroma_format_idc,
                       int32_t separate_colour_plane_flag) {
  if (separate_colour_plane_flag == 0) {
    switch (chroma_format_idc) {
      case 0:
        SubWidthC = -1, SubHeightC = -1;
        return;
      case 1:
        SubWidthC = 2, SubHeightC = 2;
        return;
      case 2:
        SubWidthC = 2, SubHeightC = 1;
        return;
      case 3:
        SubWidthC = 1, SubHeightC = 1;
        return;
    }
  } else if (separate_colour_plane_flag == 1 && chroma_format_idc == 3) {
    SubWidthC = -1, SubHeightC = -1;
  }
}

void SPS::setMbWidthC(int32_t& MbWidthC, int32_t& MbHeightC, int32_t SubWidthC, int32_t SubHeightC,
                      int32_t chroma_format_idc, int32_t separate_colour_plane_flag) {
  if (SubWidthC >= 1 && SubHeightC >= 1 && !(chroma_format_idc == 0 && separate_colour_plane_flag == 1)) {
    MbWidthC = 16 / SubWidthC;
    MbHeightC = 16 / SubHeightC;
  } else {
    MbWidthC = 0;
    MbHeightC = 0;
  }
}
