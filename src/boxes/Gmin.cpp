#include "boxes/Gmin.h"

#include "boxes/ByteStream.h"

std::unique_ptr<Gmin> Gmin::initGMINWithBytes(const uint8_t* bytes, uint32_t size) {
  auto box = std::make_unique<Gmin>();
  box->readBytes(bytes, size);
  return box;
}

void Gmin::readBytes(const uint8_t* bytes, uint32_t boxSize) {
  if (!bytes) return;
  ByteStream s(bytes, boxSize);
  size = s.readUI32();
  type = s.readUI32();
  version_Flag = s.readUI32();
  graphicsMode = s.readUI16();
  opColor_R = s.readUI16();
  opColor_G = s.readUI16();
  opColor_B = s.readUI16();
  balance = s.readUI16();
  reserved = s.readUI16();
}
