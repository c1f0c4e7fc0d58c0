#include "boxes/Ftyp.h"

#include <algorithm>

#include "foundation/ByteOrder.h"

std::unique_ptr<Ftyp> Ftyp::initFtypWithBytes(const uint8_t* bytes, uint32_t length) {
  auto box = std::make_unique<Ftyp>();
  box->readBytes(bytes, length);
  return box;
}

void Ftyp::readBytes(const uint8_t* bytes, uint32_t length) {
  if (!bytes || length < 8) return;
  size = qvr::readBE32(bytes);
  type = qvr::readBE32(bytes + 4);
  // Brands are matched at every byte offset, not only on 4-byte slots, and never past the
  // bytes given even when the declared size claims more.
  const uint64_t end = std::min(size, length);
  for (uint64_t p = 8; p + 4 <= end && !manufacture; ++p) {
    switch (qvr::readBE32(bytes + p)) {
      case 0x43414550:  // "CAEP"
        manufacture = "Canon";
        break;
      case 0x4D534E56:  // "MSNV"
      case 0x58415643:  // "XAVC"
        manufacture = "Sony";
        break;
      case 0x70616E61:  // "pana"
        manufacture = "Panasonic";
        break;
      default:
        break;
    }
  }
}
