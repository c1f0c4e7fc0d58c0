#include "boxes/Dref.h"

#include "boxes/ByteStream.h"
#include "foundation/ByteOrder.h"

std::unique_ptr<Dref> Dref::initDREFWithBytes(const uint8_t* bytes, uint32_t size) {
  auto box = std::make_unique<Dref>();
  box->readBytes(bytes, size);
  return box;
}

std::unique_ptr<Dref> Dref::initDREFWithDrefEnteryType(uint32_t entryType) {
  auto box = std::make_unique<Dref>();
  box->type = 0x64726566;  // "dref"
  box->entries.push_back(DrefEntry::initWithType(entryType));
  box->numberOfEntries = 1;
  box->createWriteableData();
  return box;
}

void Dref::readBytes(const uint8_t* bytes, uint32_t boxSize) {
  if (!bytes) return;
  ByteStream s(bytes, boxSize);
  size = s.readUI32();
  type = s.readUI32();
  version_Flag = s.readUI32();
  numberOfEntries = s.readUI32();
  uint64_t p = 16;
  for (uint32_t i = 0; i < numberOfEntries; ++i) {
    if (p + 8 > boxSize) break;
    const uint32_t entrySize = qvr::readBE32(bytes + p);
    // An entry that does not fit (or is too short to be one) would be looked at again by every
    // later repetition without result, so the walk ends there instead of spinning through a
    // count that may run to billions.
    if (entrySize < 8 || p + entrySize > boxSize) break;
    entries.push_back(DrefEntry::initDrefEnteryWithBytes(bytes + p, entrySize));
    p += entrySize;
  }
}

void Dref::createWriteableData() {
  ByteStream s;
  s.writeUI32(0);
  s.writeUI32(type);
  s.writeUI32(version_Flag);
  s.writeUI32(static_cast<uint32_t>(entries.size()));
  for (const auto& entry : entries) s.writeBytes(entry->writeableData);
  numberOfEntries = static_cast<uint32_t>(entries.size());
  size = static_cast<uint32_t>(s.data().size());
  s.patchUI32(0, size);
  writeableData = s.take();
}
