#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>

#include "boxes/SampleDescriptionEntery.h"

class AVCDecoderConfigurationRecord;
class HVCDecoderConfigurationRecord;

// Visual sample entry ("avc1", "hvc1"); its configuration record is found among the child boxes
// that follow the 86-byte fixed part.
class VideoSampleDescriptionEntery : public SampleDescriptionEntery {
 public:
  VideoSampleDescriptionEntery();
  ~VideoSampleDescriptionEntery() override;
  // Never null for a non-null buffer; fields that do not fit a short entry stay 0.
  static std::unique_ptr<VideoSampleDescriptionEntery> initVSDEnteryWithBytes(const uint8_t* bytes, uint32_t size);
  void readBytes(const uint8_t* bytes, uint32_t size);

  const VideoSampleDescriptionEntery* asVideo() const override { return this; }

  int64_t getDataFormat() const;       // 1001 "avc1", 1002 "hvc1", else 0
  int32_t lengthSizeMinusOne() const;  // "avc1": from its avcC (0 without); "hvc1": 3; else 0
  std::string getResolution() const;   // "%dx%d" of width and height

  // The configuration record, when one was found (a later one replaces an earlier one).
  const AVCDecoderConfigurationRecord* avcC() const;
  const HVCDecoderConfigurationRecord* hvcC() const;

  uint32_t temporalQuality = 0;
  uint32_t spatialQuality = 0;
  uint16_t width = 0;
  uint16_t height = 0;
  uint32_t horizontalResolution = 0;
  uint32_t verticalResolution = 0;
  uint32_t dataSize = 0;
  uint16_t frameCount = 0;
  std::string compressorName;  // valid UTF-8; the counted string's length byte stays in front
  uint16_t depth = 0;
  int16_t colorTableID = 0;
  std::variant<std::monostate, std::shared_ptr<AVCDecoderConfigurationRecord>,
               std::shared_ptr<HVCDecoderConfigurationRecord>>
      decoder;
};
