#include "bitstream/SliceHeader.h"

std::unique_ptr<SliceHeader> SliceHeader::initIDRWithBytes(const uint8_t*, uint32_t, const NALU*, const SPS*,
                                                           const PPS*) {
  return nullptr;
}
