#include "boxes/SampleToChunkEntery.h"

#include "boxes/ByteStream.h"

std::optional<SampleToChunkEntery> SampleToChunkEntery::initSTCEnteryWithBytes(const uint8_t* bytes, uint32_t size) {
  if (!bytes || size < 12) return std::nullopt;
  ByteStream in(bytes, size);
  SampleToChunkEntery e;
  e.firstChunk = in.readUI32();
  e.samplesPerChunk = in.readUI32();
  e.sampleDescID = in.readUI32();
  return e;
}

SampleToChunkEntery SampleToChunkEntery::initWithFirstChunk(uint32_t firstChunk, uint32_t samplePerChunk,
                                                            uint32_t andSampleDescID) {
  SampleToChunkEntery e;
  e.firstChunk = firstChunk;
  e.samplesPerChunk = samplePerChunk;
  e.sampleDescID = andSampleDescID;
  e.asignWritableData();
  return e;
}

void SampleToChunkEntery::asignWritableData() {
  ByteStream out;
  out.writeUI32(firstChunk);
  out.writeUI32(samplesPerChunk);
  out.writeUI32(sampleDescID);
  writeableData = out.take();
}
