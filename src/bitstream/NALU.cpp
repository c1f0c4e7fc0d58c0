#include "bitstream/NALU.h"

#include "bitstream/PPS.h"
#include "bitstream/SPS.h"
#include "bitstream/SliceHeader.h"

std::unique_ptr<NALU> NALU::initNALUWithBytes(const uint8_t* bytes, uint32_t bytesSize, uint32_t SizeBytesLength,
                                              const SPS* sps, const PPS* pps) {
  return readBytesForAVC(bytes, bytesSize, SizeBytesLength, sps, pps);
}

std::unique_ptr<NALU> NALU::readBytesForAVC(const uint8_t*, uint32_t, uint32_t, const SPS*, const PPS*) {
  return nullptr;
}

std::unique_ptr<NALU> NALU::initNALUWithByte(uint8_t) { return nullptr; }
