#include "boxes/TimeToSampleEntery.h"

#include "boxes/ByteStream.h"

std::optional<TimeToSampleEntery> TimeToSampleEntery::initTTSEnteryWithBytes(const uint8_t* bytes, uint32_t size) {
  if (!bytes || size < 8) return std::nullopt;
  ByteStream in(bytes, size);
  TimeToSampleEntery e;
  e.sampleCount = in.readUI32();
  e.sampleDuration = in.readUI32();
  return e;
}

TimeToSampleEntery TimeToSampleEntery::initTTSEnteryWithSampleCount(uint32_t sampleCount, uint32_t andSampleDuration) {
  TimeToSampleEntery e;
  e.sampleCount = sampleCount;
  e.sampleDuration = andSampleDuration;
  e.createWriteableData();
  return e;
}

void TimeToSampleEntery::createWriteableData() {
  ByteStream out;
  out.writeUI32(sampleCount);
  out.writeUI32(sampleDuration);
  writeableData = out.take();
}
