#include "boxes/Stss.h"

#include "boxes/ByteStream.h"

namespace {
constexpr uint32_t kStss = 0x73747373;  // "stss"
constexpr uint32_t kHeaderSize = 16;
}  // namespace

std::unique_ptr<Stss> Stss::initSTSSWithBytes(const uint8_t* bytes, uint32_t size) {
  auto box = std::make_unique<Stss>();
  if (bytes) box->readBytes(bytes, size);
  return box;
}

std::unique_ptr<Stss> Stss::initSTSSWithSampleCount(uint32_t sampleCount, uint32_t andDifference) {
  const uint32_t n = sampleCount;
  const uint32_t d = andDifference;
  uint32_t count = 0;
  if (d == 0) {
    count = 0;
  } else if (n <= d) {
    count = d == 1 ? 1 : n / 2;
  } else {
    count = n / d - 1;
  }
  // The pattern can run past the last sample (a short track against a long reference
  // interval) or repeat sample 1 (interval 1); such numbers would make the table invalid, so
  // the pattern stops before the first of them.
  uint32_t valid = 0;
  if (n > 0 && d > 0) valid = d == 1 ? 1 : (n - 1) / (d - 1) + 1;
  if (count > valid) count = valid;
  auto box = std::make_unique<Stss>();
  box->type = kStss;
  box->syncSampleTable.resize(count);
  for (uint32_t i = 0; i < count; ++i) box->syncSampleTable[i] = 1 + i * (d - 1);
  box->createWriteableData();
  return box;
}

std::unique_ptr<Stss> Stss::initSTSSWithSyncSampleTable(const std::vector<uint32_t>& sampleNumbers) {
  auto box = std::make_unique<Stss>();
  box->type = kStss;
  box->syncSampleTable = sampleNumbers;
  box->createWriteableData();
  return box;
}

void Stss::readBytes(const uint8_t* bytes, uint32_t size) {
  ByteStream in(bytes, size);
  this->size = in.readUI32();
  type = in.readUI32();
  version_Flag = in.readUI32();
  numberOfEntries = in.readUI32();
  uint64_t fit = in.remaining() / 4;
  uint64_t n = numberOfEntries < fit ? numberOfEntries : fit;
  syncSampleTable.reserve(n);
  for (uint64_t i = 0; i < n; ++i) syncSampleTable.push_back(in.readUI32());
}

void Stss::createWriteableData() {
  numberOfEntries = static_cast<uint32_t>(syncSampleTable.size());
  size = kHeaderSize + 4 * numberOfEntries;
  ByteStream out;
  out.writeUI32(size);
  out.writeUI32(type);
  out.writeUI32(version_Flag);
  out.writeUI32(numberOfEntries);
  for (uint32_t number : syncSampleTable) out.writeUI32(number);
  writeableData = out.take();
}
