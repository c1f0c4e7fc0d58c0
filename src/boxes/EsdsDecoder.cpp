#include "boxes/EsdsDecoder.h"

#include "boxes/ByteStream.h"
#include "boxes/DecoderConfigDescriptor.h"
#include "boxes/DescriptorLength.h"
#include "boxes/ObjectDescriptor.h"

namespace {
constexpr uint8_t kESDescriptorTag = 3;
}

EsdsDecoder::EsdsDecoder() = default;
EsdsDecoder::~EsdsDecoder() = default;

std::unique_ptr<EsdsDecoder> EsdsDecoder::initESDSWithBytes(const uint8_t* bytes, uint32_t size) {
  auto box = std::make_unique<EsdsDecoder>();
  if (bytes) box->readBytes(bytes, size);
  return box;
}

void EsdsDecoder::readBytes(const uint8_t* bytes, uint32_t size) {
  ByteStream in(bytes, size);
  this->size = in.readUI32();
  type = in.readUI32();
  version_flags = in.readUI32();
  if (in.remaining() == 0 || in.readUI08() != kESDescriptorTag) return;
  uint32_t pos = static_cast<uint32_t>(in.position());
  uint32_t length = qvr::readDescriptorLength(bytes, size, pos);
  if (length == 0 || length > size - pos) return;
  objectDesc = ObjectDescriptor::initObjectDescriptorWithBytes(bytes + pos, length);
}

uint32_t EsdsDecoder::getAvgBitRate() const {
  return objectDesc && objectDesc->decoderConfigDescriptor ? objectDesc->decoderConfigDescriptor->avgBitrate : 0;
}

uint32_t EsdsDecoder::getMaxBitRate() const {
  return objectDesc && objectDesc->decoderConfigDescriptor ? objectDesc->decoderConfigDescriptor->maxBitrate : 0;
}

std::span<const uint8_t> EsdsDecoder::decoderSpecificInfo() const {
  if (!objectDesc || !objectDesc->decoderConfigDescriptor) return {};
  return objectDesc->decoderConfigDescriptor->decoderSpecificInfo;
}
