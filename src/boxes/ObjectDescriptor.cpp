#include "boxes/ObjectDescriptor.h"

#include "boxes/ByteStream.h"
#include "boxes/DecoderConfigDescriptor.h"
#include "boxes/DescriptorLength.h"
#include "boxes/SLConfigDescriptor.h"
#include "boxes/Utf8Text.h"

namespace {
constexpr uint8_t kDecoderConfigTag = 4;
constexpr uint8_t kSLConfigTag = 6;
}  // namespace

ObjectDescriptor::ObjectDescriptor() = default;
ObjectDescriptor::~ObjectDescriptor() = default;

std::unique_ptr<ObjectDescriptor> ObjectDescriptor::initObjectDescriptorWithBytes(const uint8_t* bytes,
                                                                                  uint32_t ofLength) {
  auto d = std::make_unique<ObjectDescriptor>();
  if (bytes) d->readBytes(bytes, ofLength);
  return d;
}

void ObjectDescriptor::readBytes(const uint8_t* bytes, uint32_t length) {
  this->length = length;
  ByteStream in(bytes, length);
  ES_ID = in.readUI16();
  uint8_t flags = in.readUI08();
  streamDependenceFlag = flags & 0x80;
  URLFlag = flags & 0x40;
  OCRstreamFlag = flags & 0x20;
  streamPriority = flags & 0x1F;
  if (streamDependenceFlag) dependsOn_ES_ID = in.readUI16();
  if (URLFlag) {
    URLlength = in.readUI08();
    // A URL longer than the descriptor keeps what is there.
    uint32_t n = URLlength <= in.remaining() ? URLlength : static_cast<uint32_t>(in.remaining());
    URLstring = qvr::utf8Text(in.current(), n);
    in.skip(n);
  }
  if (OCRstreamFlag) OCR_ES_Id = in.readUI16();
  if (!in.ok()) return;

  uint32_t q = static_cast<uint32_t>(in.position());
  if (q < length && bytes[q] == kDecoderConfigTag) {
    uint32_t pos = q + 1;
    uint32_t n = qvr::readDescriptorLength(bytes, length, pos);
    if (n != 0 && n <= length - pos) {
      decoderConfigDescriptor = DecoderConfigDescriptor::initDecoderConfigDescriptorWithBytes(bytes + pos, n);
      q = pos + n;
    }
  }
  if (length - q >= 3 && bytes[q] == kSLConfigTag) {
    uint32_t pos = q + 1;
    uint32_t n = qvr::readDescriptorLength(bytes, length, pos);
    if (n != 0 && n <= length - pos) {
      slConfigDescriptor = SLConfigDescriptor::initSLConfigDescriptorWithByte(bytes + pos, n);
    }
  }
}
