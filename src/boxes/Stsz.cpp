#include "boxes/Stsz.h"

#include "boxes/ByteStream.h"

namespace {
constexpr uint32_t kStsz = 0x7374737A;  // "stsz"
constexpr uint32_t kHeaderSize = 20;
}  // namespace

std::unique_ptr<Stsz> Stsz::initSTSZWithBytes(const uint8_t* bytes, uint32_t size) {
  auto box = std::make_unique<Stsz>();
  if (bytes) box->readBytes(bytes, size);
  return box;
}

std::unique_ptr<Stsz> Stsz::initSTSZWithSampleSizeTable(const std::vector<uint32_t>& table) {
  auto box = std::make_unique<Stsz>();
  box->type = kStsz;
  box->SampleSizeTable = table;
  box->createWriteableData();
  return box;
}

std::unique_ptr<Stsz> Stsz::initSTSZWithSampleCount(uint32_t sampleCount, uint32_t andSampleSize) {
  auto box = std::make_unique<Stsz>();
  box->type = kStsz;
  box->sampleSize = andSampleSize;
  box->numberOfEntries = sampleCount;
  box->createWriteableData();
  return box;
}

void Stsz::readBytes(const uint8_t* bytes, uint32_t size) {
  ByteStream in(bytes, size);
  this->size = in.readUI32();
  type = in.readUI32();
  version_Flag = in.readUI32();
  sampleSize = in.readUI32();
  numberOfEntries = in.readUI32();
  uint64_t fit = in.remaining() / 4;
  uint64_t n = numberOfEntries < fit ? numberOfEntries : fit;
  SampleSizeTable.reserve(n);
  for (uint64_t i = 0; i < n; ++i) SampleSizeTable.push_back(in.readUI32());
}

void Stsz::createWriteableData() {
  // A constant size and a 0 written as "sizes follow" with a table shorter than the count would
  // both leave readers looking for sizes that are not there; the count follows the table.
  if (sampleSize == 0) numberOfEntries = static_cast<uint32_t>(SampleSizeTable.size());
  size = kHeaderSize + (sampleSize == 0 ? 4 * numberOfEntries : 0);
  ByteStream out;
  out.writeUI32(size);
  out.writeUI32(type);
  out.writeUI32(version_Flag);
  out.writeUI32(sampleSize);
  out.writeUI32(numberOfEntries);
  if (sampleSize == 0) {
    for (uint32_t s : SampleSizeTable) out.writeUI32(s);
  }
  writeableData = out.take();
}
