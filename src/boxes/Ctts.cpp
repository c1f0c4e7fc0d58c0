#include "boxes/Ctts.h"

#include "boxes/ByteStream.h"

namespace {
constexpr uint32_t kCtts = 0x63747473;  // "ctts"
constexpr uint32_t kHeaderSize = 16;
constexpr uint32_t kEntrySize = 8;
}  // namespace

std::unique_ptr<Ctts> Ctts::initCTTSWithBytes(const uint8_t* bytes, uint32_t size) {
  auto box = std::make_unique<Ctts>();
  if (bytes) box->readBytes(bytes, size);
  return box;
}

std::unique_ptr<Ctts> Ctts::initCTTSWithCompositionOffsetTable(const std::vector<CompositionOffsetEntery>& table) {
  auto box = std::make_unique<Ctts>();
  box->type = kCtts;
  box->compositionOffsetTable = table;
  box->numberOfEntries = static_cast<uint32_t>(table.size());
  box->createWriteableData();
  return box;
}

void Ctts::readBytes(const uint8_t* bytes, uint32_t size) {
  ByteStream in(bytes, size);
  this->size = in.readUI32();
  type = in.readUI32();
  version_Flag = in.readUI32();
  numberOfEntries = in.readUI32();
  uint64_t fit = in.remaining() / kEntrySize;
  uint64_t n = numberOfEntries < fit ? numberOfEntries : fit;
  compositionOffsetTable.reserve(n);
  for (uint64_t i = 0; i < n; ++i) {
    compositionOffsetTable.push_back(*CompositionOffsetEntery::initCOEnteryWithBytes(in.current(), kEntrySize));
    in.skip(kEntrySize);
  }
  // Ready to be carried into a synthesised track as it stands; the count written is that of the
  // entries present, not the header's claim, so the box never announces records it lacks.
  uint32_t claimed = numberOfEntries;
  createWriteableData();
  numberOfEntries = claimed;
}

void Ctts::createWriteableData() {
  uint32_t count = static_cast<uint32_t>(compositionOffsetTable.size());
  numberOfEntries = count;
  size = kHeaderSize + kEntrySize * count;
  ByteStream out;
  out.writeUI32(size);
  out.writeUI32(type);
  out.writeUI32(version_Flag);
  out.writeUI32(count);
  for (auto& e : compositionOffsetTable) {
    if (e.writeableData.size() != kEntrySize) e.createWriteableData();
    out.writeBytes(e.writeableData);
  }
  writeableData = out.take();
}

uint32_t Ctts::getCompositionOffset() const {
  if (compositionOffsetTable.empty()) return 0;
  if (compositionOffsetTable[0].compositionOffset != 0 || compositionOffsetTable.size() < 2) {
    return compositionOffsetTable[0].compositionOffset;
  }
  return compositionOffsetTable[1].compositionOffset;
}
