#include "boxes/Edts.h"

#include "boxes/ByteStream.h"

std::unique_ptr<Edts> Edts::initEDTSWithBytes(const uint8_t* bytes, uint32_t size) {
  auto box = std::make_unique<Edts>();
  box->readBytes(bytes, size);
  return box;
}

std::unique_ptr<Edts> Edts::initWDTSWithDuration(uint32_t duration, uint32_t delta) {
  auto box = std::make_unique<Edts>();
  box->type = 0x65647473;  // "edts"
  std::vector<std::unique_ptr<EditListEntery>> table;
  table.push_back(EditListEntery::initWithTrackDuration(duration, delta, 1));
  box->elst = Elst::initELSTWithEditListTable(std::move(table));
  box->createWriteableData();
  return box;
}

void Edts::readBytes(const uint8_t* bytes, uint32_t boxSize) {
  if (!bytes) return;
  ByteStream s(bytes, boxSize);
  size = s.readUI32();
  type = s.readUI32();
  // The one child is taken as the edit list whatever its type says, if it lies inside the box.
  const uint32_t childSize = s.readUI32();
  if (childSize >= 8 && 8ull + childSize <= boxSize) elst = Elst::initELSTWithBytes(bytes + 8, childSize);
}

void Edts::createWriteableData() {
  ByteStream s;
  s.writeUI32(0);
  s.writeUI32(type);
  if (elst) s.writeBytes(elst->writeableData);
  size = static_cast<uint32_t>(s.data().size());
  s.patchUI32(0, size);
  writeableData = s.take();
}
