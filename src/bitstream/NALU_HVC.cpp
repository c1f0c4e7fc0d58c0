#include "bitstream/NALU.h"

// Until the H.265 parsers arrive every H.265 candidate is judged invalid.
std::unique_ptr<NALU> NALU::initNALUWithBytes(const uint8_t* bytes, uint32_t bytesSize, uint32_t SizeBytesLength,
                                              const VPS_265* vps, const SPS_265* sps, const PPS_265* pps) {
  return readBytesForHVC(bytes, bytesSize, SizeBytesLength, vps, sps, pps);
}

std::unique_ptr<NALU> NALU::readBytesForHVC(const uint8_t*, uint32_t, uint32_t, const VPS_265*, const SPS_265*,
                                            const PPS_265*) {
  return nullptr;
}
