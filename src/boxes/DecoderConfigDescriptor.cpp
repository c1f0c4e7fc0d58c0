#include "boxes/DecoderConfigDescriptor.h"

#include "boxes/ByteStream.h"
#include "boxes/DescriptorLength.h"

namespace {
constexpr uint8_t kDecSpecificInfoTag = 5;
}

std::unique_ptr<DecoderConfigDescriptor> DecoderConfigDescriptor::initDecoderConfigDescriptorWithBytes(
    const uint8_t* bytes, uint32_t ofLength) {
  auto d = std::make_unique<DecoderConfigDescriptor>();
  if (bytes) d->readBytes(bytes, ofLength);
  return d;
}

void DecoderConfigDescriptor::readBytes(const uint8_t* bytes, uint32_t length) {
  this->length = length;
  ByteStream in(bytes, length);
  objectTypeIndication = in.readUI08();
  uint8_t b = in.readUI08();
  streamType = b >> 2;
  upStream = (b >> 1) & 1;
  reserved = b & 1;
  bufferSizeDB = in.readUI24();
  maxBitrate = in.readUI32();
  avgBitrate = in.readUI32();
  if (in.remaining() == 0 || in.readUI08() != kDecSpecificInfoTag) return;
  uint32_t pos = static_cast<uint32_t>(in.position());
  uint32_t infoLength = qvr::readDescriptorLength(bytes, length, pos);
  if (infoLength == 0 || infoLength > length - pos) return;
  decoderSpecificInfo.assign(bytes + pos, bytes + pos + infoLength);
}
