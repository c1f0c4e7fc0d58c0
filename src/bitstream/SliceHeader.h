#pragma once

#include <cstdint>
#include <memory>

#include "bitstream/RBSPObject.h"

class NALU;
class SPS;
class PPS;

struct IDR_SubFunction__Dec_Ref_Pic_Marking {
  int32_t no_output_of_prior_pics_flag = 0;
  int32_t long_term_reference_flag = 0;
};

// The leading fields of an H.264 slice header (NAL unit types 1 and 5), read against the
// reference SPS/PPS. It is the deepest test a candidate slice passes during repair.
class SliceHeader : public RBSPObject {
 public:
  int32_t first_mb_in_slice = -1;
  int32_t slice_type = -1;
  int32_t pic_parameter_set_id = -1;
  int32_t frame_num = -1;
  int32_t field_pic_flag = -1;
  int32_t bottom_field_flag = -1;
  int32_t colour_plane_id = -1;
  int32_t idr_pic_id = -1;
  int32_t pic_order_cnt_lsb = -1;
  int32_t delta_pic_order_cnt_bottom = -1;
  int32_t slice_qp_delta = -1;
  int32_t MbaffFrameFlag = 0;
  int32_t PrevRefFrameNum = 0;
  int32_t PicHeightInMbs = 0;
  int32_t PicHeightInSamplesL = 0;
  int32_t PicHeightInSamplesC = 0;
  int32_t PicSizeInMbs = 0;
  int32_t MaxPicNum = 0;
  int32_t CurrPicNum = 0;
  uint32_t totalBytesGiven = 0;
  IDR_SubFunction__Dec_Ref_Pic_Marking dec_ref_pic_marking;

  // `bytes` starts right after the one-byte NAL unit header; nothing past `size` is read.
  // Null when the slice is judged invalid (or any of nalu, sps, pps is missing).
  static std::unique_ptr<SliceHeader> initIDRWithBytes(const uint8_t* bytes, uint32_t size, const NALU* nalu,
                                                       const SPS* sps, const PPS* pps);

  void initialValue();
  // False when the slice is invalid; the fields are then partly filled and meaningless.
  bool readBytes(const uint8_t* bytes, uint32_t size, const NALU* nalu, const SPS* sps, const PPS* pps);
};
