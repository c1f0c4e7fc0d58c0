#pragma once

#include <cstdint>
#include <span>

// Hands the AAC decoder-specific information to the audio recovery. It views bytes owned by the
// sample description's descriptor and must not outlive the parsed tree. The view carries its
// length: the decoder's initialisation wants two bytes and a shorter payload must be refused.
class DecoderSpecifiInfoWrapper {
 public:
  explicit DecoderSpecifiInfoWrapper(std::span<const uint8_t> info) : decoderSpecificInfo(info) {}

  std::span<const uint8_t> decoderSpecificInfo;
};
