#include "boxes/Gmhd.h"

#include "boxes/ByteStream.h"

std::unique_ptr<Gmhd> Gmhd::initGMHDWithBytes(const uint8_t* bytes, uint32_t size) {
  auto box = std::make_unique<Gmhd>();
  box->readBytes(bytes, size);
  return box;
}

void Gmhd::readBytes(const uint8_t* bytes, uint32_t boxSize) {
  if (!bytes) return;
  ByteStream s(bytes, boxSize);
  size = s.readUI32();
  type = s.readUI32();
}
