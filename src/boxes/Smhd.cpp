#include "boxes/Smhd.h"

#include "boxes/ByteStream.h"

std::unique_ptr<Smhd> Smhd::initSMHDWithBytes(const uint8_t* bytes, uint32_t size) {
  auto box = std::make_unique<Smhd>();
  box->readBytes(bytes, size);
  return box;
}

std::unique_ptr<Smhd> Smhd::init() {
  auto box = std::make_unique<Smhd>();
  box->type = 0x736D6864;  // "smhd"
  box->createWriteableData();
  return box;
}

void Smhd::readBytes(const uint8_t* bytes, uint32_t boxSize) {
  if (!bytes) return;
  ByteStream s(bytes, boxSize);
  size = s.readUI32();
  type = s.readUI32();
  version_Flag = s.readUI32();
  balance = s.readUI16();
  reserved = s.readUI16();
}

void Smhd::createWriteableData() {
  ByteStream s;
  s.writeUI32(16);
  s.writeUI32(type);
  s.writeUI32(version_Flag);
  s.writeUI16(balance);
  s.writeUI16(reserved);
  size = 16;
  writeableData = s.take();
}
