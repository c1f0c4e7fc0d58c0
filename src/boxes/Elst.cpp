#include "boxes/Elst.h"

#include "boxes/ByteStream.h"

std::unique_ptr<Elst> Elst::initELSTWithBytes(const uint8_t* bytes, uint32_t size) {
  auto box = std::make_unique<Elst>();
  box->readBytes(bytes, size);
  return box;
}

std::unique_ptr<Elst> Elst::initELSTWithEditListTable(std::vector<std::unique_ptr<EditListEntery>> table) {
  auto box = std::make_unique<Elst>();
  box->type = 0x656C7374;  // "elst"
  box->editListTable = std::move(table);
  box->numberOfEntries = static_cast<uint32_t>(box->editListTable.size());
  box->createWriteableData();
  return box;
}

void Elst::readBytes(const uint8_t* bytes, uint32_t boxSize) {
  if (!bytes) return;
  ByteStream s(bytes, boxSize);
  size = s.readUI32();
  type = s.readUI32();
  version_Flag = s.readUI32();
  numberOfEntries = s.readUI32();
  const bool v1 = (version_Flag >> 24) == 1;
  const uint64_t entrySize = v1 ? 20 : 12;
  // Only complete entries inside the box are read; the count in the header is not trusted.
  for (uint64_t i = 0, p = 16; i < numberOfEntries && p + entrySize <= boxSize; ++i, p += entrySize) {
    auto entry = std::make_unique<EditListEntery>();
    ByteStream e(bytes + p, entrySize);
    // Version 1 stores 64-bit segment duration and media time; our fields keep the low words.
    entry->trackDuration = static_cast<uint32_t>(v1 ? e.readUI64() : e.readUI32());
    entry->mediaTime = static_cast<uint32_t>(v1 ? e.readUI64() : e.readUI32());
    entry->mediaRate = e.readUI32() >> 16;
    editListTable.push_back(std::move(entry));
  }
}

void Elst::createWriteableData() {
  ByteStream s;
  s.writeUI32(static_cast<uint32_t>(16 + 12 * editListTable.size()));
  s.writeUI32(type);
  s.writeUI32(0);  // always written as version 0
  s.writeUI32(static_cast<uint32_t>(editListTable.size()));
  for (const auto& entry : editListTable) {
    s.writeUI32(entry->trackDuration);
    s.writeUI32(entry->mediaTime);
    s.writeUI32(entry->mediaRate);
  }
  version_Flag = 0;
  numberOfEntries = static_cast<uint32_t>(editListTable.size());
  size = static_cast<uint32_t>(s.data().size());
  writeableData = s.take();
}
