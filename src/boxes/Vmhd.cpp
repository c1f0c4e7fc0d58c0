#include "boxes/Vmhd.h"

#include "boxes/ByteStream.h"

std::unique_ptr<Vmhd> Vmhd::initVMHDWithBytes(const uint8_t* bytes, uint32_t size) {
  auto box = std::make_unique<Vmhd>();
  box->readBytes(bytes, size);
  return box;
}

std::unique_ptr<Vmhd> Vmhd::init() {
  auto box = std::make_unique<Vmhd>();
  box->type = 0x766D6864;  // "vmhd"
  box->version_Flag = 1;   // players expect this flag set on video media headers
  box->createWriteableData();
  return box;
}

void Vmhd::readBytes(const uint8_t* bytes, uint32_t boxSize) {
  if (!bytes) return;
  ByteStream s(bytes, boxSize);
  size = s.readUI32();
  type = s.readUI32();
  version_Flag = s.readUI32();
  graphicsMode = s.readUI16();
  opColor_R = s.readUI16();
  opColor_G = s.readUI16();
  opColor_B = s.readUI16();
}

void Vmhd::createWriteableData() {
  ByteStream s;
  s.writeUI32(20);
  s.writeUI32(type);
  s.writeUI32(version_Flag);
  s.writeUI16(graphicsMode);
  s.writeUI16(opColor_R);
  s.writeUI16(opColor_G);
  s.writeUI16(opColor_B);
  size = 20;
  writeableData = s.take();
}
