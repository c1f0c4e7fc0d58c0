#pragma once

#include <cstdint>
#include <memory>
#include <span>

class ObjectDescriptor;

// Elementary stream descriptor box ("esds") of an "mp4a" entry: the bit rates and the
// AudioSpecificConfig that initialises the AAC decoder.
class EsdsDecoder {
 public:
  EsdsDecoder();
  ~EsdsDecoder();
  // Never null for a non-null buffer; `objectDesc` stays null when the ES descriptor is missing,
  // empty or runs past the box.
  static std::unique_ptr<EsdsDecoder> initESDSWithBytes(const uint8_t* bytes, uint32_t size);
  void readBytes(const uint8_t* bytes, uint32_t size);

  uint32_t getAvgBitRate() const;  // 0 without a decoder configuration descriptor
  uint32_t getMaxBitRate() const;
  std::span<const uint8_t> decoderSpecificInfo() const;  // empty when there is none

  uint32_t size = 0;
  uint32_t type = 0;
  uint32_t version_flags = 0;
  std::unique_ptr<ObjectDescriptor> objectDesc;
};
