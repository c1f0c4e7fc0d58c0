#include <algorithm>

#include "bitstream/UeSeNumCode.h"

namespace {

// general_/sub_layer_ profile space, tier, profile idc, 32 compatibility flags, the four source
// flags, 43 reserved or constraint bits and the inbld/reserved bit: 88 bits in all.
void skipProfile(std::span<const uint8_t> bytes, uint32_t& bytePos, uint32_t& bitPos) {
  UeSeNumCode::getUnitCodeNumFromBytes(bytes, bytePos, bitPos, 2);
  UeSeNumCode::getUnitCodeNumFromBytes(bytes, bytePos, bitPos, 1);
  UeSeNumCode::getUnitCodeNumFromBytes(bytes, bytePos, bitPos, 5);
  for (int j = 0; j < 32; ++j) UeSeNumCode::getBitInBytes(bytes, bytePos, bitPos);
  UeSeNumCode::getUnitCodeNumFromBytes(bytes, bytePos, bitPos, 4);
  UeSeNumCode::getUnitCodeNumFromBytes(bytes, bytePos, bitPos, 43);
  UeSeNumCode::getUnitCodeNumFromBytes(bytes, bytePos, bitPos, 1);
}

}  // namespace

void UeSeNumCode::profile_tier_level(int32_t profilePresentFlag, int32_t maxNumSubLayersMinus1,
                                     std::span<const uint8_t> bytes, uint32_t& bytePostiton, uint32_t& bitPosition) {
  if (profilePresentFlag != 0) skipProfile(bytes, bytePostiton, bitPosition);
  getUnitCodeNumFromBytes(bytes, bytePostiton, bitPosition, 8);  // general_level_idc

  // The count comes from a 3-bit field; anything else is clamped so the flag tables stay in range.
  const int32_t subLayers = std::clamp(maxNumSubLayersMinus1, 0, 7);
  if (subLayers < 1) return;
  uint8_t profilePresent[8] = {};
  uint8_t levelPresent[8] = {};
  for (int32_t i = 0; i < subLayers; ++i) {
    profilePresent[i] = uint8_t(getBitInBytes(bytes, bytePostiton, bitPosition));
    levelPresent[i] = uint8_t(getBitInBytes(bytes, bytePostiton, bitPosition));
  }
  for (int32_t i = subLayers; i < 8; ++i) getUnitCodeNumFromBytes(bytes, bytePostiton, bitPosition, 2);
  for (int32_t i = 0; i < subLayers; ++i) {
    if (profilePresent[i]) skipProfile(bytes, bytePostiton, bitPosition);
    if (levelPresent[i]) getUnitCodeNumFromBytes(bytes, bytePostiton, bitPosition, 8);
  }
}
