#pragma once

#include <cstdint>
#include <memory>
#include <string>

class DecoderConfigDescriptor;
class SLConfigDescriptor;

// MPEG-4 ES descriptor (tag 3), parsed from its payload: the bytes after its tag and length.
class ObjectDescriptor {
 public:
  ObjectDescriptor();
  ~ObjectDescriptor();
  // Never null for a non-null buffer; nested descriptors that are missing or do not fit are
  // left out.
  static std::unique_ptr<ObjectDescriptor> initObjectDescriptorWithBytes(const uint8_t* bytes, uint32_t ofLength);
  void readBytes(const uint8_t* bytes, uint32_t length);

  uint8_t tag = 3;
  uint32_t length = 0;
  uint16_t ES_ID = 0;
  bool streamDependenceFlag = false;
  bool URLFlag = false;
  bool OCRstreamFlag = false;
  uint32_t streamPriority = 0;
  uint16_t dependsOn_ES_ID = 0;
  uint8_t URLlength = 0;
  std::string URLstring;  // valid UTF-8
  uint16_t OCR_ES_Id = 0;
  std::unique_ptr<DecoderConfigDescriptor> decoderConfigDescriptor;
  std::unique_ptr<SLConfigDescriptor> slConfigDescriptor;
};
