#include "boxes/CompositionOffsetEntery.h"

#include "boxes/ByteStream.h"

std::optional<CompositionOffsetEntery> CompositionOffsetEntery::initCOEnteryWithBytes(const uint8_t* bytes,
                                                                                      uint32_t size) {
  if (!bytes || size < 8) return std::nullopt;
  ByteStream in(bytes, size);
  CompositionOffsetEntery e;
  e.sampleCount = in.readUI32();
  e.compositionOffset = in.readUI32();
  // A parsed composition table can be written back unchanged, so its records are ready at once.
  e.createWriteableData();
  return e;
}

CompositionOffsetEntery CompositionOffsetEntery::initCOEnteryWithSampleCount(uint32_t sampleCount,
                                                                             uint32_t andCompositionOffset) {
  CompositionOffsetEntery e;
  e.sampleCount = sampleCount;
  e.compositionOffset = andCompositionOffset;
  e.createWriteableData();
  return e;
}

void CompositionOffsetEntery::createWriteableData() {
  ByteStream out;
  out.writeUI32(sampleCount);
  out.writeUI32(compositionOffset);
  writeableData = out.take();
}
