#include "boxes/Hdlr.h"

#include <algorithm>

#include "boxes/ByteStream.h"

std::unique_ptr<Hdlr> Hdlr::initHDLRWithBytes(const uint8_t* bytes, uint32_t size) {
  auto box = std::make_unique<Hdlr>();
  box->readBytes(bytes, size);
  return box;
}

std::unique_ptr<Hdlr> Hdlr::initHDLRWithComponentType(uint32_t componentType, uint32_t componentSubtype,
                                                      uint8_t handlerNameSize, const std::string& handlerName) {
  auto box = std::make_unique<Hdlr>();
  box->type = 0x68646C72;  // "hdlr"
  box->componentType = componentType;
  box->componentSubtype = componentSubtype;
  const size_t n = std::min<size_t>(handlerNameSize, handlerName.size());
  box->nameStringSize = static_cast<uint8_t>(n);
  box->handlerName = handlerName.substr(0, n);
  box->createWriteableData();
  return box;
}

void Hdlr::readBytes(const uint8_t* bytes, uint32_t boxSize) {
  if (!bytes) return;
  ByteStream s(bytes, boxSize);
  size = s.readUI32();
  type = s.readUI32();
  version_Flag = s.readUI32();
  componentType = s.readUI32();
  componentSubtype = s.readUI32();
  componentManufacturer = s.readUI32();
  componentFlags = s.readUI32();
  componentFlagsMask = s.readUI32();
  if (boxSize < 33) return;
  nameStringSize = s.readUI08();
  if (nameStringSize == 0) {
    name_CString = s.readUI08();
  } else if (33u + nameStringSize <= boxSize) {
    std::vector<uint8_t> name = s.readBytes(nameStringSize);
    handlerName.assign(name.begin(), name.end());
  }
}

void Hdlr::createWriteableData() {
  ByteStream s;
  s.writeUI32(0);
  s.writeUI32(type);
  s.writeUI32(version_Flag);
  s.writeUI32(componentType);
  s.writeUI32(componentSubtype);
  s.writeUI32(componentManufacturer);
  s.writeUI32(componentFlags);
  s.writeUI32(componentFlagsMask);
  // A counted name is written whole so that the size covers it; without one a single name
  // byte follows the zero count.
  const size_t n = std::min<size_t>(nameStringSize, handlerName.size());
  if (n == 0) {
    s.writeUI08(0);
    s.writeUI08(name_CString);
  } else {
    s.writeUI08(static_cast<uint8_t>(n));
    s.writeBytes(reinterpret_cast<const uint8_t*>(handlerName.data()), n);
  }
  size = static_cast<uint32_t>(s.data().size());
  s.patchUI32(0, size);
  writeableData = s.take();
}
