#include "boxes/Stts.h"

#include "boxes/ByteStream.h"

namespace {
constexpr uint32_t kStts = 0x73747473;  // "stts"
constexpr uint32_t kHeaderSize = 16;
constexpr uint32_t kEntrySize = 8;
}  // namespace

std::unique_ptr<Stts> Stts::initSTTSWithBytes(const uint8_t* bytes, uint32_t size) {
  auto box = std::make_unique<Stts>();
  if (bytes) box->readBytes(bytes, size);
  return box;
}

std::unique_ptr<Stts> Stts::initSTTSWithSampleCount(uint32_t sampleCount, uint32_t andSampleDuration) {
  auto box = std::make_unique<Stts>();
  box->type = kStts;
  box->entries.push_back(TimeToSampleEntery::initTTSEnteryWithSampleCount(sampleCount, andSampleDuration));
  box->createWriteableData();
  return box;
}

void Stts::readBytes(const uint8_t* bytes, uint32_t size) {
  ByteStream in(bytes, size);
  this->size = in.readUI32();
  type = in.readUI32();
  version_Flag = in.readUI32();
  numberOfEntries = in.readUI32();
  // Only whole entries inside the box count, however many the header claims.
  uint64_t fit = in.remaining() / kEntrySize;
  uint64_t n = numberOfEntries < fit ? numberOfEntries : fit;
  entries.reserve(n);
  for (uint64_t i = 0; i < n; ++i) {
    entries.push_back(*TimeToSampleEntery::initTTSEnteryWithBytes(in.current(), kEntrySize));
    in.skip(kEntrySize);
  }
}

void Stts::createWriteableData() {
  numberOfEntries = static_cast<uint32_t>(entries.size());
  size = kHeaderSize + kEntrySize * numberOfEntries;
  ByteStream out;
  out.writeUI32(size);
  out.writeUI32(type);
  out.writeUI32(version_Flag);
  out.writeUI32(numberOfEntries);
  for (auto& e : entries) {
    if (e.writeableData.size() != kEntrySize) e.createWriteableData();
    out.writeBytes(e.writeableData);
  }
  writeableData = out.take();
}

uint32_t Stts::getOneSampleDuration() const { return entries.empty() ? 0 : entries.front().sampleDuration; }
