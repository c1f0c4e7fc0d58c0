#pragma once

#include <cstdint>
#include <memory>

#include "bitstream/RBSPObject.h"

// The leading fields of an H.264 sequence parameter set and the standard's variables derived from
// them. Parsing never fails: a field the parse did not reach keeps -1 (255 for the two bytes).
class SPS : public RBSPObject {
 public:
  uint8_t profile_idc = 255;
  uint8_t level_idc = 255;
  int32_t seq_parameter_set_id = -1;
  int32_t chroma_format_idc = -1;
  int32_t separate_colour_plane_flag = -1;
  int32_t bit_depth_luma_minus8 = -1;
  int32_t bit_depth_chroma_minus8 = -1;
  int32_t qpprime_y_zero_transform_bypass_flag = -1;
  int32_t seq_scaling_matrix_present_flag = -1;
  int32_t log2_max_frame_num_minus4 = -1;
  int32_t pic_order_cnt_type = -1;
  int32_t log2_max_pic_order_cnt_lsb_minus4 = -1;
  int32_t max_num_ref_frames = -1;
  int32_t gaps_in_frame_num_value_allowed_flag = -1;
  int32_t pic_width_in_mbs_minus1 = -1;
  int32_t pic_height_in_map_units_minus1 = -1;
  int32_t frame_mbs_only_flag = -1;
  int32_t mb_adaptive_frame_field_flag = -1;
  int32_t direct_8x8_inference_flag = -1;
  int32_t frame_cropping_flag = -1;
  int32_t frame_crop_left_offset = -1;
  int32_t frame_crop_right_offset = -1;
  int32_t frame_crop_top_offset = -1;
  int32_t frame_crop_bottom_offset = -1;
  int32_t vui_parameters_present_flag = -1;

  int32_t ChromaArrayType = 0;
  int32_t BitDepthY = 0;
  int32_t QpBdOffsetY = 0;
  int32_t BitDepthC = 0;
  int32_t QpBdOffsetC = 0;
  int32_t RawMbBits = 0;
  int32_t SubWidthC = 0;
  int32_t SubHeightC = 0;
  int32_t MbWidthC = 0;
  int32_t MbHeightC = 0;
  int32_t MaxFrameNum = 0;
  int32_t MaxPicOrderCntLsb = 0;
  int32_t PicWidthInMbs = 0;
  int32_t PicWidthInSamplesL = 0;
  int32_t PicWidthInSamplesC = 0;
  int32_t PicHeightInMapUnits = 0;
  int32_t PicSizeInMapUnits = 0;
  int32_t FrameHeightInMbs = 0;

  // Read with the picture-order-count cycle (pic_order_cnt_type 1); the slice header needs it to
  // know whether delta_pic_order_cnt is present.
  int32_t delta_pic_order_always_zero_flag = -1;

  // `bytes` starts at the NAL unit header byte (0x67 for a stored SPS); nothing past `size` is
  // read (a null buffer reads as empty). Never fails. Scaling lists and the picture-order-count
  // cycle are skipped as the standard lays them out; the VUI is not read.
  static std::unique_ptr<SPS> initSPSWithBytes(const uint8_t* bytes, uint32_t size);

  void initialValue();
  void readBytes(const uint8_t* bytes, uint32_t size);
  static void setSubWidthC(int32_t& SubWidthC, int32_t& SubHeightC, int32_t chroma_format_idc,
                           int32_t separate_colour_plane_flag);
  static void setMbWidthC(int32_t& MbWidthC, int32_t& MbHeightC, int32_t SubWidthC, int32_t SubHeightC,
                          int32_t chroma_format_idc, int32_t separate_colour_plane_flag);
};
