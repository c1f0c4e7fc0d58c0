#include "boxes/Mdhd.h"

#include "boxes/ByteStream.h"

std::unique_ptr<Mdhd> Mdhd::initMDHDWithBytes(const uint8_t* bytes, uint32_t size) {
  auto box = std::make_unique<Mdhd>();
  box->readBytes(bytes, size);
  return box;
}

std::unique_ptr<Mdhd> Mdhd::initMDHDWithDuration(uint32_t duration, uint32_t timeScale, uint16_t language,
                                                 uint16_t quality) {
  auto box = std::make_unique<Mdhd>();
  box->type = 0x6D646864;  // "mdhd"
  box->timescale = timeScale;
  box->duration = duration;
  box->language = language;
  box->quality = quality;
  box->createWriteableData();
  return box;
}

void Mdhd::readBytes(const uint8_t* bytes, uint32_t boxSize) {
  if (!bytes) return;
  ByteStream s(bytes, boxSize);
  size = s.readUI32();
  type = s.readUI32();
  version_Flag = s.readUI32();
  const bool v1 = isVersion1();
  creationTime = v1 ? s.readUI64() : s.readUI32();
  modificationTime = v1 ? s.readUI64() : s.readUI32();
  timescale = s.readUI32();
  duration = v1 ? s.readUI64() : s.readUI32();
  language = s.readUI16();
  quality = s.readUI16();
}

void Mdhd::createWriteableData() {
  ByteStream s;
  const bool v1 = isVersion1();
  s.writeUI32(0);
  s.writeUI32(type);
  s.writeUI32(version_Flag);
  if (v1) {
    s.writeUI64(creationTime);
    s.writeUI64(modificationTime);
  } else {
    s.writeUI32(static_cast<uint32_t>(creationTime));
    s.writeUI32(static_cast<uint32_t>(modificationTime));
  }
  s.writeUI32(timescale);
  if (v1)
    s.writeUI64(duration);
  else
    s.writeUI32(static_cast<uint32_t>(duration));
  s.writeUI16(language);
  s.writeUI16(quality);
  size = static_cast<uint32_t>(s.data().size());
  s.patchUI32(0, size);
  writeableData = s.take();
}
