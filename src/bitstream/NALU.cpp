#include "bitstream/NALU.h"

#include <algorithm>

#include "bitstream/PPS.h"
#include "bitstream/SPS.h"
#include "bitstream/SliceHeader.h"

namespace {

// Size ceiling for the small non-slice units (SEI, SPS, PPS, access unit delimiter).
constexpr uint32_t kMaxSmallUnitSize = 800;
// The prefix unit of the scalable extension: its header byte and three extension bytes.
constexpr uint32_t kPrefixUnit = 14;
constexpr uint32_t kWrapperHeader = 4;

// The type and nal_ref_idc tests of the header byte, shared with the bare-byte initialiser.
bool headerByteAcceptable(uint8_t h) {
  const uint32_t forbiddenBit = h >> 7, NRI = (h >> 5) & 3, NALType = h & 31;
  if (forbiddenBit != 0) return false;
  switch (NALType) {
    case 1:
      return true;
    case 5:
    case 7:
    case 8:
      return NRI != 0;
    case 6:
    case 9:
      return NRI == 0;
    default:
      return false;
  }
}

void setHeaderFields(NALU& nalu, uint8_t h) {
  nalu.forbiddenBit = h >> 7;
  nalu.NRI = (h >> 5) & 3;
  nalu.NALType = h & 31;
}

// The slice header that follows a slice's header byte, and the fields the scan groups by.
bool readSlice(NALU& nalu, const uint8_t* bytes, uint32_t size, const SPS* sps, const PPS* pps) {
  SliceHeader header;
  if (!header.readBytes(bytes, size, &nalu, sps, pps)) return false;
  nalu.sliceType = header.slice_type;
  nalu.firstMBInSlice = header.first_mb_in_slice;
  nalu.frameNum = header.frame_num;
  nalu.fieldPicFlag = header.field_pic_flag == 1 ? 1 : 0;
  nalu.bottomFieldFlag = header.bottom_field_flag == 1 ? 1 : 0;
  nalu.RBSP = std::make_unique<SliceHeader>(header);
  return true;
}

}  // namespace

std::unique_ptr<NALU> NALU::initNALUWithBytes(const uint8_t* bytes, uint32_t bytesSize, uint32_t SizeBytesLength,
                                              const SPS* sps, const PPS* pps) {
  return readBytesForAVC(bytes, bytesSize, SizeBytesLength, sps, pps);
}

std::unique_ptr<NALU> NALU::readBytesForAVC(const uint8_t* bytes, uint32_t bytesSize, uint32_t SizeBytesLength,
                                            const SPS* sps, const PPS* pps) {
  // The repair scan calls this at every byte offset of a damaged file: the cheap prefix and
  // header tests run on plain values before any object exists, the slice and parameter-set
  // parses on stack objects, and the heap is touched only for a unit that is accepted.
  const uint32_t L = SizeBytesLength;
  if (bytes == nullptr || L < 1 || L > 4 || bytesSize < L + 1) return nullptr;

  // The prefix is exactly L bytes wide, so 1- and 2-byte prefixes give the unit's real size.
  uint64_t prefix = 0;
  for (uint32_t i = 0; i < L; ++i) prefix = prefix << 8 | bytes[i];
  // A unit must hold at least its header byte, and its size must be representable: a zero
  // prefix or one that would wrap round 32 bits describes no unit.
  if (prefix == 0 || prefix + L > UINT32_MAX) return nullptr;
  const uint8_t h = bytes[L];
  if ((h & 31) == kPrefixUnit) return readWrappedPicture(bytes, bytesSize, L, prefix, sps, pps);
  if (!headerByteAcceptable(h)) return nullptr;
  const uint32_t type = h & 31;
  if ((type == 6 || type == 7 || type == 8 || type == 9) && prefix + L > kMaxSmallUnitSize) return nullptr;

  NALU nalu;
  nalu.nalSize = uint32_t(prefix + L);
  setHeaderFields(nalu, h);
  if (type == 1 || type == 5) {
    if (!readSlice(nalu, bytes + L + 1, bytesSize - L - 1, sps, pps)) return nullptr;
  } else if (type == 7 || type == 8) {
    // Parameter sets are parsed from their header byte, as the decoder configuration stores them,
    // and only over the unit's own bytes.
    const uint32_t unitBytes = uint32_t(std::min<uint64_t>(bytesSize - L, prefix));
    if (type == 7) {
      if (sps == nullptr) return nullptr;
      SPS found;
      found.readBytes(bytes + L, unitBytes);
      if (found.seq_parameter_set_id != sps->seq_parameter_set_id) return nullptr;
      nalu.RBSP = std::make_unique<SPS>(found);
    } else {
      PPS found;
      found.readBytes(bytes + L, unitBytes);
      nalu.RBSP = std::make_unique<PPS>(found);
    }
  }
  return std::make_unique<NALU>(std::move(nalu));
}

std::unique_ptr<NALU> NALU::readWrappedPicture(const uint8_t* bytes, uint32_t bytesSize, uint32_t L, uint64_t prefix,
                                               const SPS* sps, const PPS* pps) {
  // Some phones' slow-motion recordings store each picture as one length-prefixed prefix unit
  // (scalable extension header) that carries the picture's own units behind start codes. The
  // picture is described by its first slice; the units before it (SEI) belong to it.
  const uint8_t h = bytes[L];
  if (h >> 7 != 0 || prefix < kWrapperHeader + 4) return nullptr;
  const uint64_t end = std::min<uint64_t>(bytesSize, L + prefix);
  uint64_t at = L + kWrapperHeader;
  if (end < at + 4 || bytes[at] != 0 || bytes[at + 1] != 0 || bytes[at + 2] != 0 || bytes[at + 3] != 1) return nullptr;
  at += 4;
  while (at < end) {
    const uint8_t inner = bytes[at];
    const uint32_t type = inner & 31;
    if (type == 1 || type == 5) {
      if (!headerByteAcceptable(inner)) return nullptr;
      NALU nalu;
      nalu.nalSize = uint32_t(prefix + L);
      setHeaderFields(nalu, inner);
      if (!readSlice(nalu, bytes + at + 1, uint32_t(end - at - 1), sps, pps)) return nullptr;
      return std::make_unique<NALU>(std::move(nalu));
    }
    // Only what may stand before a picture's first slice is passed over, to the next start code.
    if (type != 6 && type != 9) return nullptr;
    const uint8_t code[] = {0, 0, 1};
    const uint8_t* next = std::search(bytes + at + 1, bytes + end, code, code + 3);
    if (next == bytes + end) return nullptr;
    at = uint64_t(next - bytes) + 3;
  }
  return nullptr;
}

std::unique_ptr<NALU> NALU::initNALUWithByte(uint8_t header) {
  if (!headerByteAcceptable(header)) return nullptr;
  auto nalu = std::make_unique<NALU>();
  nalu->nalSize = 0;
  setHeaderFields(*nalu, header);
  return nalu;
}
