#include "boxes/Stco.h"

#include "boxes/ByteStream.h"

namespace {
constexpr uint32_t kCo64 = 0x636F3634;  // "co64"
constexpr uint32_t kStco = 0x7374636F;  // "stco"
constexpr uint32_t kHeaderSize = 16;
}  // namespace

std::unique_ptr<Stco> Stco::initSTCOWithBytes(const uint8_t* bytes, uint32_t size, bool isCO64) {
  auto box = std::make_unique<Stco>();
  box->isCO64 = isCO64;
  if (bytes) box->readBytes(bytes, size);
  return box;
}

std::unique_ptr<Stco> Stco::initWithChunkOffsetTable(const std::vector<uint64_t>& table) {
  auto box = std::make_unique<Stco>();
  box->type = kCo64;
  box->isCO64 = true;
  box->chunkOffsetTable = table;
  box->createWriteableData();
  return box;
}

void Stco::readBytes(const uint8_t* bytes, uint32_t size) {
  ByteStream in(bytes, size);
  this->size = in.readUI32();
  type = in.readUI32();
  version_Flag = in.readUI32();
  numberOfEntries = in.readUI32();
  const uint32_t width = isCO64 ? 8 : 4;
  uint64_t fit = in.remaining() / width;
  uint64_t n = numberOfEntries < fit ? numberOfEntries : fit;
  chunkOffsetTable.reserve(n);
  for (uint64_t i = 0; i < n; ++i) chunkOffsetTable.push_back(isCO64 ? in.readUI64() : in.readUI32());
}

void Stco::createWriteableData() {
  const uint32_t width = isCO64 ? 8 : 4;
  if (type == 0) type = isCO64 ? kCo64 : kStco;
  numberOfEntries = static_cast<uint32_t>(chunkOffsetTable.size());
  size = kHeaderSize + width * numberOfEntries;
  ByteStream out;
  out.writeUI32(size);
  out.writeUI32(type);
  out.writeUI32(version_Flag);
  out.writeUI32(numberOfEntries);
  for (uint64_t offset : chunkOffsetTable) {
    if (isCO64) {
      out.writeUI64(offset);
    } else {
      out.writeUI32(static_cast<uint32_t>(offset));
    }
  }
  writeableData = out.take();
}
