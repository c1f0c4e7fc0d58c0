#include "boxes/SLConfigDescriptor.h"

std::unique_ptr<SLConfigDescriptor> SLConfigDescriptor::initSLConfigDescriptorWithByte(const uint8_t* bytes,
                                                                                       uint32_t ofLength) {
  auto d = std::make_unique<SLConfigDescriptor>();
  if (bytes) d->readBytes(bytes, ofLength);
  return d;
}

void SLConfigDescriptor::readBytes(const uint8_t* bytes, uint32_t length) {
  this->length = length;
  data.assign(bytes, bytes + length);
}
