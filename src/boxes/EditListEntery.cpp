#include "boxes/EditListEntery.h"

#include "boxes/ByteStream.h"

std::unique_ptr<EditListEntery> EditListEntery::initELEnteryWithBytes(const uint8_t* bytes, uint32_t size) {
  auto entry = std::make_unique<EditListEntery>();
  entry->readBytes(bytes, size);
  return entry;
}

std::unique_ptr<EditListEntery> EditListEntery::initWithTrackDuration(uint32_t trackDuration, uint32_t mediaTime,
                                                                      uint32_t mediaRate) {
  auto entry = std::make_unique<EditListEntery>();
  entry->trackDuration = trackDuration;
  entry->mediaTime = mediaTime;
  entry->mediaRate = mediaRate << 16;
  return entry;
}

void EditListEntery::readBytes(const uint8_t* bytes, uint32_t size) {
  if (!bytes) return;
  ByteStream s(bytes, size);
  trackDuration = s.readUI32();
  mediaTime = s.readUI32();
  mediaRate = s.readUI32() >> 16;
}
