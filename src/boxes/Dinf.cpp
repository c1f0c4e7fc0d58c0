#include "boxes/Dinf.h"

#include "boxes/ByteStream.h"

std::unique_ptr<Dinf> Dinf::initDINFWithBytes(const uint8_t* bytes, uint32_t size) {
  auto box = std::make_unique<Dinf>();
  box->readBytes(bytes, size);
  return box;
}

std::unique_ptr<Dinf> Dinf::initDINFWithDrefEnteryType(uint32_t entryType) {
  auto box = std::make_unique<Dinf>();
  box->type = 0x64696E66;  // "dinf"
  box->dref = Dref::initDREFWithDrefEnteryType(entryType);
  box->createWriteableData();
  return box;
}

void Dinf::readBytes(const uint8_t* bytes, uint32_t boxSize) {
  if (!bytes) return;
  ByteStream s(bytes, boxSize);
  size = s.readUI32();
  type = s.readUI32();
  // The one child is taken as the data reference box whatever its type says, as long as it
  // lies inside this box.
  const uint32_t childSize = s.readUI32();
  if (childSize >= 8 && 8ull + childSize <= boxSize) dref = Dref::initDREFWithBytes(bytes + 8, childSize);
}

void Dinf::createWriteableData() {
  ByteStream s;
  s.writeUI32(0);
  s.writeUI32(type);
  if (dref) s.writeBytes(dref->writeableData);
  size = static_cast<uint32_t>(s.data().size());
  s.patchUI32(0, size);
  writeableData = s.take();
}
