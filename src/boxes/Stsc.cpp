#include "boxes/Stsc.h"

#include "boxes/ByteStream.h"

namespace {
constexpr uint32_t kStsc = 0x73747363;  // "stsc"
constexpr uint32_t kHeaderSize = 16;
constexpr uint32_t kEntrySize = 12;
}  // namespace

std::unique_ptr<Stsc> Stsc::initSTSCWithBytes(const uint8_t* bytes, uint32_t size) {
  auto box = std::make_unique<Stsc>();
  if (bytes) box->readBytes(bytes, size);
  return box;
}

std::unique_ptr<Stsc> Stsc::initSTSCWithSampleToChunkTable(const std::vector<SampleToChunkEntery>& table) {
  auto box = std::make_unique<Stsc>();
  box->type = kStsc;
  box->SampleToChunkTable = table;
  box->asignWritableData();
  return box;
}

void Stsc::readBytes(const uint8_t* bytes, uint32_t size) {
  ByteStream in(bytes, size);
  this->size = in.readUI32();
  type = in.readUI32();
  version_Flag = in.readUI32();
  numberOfEntries = in.readUI32();
  uint64_t fit = in.remaining() / kEntrySize;
  uint64_t n = numberOfEntries < fit ? numberOfEntries : fit;
  SampleToChunkTable.reserve(n);
  for (uint64_t i = 0; i < n; ++i) {
    SampleToChunkTable.push_back(*SampleToChunkEntery::initSTCEnteryWithBytes(in.current(), kEntrySize));
    in.skip(kEntrySize);
  }
}

void Stsc::asignWritableData() {
  numberOfEntries = static_cast<uint32_t>(SampleToChunkTable.size());
  size = kHeaderSize + kEntrySize * numberOfEntries;
  ByteStream out;
  out.writeUI32(size);
  out.writeUI32(type);
  out.writeUI32(version_Flag);
  out.writeUI32(numberOfEntries);
  for (auto& e : SampleToChunkTable) {
    // Entries are regenerated as well: the engine may have changed a run's fields after
    // building it.
    e.asignWritableData();
    out.writeBytes(e.writeableData);
  }
  writeableData = out.take();
}
