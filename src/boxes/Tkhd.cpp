#include "boxes/Tkhd.h"

#include "boxes/ByteStream.h"

std::unique_ptr<Tkhd> Tkhd::initTKHDWithBytes(const uint8_t* bytes, uint32_t size) {
  auto box = std::make_unique<Tkhd>();
  box->readBytes(bytes, size);
  return box;
}

void Tkhd::readBytes(const uint8_t* bytes, uint32_t boxSize) {
  if (!bytes) return;
  ByteStream s(bytes, boxSize);
  size = s.readUI32();
  type = s.readUI32();
  version_Flag = s.readUI32();
  const bool v1 = isVersion1();
  creationTime = v1 ? s.readUI64() : s.readUI32();
  modificationTime = v1 ? s.readUI64() : s.readUI32();
  trackID = s.readUI32();
  reserved1 = s.readUI32();
  duration = v1 ? s.readUI64() : s.readUI32();
  reserved2 = s.readUI64();
  layer = s.readUI16();
  alternateGroup = s.readUI16();
  volume = s.readUI16();
  resreved3 = s.readUI16();
  matrix_A = s.readUI32();
  matrix_B = s.readUI32();
  matrix_U = s.readUI32();
  matrix_C = s.readUI32();
  matrix_D = s.readUI32();
  matrix_V = s.readUI32();
  matrix_X = s.readUI32();
  matrix_Y = s.readUI32();
  matrix_W = s.readUI32();
  trackWidth = s.readUI32();
  trackHeight = s.readUI32();
}

void Tkhd::createWriteableData() {
  ByteStream s;
  const bool v1 = isVersion1();
  s.writeUI32(0);  // size, patched below
  s.writeUI32(type);
  s.writeUI32(version_Flag);
  if (v1) {
    s.writeUI64(creationTime);
    s.writeUI64(modificationTime);
  } else {
    s.writeUI32(static_cast<uint32_t>(creationTime));
    s.writeUI32(static_cast<uint32_t>(modificationTime));
  }
  s.writeUI32(trackID);
  s.writeUI32(reserved1);
  if (v1)
    s.writeUI64(duration);
  else
    s.writeUI32(static_cast<uint32_t>(duration));
  s.writeUI64(reserved2);
  s.writeUI16(layer);
  s.writeUI16(alternateGroup);
  s.writeUI16(volume);
  s.writeUI16(resreved3);
  s.writeUI32(matrix_A);
  s.writeUI32(matrix_B);
  s.writeUI32(matrix_U);
  s.writeUI32(matrix_C);
  s.writeUI32(matrix_D);
  s.writeUI32(matrix_V);
  s.writeUI32(matrix_X);
  s.writeUI32(matrix_Y);
  s.writeUI32(matrix_W);
  s.writeUI32(trackWidth);
  s.writeUI32(trackHeight);
  // The track counts this header by its size, so the size is what was written.
  size = static_cast<uint32_t>(s.data().size());
  s.patchUI32(0, size);
  writeableData = s.take();
}

void Tkhd::setDuration(uint64_t newDuration) {
  duration = newDuration;
  createWriteableData();
}
