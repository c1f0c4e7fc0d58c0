#include "boxes/Mvhd.h"

#include "boxes/ByteStream.h"

std::unique_ptr<Mvhd> Mvhd::initMVHDWithBytes(const uint8_t* bytes, uint32_t size) {
  auto box = std::make_unique<Mvhd>();
  box->readBytes(bytes, size);
  return box;
}

// Reading and writing walk the same fields in the same order; only the time fields change
// width with the version.
void Mvhd::readBytes(const uint8_t* bytes, uint32_t boxSize) {
  if (!bytes) return;
  ByteStream s(bytes, boxSize);
  size = s.readUI32();
  type = s.readUI32();
  version_Flag = s.readUI32();
  const bool v1 = isVersion1();
  creationTime = v1 ? s.readUI64() : s.readUI32();
  modificationTime = v1 ? s.readUI64() : s.readUI32();
  timescale = s.readUI32();
  duration = v1 ? s.readUI64() : s.readUI32();
  prefferedRate = s.readUI32();
  preferredVolume = s.readUI16();
  reserved1 = s.readUI16();
  reserved2 = s.readUI64();
  matrix_A = s.readUI32();
  matrix_B = s.readUI32();
  matrix_U = s.readUI32();
  matrix_C = s.readUI32();
  matrix_D = s.readUI32();
  matrix_V = s.readUI32();
  matrix_X = s.readUI32();
  matrix_Y = s.readUI32();
  matrix_W = s.readUI32();
  previewTime = s.readUI32();
  previewDuration = s.readUI32();
  posterTime = s.readUI32();
  selectionTime = s.readUI32();
  selectionDuration = s.readUI32();
  currentTime = s.readUI32();
  nextTrackID = s.readUI32();
}

void Mvhd::createWriteableData() {
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
  s.writeUI32(timescale);
  if (v1)
    s.writeUI64(duration);
  else
    s.writeUI32(static_cast<uint32_t>(duration));
  s.writeUI32(prefferedRate);
  s.writeUI16(preferredVolume);
  s.writeUI16(reserved1);
  s.writeUI64(reserved2);
  s.writeUI32(matrix_A);
  s.writeUI32(matrix_B);
  s.writeUI32(matrix_U);
  s.writeUI32(matrix_C);
  s.writeUI32(matrix_D);
  s.writeUI32(matrix_V);
  s.writeUI32(matrix_X);
  s.writeUI32(matrix_Y);
  s.writeUI32(matrix_W);
  s.writeUI32(previewTime);
  s.writeUI32(previewDuration);
  s.writeUI32(posterTime);
  s.writeUI32(selectionTime);
  s.writeUI32(selectionDuration);
  s.writeUI32(currentTime);
  s.writeUI32(nextTrackID);
  // The written length is the box's size, whatever the parsed box declared: the movie box
  // counts this header by its size.
  size = static_cast<uint32_t>(s.data().size());
  s.patchUI32(0, size);
  writeableData = s.take();
}

void Mvhd::setDuration(uint64_t newDuration) {
  duration = newDuration;
  createWriteableData();
}
