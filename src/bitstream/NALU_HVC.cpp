#include <algorithm>

#include "bitstream/NALU.h"
#include "bitstream/PPS_265.h"
#include "bitstream/RBSP_265.h"
#include "bitstream/SPS_265.h"
#include "bitstream/SliceHeader_265.h"
#include "bitstream/VPS_265.h"

namespace {

// Size ceilings of the small units: parameter sets, delimiters and SEI, and the unspecified types.
constexpr uint32_t kMaxParameterSetUnitSize = 800;
constexpr uint32_t kMaxUnspecifiedUnitSize = 1000;
constexpr uint32_t kMinUnitSize = 7;

bool isValidType(uint32_t type) {
  return type <= 9 || (type >= 16 && type <= 21) || (type >= 32 && type <= 36) || type == 39 || type == 40 ||
         type >= 48;
}

}  // namespace

std::unique_ptr<NALU> NALU::initNALUWithBytes(const uint8_t* bytes, uint32_t bytesSize, uint32_t SizeBytesLength,
                                              const VPS_265* vps, const SPS_265* sps, const PPS_265* pps) {
  return readBytesForHVC(bytes, bytesSize, SizeBytesLength, vps, sps, pps);
}

std::unique_ptr<NALU> NALU::readBytesForHVC(const uint8_t* bytes, uint32_t bytesSize, uint32_t SizeBytesLength,
                                            const VPS_265* vps, const SPS_265* sps, const PPS_265* pps) {
  // Called at every byte offset of a damaged file: the header and size tests run on the stack
  // and the heap is touched only for a unit that passes them.
  const uint32_t L = SizeBytesLength;
  if (bytes == nullptr || sps == nullptr || L < 1 || L > 4 || bytesSize < L + 2) return nullptr;

  // The prefix is exactly L bytes wide, so 1- and 2-byte prefixes give the unit's real size.
  uint64_t prefix = 0;
  for (uint32_t i = 0; i < L; ++i) prefix = prefix << 8 | bytes[i];
  if (prefix + L > UINT32_MAX) return nullptr;
  const uint32_t nalSize = uint32_t(prefix + L);

  const qvr::NalHeader265 h = qvr::decodeNalHeader265(bytes[L], bytes[L + 1]);
  if (h.forbiddenBit != 0 || h.NTempID == 0 || h.NLayerId != sps->NLayerId) return nullptr;
  const uint32_t type = h.NALType;
  if (!isValidType(type)) return nullptr;
  const bool smallUnit = (type >= 32 && type <= 36) || type == 39 || type == 40;
  if (smallUnit && nalSize > kMaxParameterSetUnitSize) return nullptr;
  if (type >= 48 && nalSize > kMaxUnspecifiedUnitSize) return nullptr;
  if (nalSize < kMinUnitSize) return nullptr;

  NALU nalu;
  nalu.forbiddenBit = h.forbiddenBit;
  nalu.NALType = type;
  nalu.NLayerId = h.NLayerId;
  nalu.NTempID = h.NTempID;
  nalu.nalSize = nalSize;

  // Payload parsers see the unit's own bytes only: a unit that ends inside the window is not
  // judged by the bytes of the unit after it.
  const uint32_t available = bytesSize - L;
  const bool wholeUnit = prefix <= available;
  const uint32_t unitBytes = wholeUnit ? uint32_t(prefix) : available;

  if (type <= 21) {
    SliceHeader_265 header;
    if (!header.readBytes(bytes + L + 2, unitBytes - 2, &nalu, sps, pps, vps, wholeUnit)) return nullptr;
    nalu.firstMBInSlice = header.first_slice_segment_in_pic_flag;
    nalu.RBSP = std::make_unique<SliceHeader_265>(std::move(header));
    nalu.setName = "Slice";
  } else if (type == 33) {
    auto found = SPS_265::initSPS265WithBytes(bytes + L, unitBytes, uint32_t(sps->pic_width_in_luma_samples),
                                              uint32_t(sps->pic_height_luma_samples));
    if (!found || found->seq_parameter_set_id != sps->seq_parameter_set_id) return nullptr;
    nalu.RBSP = std::move(found);
    nalu.setName = "SPS";
  } else if (type == 34) {
    nalu.RBSP = PPS_265::initPPS265WithBytes(bytes + L, unitBytes, sps);
    nalu.setName = "PPS";
  } else if (type == 32) {
    nalu.RBSP = VPS_265::initVPS265WithBytes(bytes + L, unitBytes);
    nalu.setName = "VPS";
  } else if (type == 39 || type == 40) {
    nalu.setName = "SEI";
  } else if (type >= 48) {
    nalu.setName = "Unspecified";
  } else if (type == 35) {
    nalu.setName = "AUD";
  }
  return std::make_unique<NALU>(std::move(nalu));
}
