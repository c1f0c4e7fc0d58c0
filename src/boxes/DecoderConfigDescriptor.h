#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// MPEG-4 decoder configuration descriptor (tag 4), parsed from its payload.
class DecoderConfigDescriptor {
 public:
  // Never null for a non-null buffer; fields past a short payload stay 0.
  static std::unique_ptr<DecoderConfigDescriptor> initDecoderConfigDescriptorWithBytes(const uint8_t* bytes,
                                                                                       uint32_t ofLength);
  void readBytes(const uint8_t* bytes, uint32_t length);

  uint8_t tag = 4;
  uint32_t length = 0;
  uint8_t objectTypeIndication = 0;
  uint8_t streamType = 0;
  uint8_t upStream = 0;
  uint8_t reserved = 0;
  uint32_t bufferSizeDB = 0;
  uint32_t maxBitrate = 0;
  uint32_t avgBitrate = 0;
  // The DecoderSpecificInfo payload (AudioSpecificConfig for AAC); empty when absent. Its
  // length is kept so that a consumer never reads past it.
  std::vector<uint8_t> decoderSpecificInfo;
};
