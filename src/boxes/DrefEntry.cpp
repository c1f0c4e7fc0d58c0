#include "boxes/DrefEntry.h"

#include "boxes/ByteStream.h"

std::unique_ptr<DrefEntry> DrefEntry::initDrefEnteryWithBytes(const uint8_t* bytes, uint32_t size) {
  auto entry = std::make_unique<DrefEntry>();
  entry->readBytes(bytes, size);
  return entry;
}

std::unique_ptr<DrefEntry> DrefEntry::initWithType(uint32_t entryType) {
  auto entry = std::make_unique<DrefEntry>();
  entry->size = 12;
  entry->type = entryType;
  entry->version_Flags = 1;
  entry->createWriteableData();
  return entry;
}

void DrefEntry::readBytes(const uint8_t* bytes, uint32_t boxSize) {
  if (!bytes) return;
  ByteStream s(bytes, boxSize);
  size = s.readUI32();
  type = s.readUI32();
  version_Flags = s.readUI32();
}

// Only the self-reference form is ever written: a bare full-box header.
void DrefEntry::createWriteableData() {
  ByteStream s;
  s.writeUI32(12);
  s.writeUI32(type);
  s.writeUI32(version_Flags);
  size = 12;
  writeableData = s.take();
}
