#include "boxes/Sdtp.h"

#include "boxes/ByteStream.h"

namespace {
constexpr uint32_t kSdtp = 0x73647470;  // "sdtp"
constexpr uint32_t kHeaderSize = 12;
}  // namespace

std::unique_ptr<Sdtp> Sdtp::initSDTPWithBytes(const uint8_t* bytes, uint32_t andSize) {
  auto box = std::make_unique<Sdtp>();
  if (bytes) box->readBytes(bytes, andSize);
  return box;
}

std::unique_ptr<Sdtp> Sdtp::initSDTPWithSampleCount(uint32_t sampleCount, const std::vector<uint8_t>& andData) {
  if (andData.empty()) return nullptr;
  auto box = std::make_unique<Sdtp>();
  box->type = kSdtp;
  box->Data.resize(sampleCount);
  for (uint32_t i = 0; i < sampleCount; ++i) box->Data[i] = andData[i % andData.size()];
  box->createWriteableData();
  return box;
}

void Sdtp::readBytes(const uint8_t* bytes, uint32_t size) {
  ByteStream in(bytes, size);
  this->size = in.readUI32();
  type = in.readUI32();
  versionFlag = in.readUI32();
  // Everything after the header is one byte per sample; the box's own size field is not
  // trusted to say where that ends.
  if (in.ok()) Data = in.readBytes(in.remaining());
}

void Sdtp::createWriteableData() {
  size = kHeaderSize + static_cast<uint32_t>(Data.size());
  ByteStream out;
  out.writeUI32(size);
  out.writeUI32(type);
  out.writeUI32(versionFlag);
  out.writeBytes(Data);
  writeableData = out.take();
}
